// The search screen's controls, its load and its folder browser handlers.

#include "frm_q2toqf.h"

#include "shell/platform.h"

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

FrmQ2toQf::FrmQ2toQf()
    : Screen(QStringLiteral("frmQ2toQf"), QStringLiteral("Convert Quake2 Paks to Q3 Paks"), 8505,
             2940) {
    buildControls();
    Form_Load();
}

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
    Frame1 = new QGroupBox(QStringLiteral("Frame1"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Drvlist = new DriveListBox(Frame1, QStringLiteral("Drvlist"));
    dirList = new DirListBox(Frame1, QStringLiteral("dirList"), Drvlist->roots());
    filList = new FileListBox(Frame1, QStringLiteral("filList"));

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
    placeTwips(dirList, 120, 240, 5655, 2115);
    placeTwips(filList, 6000, 720, 2655, 1650);
    placeTwips(Drvlist, 6000, 240, 2655, 315);

    Command1->setVisible(false);
    Command2->setVisible(false);
    Frame1->setVisible(false);
    cmdNext->setEnabled(false);
    corvane::setTabOrder({Command1, Command2, cmdSearch, lstFoundFileq2, lstFoundFileq3, lbldir,
                          cmdNext, Frame1, dirList, filList, Drvlist, lblq2, lblq3});

    connect(cmdSearch, &QPushButton::clicked, this,
            [this] { guarded([this] { cmdSearch_Click(); }); });
    connect(cmdNext, &QPushButton::clicked, this, [this] { guarded([this] { cmdNext_Click(); }); });
    Drvlist->setChangeHandler([this] { Drvlist_Change(); });
    dirList->setChangeHandler([this] { dirList_Change(); });

    // The browser starts where the program was started, on that folder's drive.
    const QString startFolder = CurDir();
    Drvlist->startOn(startFolder);
    dirList->setPath(startFolder);
}

void FrmQ2toQf::Form_Load() {
    Quake2ExeName = QStringLiteral("quake2.exe");
    Quake3ExeName = QStringLiteral("quake3.exe");
    GoToDriveRoot();
    lbldir->setCaption(QStringLiteral(
        "Click the Auto Search button to begin searching for Quake2 and Quake3 game directories"));
}

void FrmQ2toQf::GoToDriveRoot() {
    // One level per step: entry -2 is the parent of the open folder.
    while (!dirList->isDriveRoot(dirList->Path()))
        dirList->setPath(dirList->List(dirList->ListIndex() - 1));
}

void FrmQ2toQf::Drvlist_Change() {
    try {
        dirList->setPath(Drvlist->Drive());
    } catch (const RuntimeError&) {
        // Back to the drive the folder list is still on, without a message.
        Drvlist->setDrive(dirList->Path());
    }
}

void FrmQ2toQf::dirList_Change() {
    filList->setPath(dirList->Path());
}

} // namespace corvane
