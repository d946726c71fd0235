// The wizard as a user meets it, through the real windows: the demo sandbox from the
// disclaimer to the archives in qfbastion, every way out, the windows that cannot be closed
// while work runs, and the program's arguments.

#include "app/demo_sandbox.h"
#include "app/wizard.h"
#include "platform/files.h"
#include "support/games.h"
#include "support/support.h"
#include "ui/desktop_services.h"
#include "ui/extractnpak.h"
#include "ui/frm_q2toqf.h"
#include "ui/startup.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <csignal>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

namespace {

// A program folder with the real tools, the demo sandbox as the only drive.
class Demo : public ::testing::Test {
protected:
    void SetUp() override {
        makeDirs(programFolder);
        ASSERT_TRUE(QFile::copy(CORVANE_PAK, programFolder + "/pak"));
        ASSERT_TRUE(QFile::copy(CORVANE_MINIZIP, programFolder + "/minizip"));
        sandbox = makeDemoSandbox(programFolder);
        services = std::make_unique<FakeServices>(programFolder, QStringList{sandbox + '/'});
    }
    void TearDown() override {
        QDir(sandbox).removeRecursively();
        EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty()) << "a window was left behind";
    }

    TempDir dir;
    QString programFolder = dir.file("Corvane");
    QString sandbox;
    std::unique_ptr<FakeServices> services;
};

TEST_F(Demo, TheWizardConvertsTheSandboxFromTheDisclaimerToQfbastion) {
    Wizard wizard(*services);
    wizard.start();
    wizard.startup()->OKButton->click();
    ASSERT_TRUE(wizard.search()->isVisible());
    EXPECT_FALSE(wizard.search()->cmdNext->isEnabled());

    // The nested copy is offered first; No to it, Yes to the outer one and to Quake 3.
    services->answer({kNo, kYes, kYes});
    wizard.search()->cmdSearch->click();
    ASSERT_FALSE(services->ended());
    EXPECT_TRUE(wizard.search()->cmdSearch->isHidden());
    // Listed in the order they are offered.
    EXPECT_EQ(wizard.search()->lstFoundFileq2->item(0)->text(),
              sandbox + "/Games/Quake 2/backup/quake2/");
    EXPECT_EQ(wizard.search()->lstFoundFileq2->count(), 2);
    EXPECT_EQ(wizard.search()->lstFoundFileq3->item(0)->text(), sandbox + "/Games/Quake 3 Arena/");
    ASSERT_TRUE(wizard.search()->cmdNext->isEnabled());

    wizard.search()->cmdNext->click();
    Extractnpak* conversion = wizard.conversion();
    ASSERT_TRUE(conversion && conversion->isVisible());
    EXPECT_EQ(conversion->lblq2path->caption(), sandbox + "/Games/Quake 2/");
    EXPECT_EQ(conversion->lblq3path->caption(), sandbox + "/Games/Quake 3 Arena/");

    EXPECT_TRUE(runsToEnd(*services, [&] { conversion->OKButton->click(); }));
    EXPECT_FALSE(conversion->OKButton->isEnabled());
    EXPECT_EQ(conversion->caption(), "Total files: " + QString::number(classicFileCount()));
    EXPECT_EQ(QDir(sandbox + "/Games/Quake 3 Arena/qfbastion").entryList(QDir::Files),
              (QStringList{"pak0.pk3", "pak1.pk3", "pak2.pk3"}));
    // The conversion's notices reach the user as boxes.
    EXPECT_TRUE(services->prompts().back().startsWith("PAK2.PK3 was copied to"));
}

// A key pressed and let go on the window `screen`, as the window system delivers it: to the
// focused control.
void key(QWidget* screen, Qt::Key pressed) {
    QTest::keyClick(screen->windowHandle(), pressed);
}

bool noDefaultButton(QWidget* screen) {
    const auto buttons = screen->findChildren<QPushButton*>();
    return std::none_of(buttons.begin(), buttons.end(),
                        [](QPushButton* button) { return button->isDefault(); });
}

