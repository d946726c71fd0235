// The program as a newcomer meets it: its arguments, the demo sandbox converted end to end by
// the ordinary wizard, and an installation into a prefix.

#include "conversion/extractnpak.h"
#include "discovery/frm_q2toqf.h"
#include "shell/demo_sandbox.h"
#include "shell/pakinfo.h"
#include "shell/platform_folders.h"
#include "shell/startup.h"
#include "shell/wizard.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

namespace {

struct Outcome {
    int exitCode;
    QString out;
    QString err;
};

Outcome
runProgram(const QString& program, const QStringList& arguments,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(120000)) << program.toStdString();
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

TEST(Arguments, OnlyDemoAndHelpAreAccepted) {
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* inErr;
        const char* inOut;
    };
    const Case cases[] = {
        {{"--help"}, 0, "", "Usage: corvane [--demo | --help]"},
        {{"--bogus"}, 2, "unknown argument '--bogus'", ""},
        {{"--demo", "--help"}, 2, "Usage: corvane", ""},
        {{"C:\\Games"}, 2, "unknown argument", ""},
    };
    for (const Case& c : cases) {
        const Outcome outcome = runProgram(CORVANE_PROGRAM, c.arguments);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(outcome.err.contains(c.inErr)) << outcome.err.toStdString();
        EXPECT_TRUE(outcome.out.contains(c.inOut)) << outcome.out.toStdString();
    }
}

TEST(Arguments, WithoutADisplayTheProgramSaysWhatToDo) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(variable);
    const Outcome outcome = runProgram(CORVANE_PROGRAM, {}, environment);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.err.count('\n'), 1);
    EXPECT_TRUE(outcome.err.contains("no display found")) << outcome.err.toStdString();
}

class Demo : public ::testing::Test {
protected:
    void SetUp() override {
        makeDirs(programFolder);
        ASSERT_TRUE(QFile::copy(CORVANE_PAK, programFolder + "/pak"));
        ASSERT_TRUE(QFile::copy(CORVANE_MINIZIP, programFolder + "/minizip"));
        previousFolder = CurDir();
        sandbox = MakeDemoSandbox();
        PlatformFolders::setDriveRoots(QStringList{sandbox + '/'});
    }
    void TearDown() override {
        PlatformFolders::reset();
        ChDir(previousFolder);
        QDir(sandbox).removeRecursively();
        pakinfo::Quake2Path.clear();
        pakinfo::Quake3Path.clear();
    }

    TempDir dir;
    QString programFolder = dir.file("Corvane");
    FakePlatform platform{programFolder};
    QString sandbox;
    QString previousFolder;
};

TEST_F(Demo, TheSandboxHoldsTwoQuake2FoldersAndAQuake3Folder) {
    const QString quake2 = sandbox + "/Games/Quake 2/";
    const QString quake3 = sandbox + "/Games/Quake 3 Arena/";
    for (const QString& file :
         {quake2 + "quake2.exe", quake2 + "baseq2/pak0.pak", quake2 + "baseq2/pak1.pak",
          quake2 + "baseq2/pak2.pak", quake2 + "backup/quake2/quake2.exe",
          quake2 + "backup/quake2/baseq2/pak0.pak", quake3 + "quake3.exe",
          quake3 + "baseq3/pak0.pk3"})
        EXPECT_TRUE(QFileInfo(file).isFile()) << file.toStdString();
    EXPECT_TRUE(QDir(quake3 + "qfbastion").isEmpty());
    const Outcome listing = runProgram(CORVANE_PAK, {"-l", quake2 + "baseq2/pak0.pak"});
    EXPECT_EQ(listing.out.count('\n'), 3307);
    EXPECT_EQ(runProgram("unzip", {"-tq", quake3 + "baseq3/pak0.pk3"}).exitCode, 0);
    // Only the sandbox itself is left behind: no work folders.
    EXPECT_EQ(QDir(sandbox).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"Games"});
}

TEST_F(Demo, TheOrdinaryWizardConvertsTheSandbox) {
    Wizard wizard;
    wizard.start();
    wizard.startup()->OKButton->click();
    platform.answer({kNo, kYes, kYes});
    wizard.search()->cmdSearch->click();
    ASSERT_FALSE(platform.ended());
    ASSERT_TRUE(wizard.search()->cmdNext->isEnabled());
    EXPECT_EQ(pakinfo::Quake2Path, sandbox + "/Games/Quake 2/");
    EXPECT_EQ(pakinfo::Quake3Path, sandbox + "/Games/Quake 3 Arena/");
    const QStringList questions = platform.prompts().mid(0, 3);
    EXPECT_TRUE(questions[0].endsWith("/Games/Quake 2/backup/quake2/"))
        << questions[0].toStdString();

    wizard.search()->cmdNext->click();
    ASSERT_NE(wizard.conversion(), nullptr);
    EXPECT_TRUE(runsToEnd([&] { wizard.conversion()->OKButton->click(); }));
    EXPECT_EQ(QDir(pakinfo::Quake3Path + "qfbastion").entryList(QDir::Files),
              (QStringList{"pak0.pk3", "pak1.pk3", "pak2.pk3"}));
    EXPECT_TRUE(platform.prompts().back().startsWith("PAK2.PK3 was copied to"));
    EXPECT_EQ(wizard.conversion()->caption(), "Total files: 1128");
}

TEST(Install, PutsTheProgramFolderLauncherDesktopEntryAndIcon) {
    TempDir prefix("corvane-prefix");
    const Outcome install =
        runProgram("cmake", {"--install", CORVANE_BUILD_DIR, "--prefix", prefix.path()});
    ASSERT_EQ(install.exitCode, 0) << install.err.toStdString();
    for (const char* file :
         {"lib/corvane/corvane", "lib/corvane/pak", "lib/corvane/minizip", "bin/corvane",
          "share/applications/corvane.desktop", "share/icons/hicolor/32x32/apps/corvane.png"})
        EXPECT_TRUE(QFileInfo(prefix.file(file)).isFile()) << file;

    const QString entry =
        QString::fromUtf8(readFile(prefix.file("share/applications/corvane.desktop")));
    EXPECT_TRUE(entry.contains("Exec=\"" + prefix.file("bin") + "/corvane\""));
    if (!QStandardPaths::findExecutable("desktop-file-validate").isEmpty()) {
        const Outcome valid = runProgram("desktop-file-validate",
                                         {prefix.file("share/applications/corvane.desktop")});
        EXPECT_EQ(valid.exitCode, 0) << valid.out.toStdString() << valid.err.toStdString();
    }
    // The launcher finds the program folder wherever the prefix is.
    EXPECT_EQ(runProgram(prefix.file("bin/corvane"), {"--help"}).exitCode, 0);

    const Outcome uninstall =
        runProgram(CORVANE_SOURCE_DIR "/scripts/uninstall.sh", {prefix.path()});
    EXPECT_EQ(uninstall.exitCode, 0) << uninstall.err.toStdString();
    EXPECT_FALSE(exists(prefix.file("bin/corvane")));
    EXPECT_FALSE(exists(prefix.file("lib/corvane")));
}

} // namespace
