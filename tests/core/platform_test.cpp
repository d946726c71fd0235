// The platform services on real files and real child processes: failures carry their number
// and the path, look-ups ignore case and separator runs, copies are whole or nothing, and
// command lines reach their program exactly, its exit code and messages coming back.

#include "core/conversion/command_lines.h"
#include "core/platform/files.h"
#include "core/platform/process.h"
#include "support/support.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <tuple>

using namespace corvane;
using namespace corvane::test;

namespace {

int errorNumberOf(const std::function<void()>& operation, QString* description = nullptr) {
    try {
        operation();
    } catch (const RuntimeError& error) {
        if (description)
            *description = error.description();
        return error.number();
    }
    return 0;
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

TEST(Files, FailuresRaiseTheirNumberNamingThePathAndLeaveNothingHalfWritten) {
    TempDir dir;
    writeFile(dir.file("full/file.txt"));
    writeFile(dir.file("readonly.txt"));
    QFile::setPermissions(dir.file("readonly.txt"), QFile::ReadOwner);
    makeDirs(dir.file("target.pk3"));
    const struct {
        const char* what;
        std::function<void()> run;
        int number;
        QString named;
    } cases[] = {
        {"ChDirMissing", [&] { ChDir(dir.file("none")); }, kPathNotFound, dir.file("none")},
        {"CopyMissingSource", [&] { FileCopy(dir.file("none.txt"), dir.file("c.txt")); },
         kFileNotFound, dir.file("none.txt")},
        {"CopyIntoMissingFolder", [&] { FileCopy(dir.file("full/file.txt"), dir.file("no/x")); },
         kPathNotFound, dir.file("no")},
        {"CopyOverReadOnly", [&] { FileCopy(dir.file("full/file.txt"), dir.file("readonly.txt")); },
         kPathFileAccessError, dir.file("readonly.txt")},
        {"CopyOverFolder", [&] { FileCopy(dir.file("full/file.txt"), dir.file("target.pk3")); },
         kPathFileAccessError, dir.file("target.pk3")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QString description;
        EXPECT_EQ(errorNumberOf(c.run, &description), c.number);
        EXPECT_TRUE(description.contains(c.named)) << description;
        EXPECT_TRUE(entriesOf(dir.file("target.pk3")).isEmpty());
    }
}

TEST(Files, LookUpPathsIgnoringCaseAndSeparatorRuns) {
    TempDir dir;
    writeFile(dir.file("Base Dir/Sub \u00fc/File.TXT"), "payload");
    const QString root = dir.path();
    const struct {
        QString path;
        int attributes;
        QString expected;
    } cases[] = {
        {root + "\\base dir\\\\SUB \u00fc//file.txt", 0, "File.TXT"},
        {root + "/BASE DIR/sub \u00fc/", kDirectories, "."},
        {root + "/base dir/sub \u00fc", kNormalFiles, ""}, // a folder is no ordinary file
        {root + "/base dir/sub \u00dc/file.txt", 0, ""},   // only ASCII letters fold
        {root + "/base dir/missing.txt", 0, ""},
        {root + "/base dir/sub \u00fc/*.txt", 0, "File.TXT"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Dir(c.path, c.attributes), c.expected) << c.path;
    // The file list's wildcards: '*' any run, '?' one character, ASCII case ignored.
    for (const auto& [name, pattern, matches] : {std::tuple{"Quake2.EXE", "*.exe", true},
                                                 {".exe", "*.exe", true},
                                                 {"a.exe.bak", "*.exe", false},
                                                 {"quake2.exe", "quake?.exe", true},
                                                 {"quake.exe", "quake?.exe", false},
                                                 {"x", "*", true},
                                                 {"", "?", false},
                                                 {"abc", "a*c*", true},
                                                 {"ab", "abc", false}})
        EXPECT_EQ(MatchesPattern(name, pattern), matches) << name << ' ' << pattern;
    FileCopy(root + "\\base dir\\sub \u00fc\\file.txt", root + "/copy.txt");
    EXPECT_EQ(readFile(root + "/copy.txt"), "payload");
    EXPECT_EQ(entriesOf(root), (QStringList{"Base Dir", "copy.txt"}));
}

TEST(Guarded, AnUnhandledRuntimeErrorShowsTheRuntimeMessageAndEnds) {
    FakeServices services;
    EXPECT_TRUE(runsToEnd(services, [] { ChDir("/nonexistent-corvane/folder"); }));
    EXPECT_EQ(
        services.prompts(),
        QStringList{"Run-time error '76':\r\n\r\nPath not found: /nonexistent-corvane/folder"});
}

// A program folder with blanks and a non-ASCII letter, holding a probe as both tools: it
// writes the folder it runs in and its arguments to a file, says something on its standard
// error and exits with the code it is told.
class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        makeDirs(programFolder);
        for (const char* tool : {"pak", "minizip"}) {
            writeFile(programFolder + '/' + tool,
                      "#!/bin/sh\npwd >\"$PROBE_OUT\"\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; "
                      "done >>\"$PROBE_OUT\"\necho \"probe says $#\" >&2\nexit ${PROBE_CODE:-0}\n");
            QFile::setPermissions(programFolder + '/' + tool, QFile::ReadOwner | QFile::ExeOwner);
        }
        qputenv("PROBE_OUT", QFile::encodeName(output));
        previous = CurDir();
        ChDir(programFolder);
    }
    void TearDown() override {
        ChDir(previous);
        qunsetenv("PROBE_CODE");
    }
    QStringList received() const {
        return QString::fromUtf8(readFile(output)).split('\n', Qt::SkipEmptyParts);
    }

    TempDir dir;
    QString programFolder = dir.file("Program Folder \u00e9t\u00e9");
    QString output = dir.file("probe.txt");
    QString previous;
};

TEST_F(Commands, ReachTheToolWithExactlyTheirArguments) {
    const QString archive = dir.file("My Games/Quake 2 \u00fc/baseq2/pak0.pak");
    const struct {
        QString commandLine;
        QStringList arguments;
    } cases[] = {
        {unpackCommand(programFolder, archive), {"-x", archive}},
        {unpackCommand(programFolder, "/odd \"name\"\\ \\\"x\\"),
         {"-x", "/odd \"name\"\\ \\\"x\\"}},
        {unpackCommand(programFolder, archive, "pics/tag1.pcx pics/tag2.pcx"),
         {"-x", archive, "pics/tag1.pcx", "pics/tag2.pcx"}},
        {zipCommand(programFolder, "pak0.pk3", " env\\unit1_rt.pcx env\\unit1_rt.tga"),
         {"-a", "pak0.pk3", "env\\unit1_rt.pcx", "env\\unit1_rt.tga"}},
        {zipCommand(programFolder, "pak0.pk3", ""), {"-a", "pak0.pk3"}},
        {toolCommand(programFolder, "minizip.exe", {"-a", "a \"b\" c\\"}), {"-a", "a \"b\" c\\"}},
    };
    for (const auto& c : cases) {
        const ProgramRun run = RunCommandLine(c.commandLine);
        EXPECT_TRUE(run.succeeded()) << c.commandLine;
        EXPECT_EQ(received(), QStringList{programFolder} + c.arguments) << c.commandLine;
        EXPECT_EQ(run.errorOutput, QString("probe says %1\n").arg(c.arguments.size()));
    }
}

TEST_F(Commands, TellHowTheToolEnded) {
    qputenv("PROBE_CODE", "2");
    const ProgramRun failed = RunCommandLine(zipCommand(programFolder, "pak1.pk3", " x"));
    EXPECT_TRUE(failed.started);
    EXPECT_EQ(failed.exitCode, 2);
    EXPECT_FALSE(failed.succeeded());
    const ProgramRun missing = RunCommandLine('"' + dir.file("nowhere") + "/pak.exe\" -x a.pak");
    EXPECT_FALSE(missing.started);
    EXPECT_TRUE(missing.errorOutput.contains("No such file or directory")) << missing.errorOutput;
    const ProgramRun killed = RunCommandLine("/bin/sh -c \"kill -9 $$\"");
    EXPECT_EQ(killed.signal, SIGKILL);
    EXPECT_FALSE(killed.succeeded());
}

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    const struct {
        QString line;
        QStringList words;
    } cases[] = {
        {"\"C:\\Program Files\\x.exe\" -x  C:\\q2\\baseq2\\pak0.pak",
         {"C:\\Program Files\\x.exe", "-x", "C:\\q2\\baseq2\\pak0.pak"}},
        {"p \"a b\"c d", {"p", "a bc", "d"}},
        {"p a\\\\\\\"b", {"p", "a\\\"b"}},
        {"p \"\"", {"p", ""}},
        {"   ", {}},
        {"pak", {"pak"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
}

} // namespace