// Return and Space press the focused button, Tab moves in the screens' tab order, the focus
// shows from the start, and no button is a default button.
TEST(Keyboard, TheKeyboardAloneCarriesTheUserThroughTheWizard) {
    TempDir drive;
    makeTree(drive.path(), {"q2=q2", "q3=q3"});
    const auto services = std::make_unique<FakeServices>(QString(), QStringList{drive.path()});
    Wizard wizard(*services);
    wizard.start();
    Startup* startup = wizard.startup();
    ASSERT_TRUE(QTest::qWaitForWindowActive(startup));
    EXPECT_EQ(startup->geometry().center(), startup->screen()->availableGeometry().center());
    EXPECT_EQ(QApplication::focusWidget(), startup->OKButton);
    EXPECT_TRUE(startup->testAttribute(Qt::WA_KeyboardFocusChange)) << "the focus is not shown";
    key(startup, Qt::Key_Tab);
    EXPECT_EQ(startup->focusWidget(), startup->CancelButton);
    key(startup, Qt::Key_Tab);
    EXPECT_EQ(startup->focusWidget(), startup->OKButton);
    EXPECT_TRUE(noDefaultButton(startup));
    key(startup, Qt::Key_Return);
    FrmQ2toQf* search = wizard.search();
    ASSERT_TRUE(search && search->isVisible() && !startup->isVisible());

    ASSERT_TRUE(QTest::qWaitForWindowActive(search));
    EXPECT_EQ(search->focusWidget(), search->cmdSearch);
    const QList<QWidget*> order = {search->lstFoundFileq2, search->lstFoundFileq3,
                                   search->cmdSearch};
    for (QWidget* next : order) {
        key(search, Qt::Key_Tab);
        EXPECT_EQ(search->focusWidget(), next);
    }
    services->answer({kYes, kYes});
    key(search, Qt::Key_Space);
    ASSERT_TRUE(search->cmdNext->isEnabled());
    EXPECT_TRUE(noDefaultButton(search));
    for (int tabs = 0; tabs < 3 && search->focusWidget() != search->cmdNext; ++tabs)
        key(search, Qt::Key_Tab);
    ASSERT_EQ(search->focusWidget(), search->cmdNext);
    key(search, Qt::Key_Enter);
    Extractnpak* conversion = wizard.conversion();
    ASSERT_TRUE(conversion && conversion->isVisible() && !search->isVisible());

    ASSERT_TRUE(QTest::qWaitForWindowActive(conversion));
    EXPECT_EQ(conversion->focusWidget(), conversion->OKButton);
    key(conversion, Qt::Key_Tab);
    EXPECT_EQ(conversion->focusWidget(), conversion->CancelButton);
    EXPECT_TRUE(noDefaultButton(conversion));
    EXPECT_FALSE(runsToEnd(*services, [&] { key(conversion, Qt::Key_Escape); }));
    EXPECT_TRUE(runsToEnd(*services, [&] { key(conversion, Qt::Key_Return); }));
}

// The boxes: Return and Space press the focused button; a Yes/No question ignores Escape and
// the window's close button.
TEST(Keyboard, BoxesTakeReturnAndSpaceAndAQuestionHasNoWayOutButItsButtons) {
    DesktopServices services;
    const auto answering = [&](int buttons, const std::function<void(QMessageBox*)>& keys) {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            keys(box);
            if (box->isVisible()) {
                ADD_FAILURE() << "the box is still open";
                box->done(0);
            }
        });
        return services.messageBox("Is this the right Quake 2 Path to use?", buttons, "Title");
    };
    EXPECT_EQ(answering(kYesNo, [](QMessageBox* box) { key(box, Qt::Key_Return); }), kYes);
    EXPECT_EQ(answering(kYesNo,
                        [](QMessageBox* box) {
                            key(box, Qt::Key_Escape);
                            QCloseEvent titleBarClose; // as the window system sends it
                            QCoreApplication::sendEvent(box->windowHandle(), &titleBarClose);
                            EXPECT_TRUE(box->isVisible()) << "Escape or the close button answered";
                            key(box, Qt::Key_Tab);
                            key(box, Qt::Key_Space);
                        }),
              kNo);
    EXPECT_EQ(answering(kYesNo,
                        [](QMessageBox* box) {
                            key(box, Qt::Key_Tab);
                            key(box, Qt::Key_Return);
                        }),
              kNo);
    EXPECT_EQ(answering(kOkOnly, [](QMessageBox* box) { key(box, Qt::Key_Space); }), kOk);
}

// Debian's layout, as a player: Quake 2's data without its program and Quake 3's, both
// read-only, in the system places; qfbastion in the engine's home path. The wizard lists them
// and converts into the home path, the data folders byte for byte as they were.
TEST_F(Demo, TheWizardConvertsDebiansLayoutIntoTheEnginesHomePath) {
    if (rerunUnprivileged())
        return;
    const QString drive = dir.file("drive");
    const QString quake2 = drive + "/usr/share/games/quake2/";
    const QString quake3 = drive + "/usr/share/games/quake3/";
    const QString home = drive + "/home/player/.q3a/";
    for (int pak = 0; pak < 3; ++pak)
        writeFile(quake2 + "baseq2/pak" + QString::number(pak) + ".pak",
                  packBytes(classicPak(pak)));
    writeFile(quake3 + "baseq3/pak0.pk3");
    makeDirs(home + "qfbastion");
    writeFile(home + "baseq3/q3config.cfg");
    const QStringList readOnly = {quake2 + "baseq2", quake2, quake3 + "baseq3", quake3};
    for (const QString& folder : readOnly)
        setMode(folder, 0555);
    const auto data = snapshot(drive + "/usr");
    const ScopedEnvironment dataDirs("XDG_DATA_DIRS", drive + "/usr/share");
    services = std::make_unique<FakeServices>(programFolder, QStringList{drive + '/'});
    Wizard wizard(*services);
    wizard.start();
    wizard.startup()->OKButton->click();
    // Quake 3's data folder comes first in the walk: No to it, Yes to the home path.
    services->answer({kYes, kNo, kYes});
    wizard.search()->cmdSearch->click();
    ASSERT_TRUE(wizard.search()->cmdNext->isEnabled())
        << services->prompts().join('|').toStdString();
    EXPECT_EQ(wizard.paths().quake2, quake2);
    EXPECT_EQ(wizard.paths().quake3, home);
    wizard.search()->cmdNext->click();
    EXPECT_TRUE(runsToEnd(*services, [&] { wizard.conversion()->OKButton->click(); }));
    EXPECT_EQ(QDir(home + "qfbastion").entryList(QDir::Files),
              (QStringList{"pak0.pk3", "pak1.pk3", "pak2.pk3"}));
    EXPECT_EQ(snapshot(drive + "/usr"), data);
}

