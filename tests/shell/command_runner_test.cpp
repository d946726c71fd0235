#include "conversion/command_runner.h"
#include "shell/platform.h"
#include "support/test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

namespace {

// A program folder with blanks and a non-ASCII letter, holding the probe as both tools.
class CommandRunner : public ::testing::Test {
protected:
    void SetUp() override {
        programFolder = dir.file("Program Folder \u00e9t\u00e9");
        makeDirs(programFolder);
        for (const char* tool : {"pak", "minizip"})
            ASSERT_TRUE(QFile::copy(CORVANE_ARGV_PROBE, programFolder + '/' + tool));
        output = dir.file("probe.txt");
        qputenv("CORVANE_PROBE_OUT", output.toUtf8());
        previous = CurDir();
        ChDir(programFolder);
    }
    void TearDown() override {
        ChDir(previous);
        qunsetenv("CORVANE_PROBE_OUT");
        qunsetenv("CORVANE_PROBE_DELAY_MS");
    }

    // The folder and the arguments the probe received.
    QStringList received() const {
        QStringList lines = QString::fromUtf8(readFile(output)).split('\n');
        lines.removeAll(QString());
        if (!lines.isEmpty() && lines.back() == "--")
            lines.removeLast();
        return lines;
    }

    TempDir dir;
    QString programFolder;
    QString output;
    QString previous;
};

TEST_F(CommandRunner, ToolsReceiveExactlyTheArgumentsOfEachCommandLine) {
    const QString game = dir.file("My Games/Quake 2 \u00fc/");
    const QString archive = game + "baseq2/pak0.pak";
    struct Case {
        QString commandLine;
        QStringList arguments;
    };
    const Case cases[] = {
        {unpackCommand(programFolder, archive), {"-x", archive}},
        {unpackCommand(programFolder, "/odd \"name\"\\ \\\"x\\"),
         {"-x", "/odd \"name\"\\ \\\"x\\"}},
        {zipCommand(programFolder, "pak0.pk3", " env\\unit1_rt.pcx env\\unit1_rt.tga"),
         {"-a", "pak0.pk3", "env\\unit1_rt.pcx", "env\\unit1_rt.tga"}},
        {zipCommand(programFolder, "pak0.pk3", ""), {"-a", "pak0.pk3"}},
        {unpackCommand(programFolder, game + "baseq2/pak1.pak", "pics/tag1.pcx pics/tag2.pcx"),
         {"-x", game + "baseq2/pak1.pak", "pics/tag1.pcx", "pics/tag2.pcx"}},
        {zipCommand(programFolder, "pak1.pk3", " pics\\tag1.pcx pics\\tag2.pcx"),
         {"-a", "pak1.pk3", "pics\\tag1.pcx", "pics\\tag2.pcx"}},
        {zipCommand(programFolder, "pak2.pk3",
                    " models\\weapons\\g_blast\\base.pcx models\\weapons\\g_flareg\\base.pcx"),
         {"-a", "pak2.pk3", "models\\weapons\\g_blast\\base.pcx",
          "models\\weapons\\g_flareg\\base.pcx"}},
        {"\"" + programFolder + "/pak.exe\" -x \"a \\\"quoted\\\" name\" tail\\\\",
         {"-x", "a \"quoted\" name", "tail\\\\"}},
    };
    for (const Case& c : cases) {
        QFile::remove(output);
        ExecCmd(c.commandLine);
        EXPECT_EQ(received(), QStringList{programFolder} + c.arguments)
            << c.commandLine.toStdString();
    }
}

TEST_F(CommandRunner, AMissingToolReturnsAtOnceWithoutError) {
    QElapsedTimer timer;
    timer.start();
    EXPECT_NO_THROW(ExecCmd("\"" + dir.file("nowhere") + "/pak.exe\" -x archive.pak"));
    EXPECT_NO_THROW(ExecCmd(""));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_FALSE(exists(output));
}

TEST_F(CommandRunner, ReturnsOnlyAfterTheToolHasEnded) {
    qputenv("CORVANE_PROBE_DELAY_MS", "300");
    ExecCmd(zipCommand(programFolder, "pak1.pk3", " late"));
    EXPECT_EQ(received(), (QStringList{programFolder, "-a", "pak1.pk3", "late"}));
}

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    struct Case {
        QString line;
        QStringList words;
    };
    const Case cases[] = {
        {"prog a b", {"prog", "a", "b"}},
        {"\"C:\\Program Files\\x.exe\" -x  C:\\q2\\baseq2\\pak0.pak",
         {"C:\\Program Files\\x.exe", "-x", "C:\\q2\\baseq2\\pak0.pak"}},
        {"p \"a b\"c d", {"p", "a bc", "d"}},
        {"p a\\\\\\\"b", {"p", "a\\\"b"}},
        {"p \"\"", {"p", ""}},
        {"   ", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line.toStdString();
}

} // namespace
