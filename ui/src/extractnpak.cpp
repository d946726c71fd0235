#include "ui/extractnpak.h"

#include "platform/game_paths.h"
#include "platform/services.h"
#include "platform/stop_signals.h"
#include "ui/notice_boxes.h"

#include <QCloseEvent>

namespace corvane {

Extractnpak::Extractnpak(Services& services, const GamePaths& paths)
    : Screen(services, QStringLiteral("extractnpak"),
             QStringLiteral("Extracting and Packing, Click continue now to start"), 6240, 2745),
      m_paths(paths), m_conversion(services.programFolder(), paths, *this) {
    Label1 = new CaptionLabel(this, QStringLiteral("Label1"));
    lblq2path = new CaptionLabel(this, QStringLiteral("lblq2path"));
    lblq3path = new CaptionLabel(this, QStringLiteral("lblq3path"));
    OKButton = makeCommandButton(this, QStringLiteral("OKButton"), QStringLiteral("Continue"));
    Command1 = makeCommandButton(this, QStringLiteral("Command1"), QStringLiteral("Command1"));
    CancelButton = makeCommandButton(this, QStringLiteral("CancelButton"), QStringLiteral("Exit"));

    placeTwips(Label1, 240, 120, 5895, 1095);
    placeTwips(lblq2path, 240, 1440, 5895, 255);
    placeTwips(lblq3path, 240, 1800, 5895, 255);
    placeTwips(OKButton, 120, 2280, 1215, 375);
    placeTwips(Command1, 2400, 2160, 1215, 495);
    placeTwips(CancelButton, 4920, 2280, 1215, 375);
    Command1->setVisible(false);
    corvane::setTabOrder({OKButton, CancelButton, Label1, Command1, lblq2path, lblq3path});

    connect(OKButton, &QPushButton::clicked, this,
            [this] { handle([this] { OKButton_Click(); }); });
    connect(Command1, &QPushButton::clicked, this,
            [this] { handle([this] { Command1_Click(); }); });
    connect(CancelButton, &QPushButton::clicked, this,
            [this] { handle([this] { CancelButton_Click(); }); });
    Form_Load();
}

void Extractnpak::Form_Load() {
    Label1->setCaption(
        QStringLiteral("Time to unpak and repak. This may take a bit of time and needs a ") +
        QStringLiteral("bit of hard drive space to uncompress and repak to pk3 files. ") +
        QStringLiteral("Click the OK button when ready!"));
}

void Extractnpak::Form_Activate() {
    lblq2path->setCaption(m_paths.quake2);
    lblq3path->setCaption(m_paths.quake3);
}

void Extractnpak::OKButton_Click() {
    const Outcome outcome = m_conversion.run();
    m_services.End(outcome == Outcome::Interrupted ? stopExitStatus() : 0);
}

void Extractnpak::notice(const Notice& notice) {
    for (const NoticeBox& box : boxesFor(notice))
        m_services.MsgBox(box.prompt, kOkOnly, box.title);
}

void Extractnpak::passStarted() {
    m_services.DoEvents();
}

void Extractnpak::CancelButton_Click() {
    m_services.End();
}

bool Extractnpak::event(QEvent* event) {
    // Shown or activated: the screen has become the program's active screen.
    if (event->type() == QEvent::Show || event->type() == QEvent::WindowActivate)
        handle([this] { Form_Activate(); });
    return Screen::event(event);
}

void Extractnpak::closeEvent(QCloseEvent* event) {
    // While the conversion runs the screen is disabled, its close button included.
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    Screen::closeEvent(event);
}

} // namespace corvane