TEST_F(Demo, ClosingTheWindowDuringTheSearchEndsTheProgram) {
    Wizard wizard(*services);
    wizard.start();
    wizard.startup()->OKButton->click();
    FrmQ2toQf* search = wizard.search();
    QTimer::singleShot(0, search, [search] { search->close(); });
    EXPECT_TRUE(runsToEnd(*services, [search] { search->cmdSearch_Click(); }));
    EXPECT_TRUE(services->boxes().empty()) << "the search went on to the questions";
    EXPECT_TRUE(wizard.paths().quake2.isEmpty());
}

TEST(Wizard, EveryExitAndEveryCloseEndsTheProgramAtOnce) {
    const struct {
        const char* name;
        int screen; // the screen to leave: 0 disclaimer, 1 search, 2 conversion
        std::function<void(Wizard&)> leave;
    } ways[] = {
        {"disclaimer Exit", 0, [](Wizard& w) { w.startup()->CancelButton->click(); }},
        {"disclaimer close", 0, [](Wizard& w) { w.startup()->close(); }},
        {"search close", 1, [](Wizard& w) { w.search()->close(); }},
        {"conversion Exit", 2, [](Wizard& w) { w.conversion()->CancelButton->click(); }},
        {"conversion close", 2, [](Wizard& w) { w.conversion()->close(); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        FakeServices services;
        Wizard wizard(services);
        wizard.start();
        if (way.screen > 0)
            wizard.startup()->OKButton->click();
        if (way.screen > 1)
            wizard.search()->cmdNext_Click();
        EXPECT_TRUE(runsToEnd(services, [&] { way.leave(wizard); }));
        EXPECT_TRUE(services.boxes().empty());
        EXPECT_EQ(wizard.search() != nullptr, way.screen > 0) << "a screen was made too early";
    }
}

TEST(Wizard, TheConversionWindowCannotBeClosedWhileTheConversionRuns) {
    FakeServices services;
    GamePaths paths;
    Extractnpak screen(services, paths);
    screen.show();
    screen.setScreenEnabled(false); // as the conversion does while its passes run
    EXPECT_FALSE(runsToEnd(services, [&] { screen.close(); }));
    EXPECT_TRUE(screen.isVisible());
    screen.setScreenEnabled(true);
    EXPECT_TRUE(runsToEnd(services, [&] { screen.close(); }));
}

// Continue has the focus as soon as the disclaimer shows, before its window is active.
TEST(Disclaimer, ContinueHasTheFocusAtOnce) {
    FakeServices services;
    Startup startup(services);
    startup.show();
    EXPECT_EQ(startup.focusWidget(), startup.OKButton);
}

// A polite kill ends the wizard at once, with the status a shell reports for the signal.
TEST(Program, APoliteKillEndsTheWizardWithTheSignalsStatus) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        QProcess wizard;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        wizard.setProcessEnvironment(environment);
        wizard.start(CORVANE_PROGRAM, {});
        ASSERT_TRUE(wizard.waitForStarted());
        // Once the program has taken the signal over, as its mask of caught signals shows.
        const QString status = QString("/proc/%1/status").arg(wizard.processId());
        const auto caught = [&] {
            const QByteArray text = readFile(status);
            const qsizetype at = text.indexOf("SigCgt:") + 7;
            const QByteArray mask = text.mid(at, text.indexOf('\n', at) - at).trimmed();
            return at > 7 && (mask.toULongLong(nullptr, 16) >> (signal - 1)) & 1;
        };
        for (int wait = 0; wait < 500 && !caught(); ++wait)
            QThread::msleep(10);
        ::kill(pid_t(wizard.processId()), signal);
        ASSERT_TRUE(wizard.waitForFinished(30000));
        EXPECT_EQ(wizard.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(wizard.exitCode(), 128 + signal);
    }
}

} // namespace
