#include "ui/frm_q2toqf.h"

namespace corvane {

namespace {

CaptionLabel* label(QWidget* parent, const QString& name, const QString& caption) {
    auto* control = new CaptionLabel(parent, name);
    control->setCaption(caption);
    return control;
}

QListWidget* listBox(QWidget* parent, const QString& name, CaptionLabel* heading) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setSortingEnabled(false);
    // Screen readers name the list after the label above it.
    list->setAccessibleName(heading->caption());
    heading->setBuddy(list);
    return list;
}

} // namespace

FrmQ2toQf::FrmQ2toQf(Services& services, GamePaths& paths)
    : Screen(services, QStringLiteral("frmQ2toQf"),
             QStringLiteral("Convert Quake2 Paks to Q3 Paks"), 8505, 2940) {
    buildControls();
    m_search = std::make_unique<InstallationSearch>(services, paths, *this);
}

FrmQ2toQf::~FrmQ2toQf() = default;

void FrmQ2toQf::buildControls() {
    lblq2 = label(this, QStringLiteral("lblq2"), QStringLiteral("Quake 2 directories found"));
    lstFoundFileq2 = listBox(this, QStringLiteral("lstFoundFileq2"), lblq2);
    Command1 = makeCommandButton(this, QStringLiteral("Command1"), QStringLiteral("..."));
    lblq3 = label(this, QStringLiteral("lblq3"), QStringLiteral("Quak3 directories found"));
    lstFoundFileq3 = listBox(this, QStringLiteral("lstFoundFileq3"), lblq3);
    Command2 = makeCommandButton(this, QStringLiteral("Command2"), QStringLiteral("..."));
    lbldir = label(this, QStringLiteral("lbldir"), QString());
    cmdSearch = makeCommandButton(this, QStringLiteral("cmdSearch"), QStringLiteral("Auto Search"));
    cmdNext = makeCommandButton(this, QStringLiteral("cmdNext"), QStringLiteral("Next"));
    // The folder browser the search walks with has nothing to show: its frame stays hidden.
    Frame1 = new QGroupBox(QStringLiteral("Frame1"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));

    placeTwips(lblq2, 120, 840, 8175, 255);
    placeTwips(lstFoundFileq2, 120, 1080, 8175, 450);
    placeTwips(Command1, 8520, 1080, 375, 495);
    placeTwips(lblq3, 120, 1560, 8175, 255);
    placeTwips(lstFoundFileq3, 120, 1800, 8175, 450);
    placeTwips(Command2, 8520, 1800, 375, 495);
    placeTwips(lbldir, 0, 120, 8895, 615);
    placeTwips(cmdSearch, 120, 2400, 3255, 375);
    placeTwips(cmdNext, 4800, 2400, 3495, 375);
    placeTwips(Frame1, 120, 3000, 8775, 2535);

    Command1->setVisible(false);
    Command2->setVisible(false);
    Frame1->setVisible(false);
    cmdNext->setEnabled(false);
    corvane::setTabOrder({Command1, Command2, cmdSearch, lstFoundFileq2, lstFoundFileq3, lbldir,
                          cmdNext, Frame1, lblq2, lblq3});

    connect(cmdSearch, &QPushButton::clicked, this,
            [this] { handle([this] { cmdSearch_Click(); }); });
    connect(cmdNext, &QPushButton::clicked, this, [this] { handle([this] { cmdNext_Click(); }); });
}

void FrmQ2toQf::folderFound(Game game, const QString& folder) {
    (game == Game::Quake2 ? lstFoundFileq2 : lstFoundFileq3)->addItem(folder);
}

} // namespace corvane
