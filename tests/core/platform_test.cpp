// The platform services on real files and real child processes: failures in the runtime's words
// and plain ones, names as bytes, look-ups that ignore case and separator runs, and tools that
// get exactly their arguments in their own folder, their exit code and messages coming back.

#include "io/fd.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/support.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <tuple>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace corvane;
using namespace corvane::test;

namespace {

// The system's reason for a failure, in the runtime's words for the wizard's boxes and in plain
// ones for the command line.
TEST(Error, SaysTheSystemsReasonInTheRuntimesWordsAndInPlainOnes) {
    // A missing file or folder is the number the caller chose; the others have their own.
    const std::tuple<int, int, const char*> causes[] = {{ENOENT, kFileNotFound, "File not found"},
                                                        {ENOENT, kPathNotFound, "Path not found"},
                                                        {ENOSPC, kFileNotFound, "Disk full"}};
    for (const auto& [cause, notFound, runtime] : causes) {
        const Error error = Error::fromSystem(cause, notFound, "/games/q2");
        EXPECT_EQ(error.description(), QString(runtime) + ": /games/q2");
        EXPECT_EQ(error.plain(), "/games/q2: " + QString::fromLocal8Bit(strerror(cause)));
    }
    EXPECT_EQ(Error(kInvalidIndex).description(), "Invalid property array index");
    EXPECT_EQ(Error(kOverflow, "/big").plain(), "/big: too many to count");
}

TEST(Files, LookUpPathsIgnoringCaseAndSeparatorRuns) {
    TempDir dir;
    writeFile(dir.file("Base Dir/Sub \u00fc/File.TXT"), "payload");
    const QString& root = dir.path();
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
    const QString previous = QDir::currentPath(); // a relative path starts at the current folder
    ASSERT_TRUE(QDir::setCurrent(root));
    EXPECT_EQ(Dir("BASE DIR\\sub \u00fc/file.txt", 0), "File.TXT");
    ASSERT_TRUE(QDir::setCurrent(previous));
    // The file list's wildcards: '*' any run, '?' one character, ASCII case ignored.
    for (const auto& [name, pattern, matches] : {std::tuple{"Quake2.EXE", "*.exe", true},
                                                 {".exe", "*.exe", true},
                                                 {"a.exe.bak", "*.exe", false},
                                                 {"quake2.exe", "quake?.exe", true},
                                                 {"quake.exe", "quake?.exe", false},
                                                 {"x", "*", true},
                                                 {"", "?", false},
                                                 {"abc", "a*c*", true},
                                                 {"AZ", "az", true},
                                                 {"ab", "abc", false}})
        EXPECT_EQ(matchesPattern(name, pattern), matches) << name << ' ' << pattern;
}

// Names are bytes: whatever a name holds comes back from its text byte for byte, and only valid
// UTF-8 counts as a name to show.
TEST(Names, ComeBackByteForByteAndOnlyValidUtf8IsShown) {
    const std::pair<const char*, bool> names[] = {
        {"Quake 2 \xc3\xa9t\xc3\xa9", true},
        {"\xc2\x80", true},          // the first code point of two bytes
        {"\xf4\x8f\xbf\xbf", true},  // the last code point
        {"\xf4\x90\x80\x80", false}, // past it
        {"\xed\xa0\x80", false},     // a surrogate
        {"\xc0\xaf", false},         // overlong
        {"\xe0\x9f\xbf", false},     // overlong in three bytes
        {"\xee\x80\x80", true},      // the first code point after the surrogates
        {"a\xe2\x82", false},        // cut short
        {"\xff\xfe", false},         // no lead byte
        {"\xe2\x82\xac\x80", false}, // one byte too many
    };
    for (const auto& [name, valid] : names) {
        EXPECT_EQ(isUtf8(name), valid) << name;
        EXPECT_EQ(encodePath(decodePath(name)), name);
    }
}

TEST(Guarded, AnUnhandledErrorShowsTheRuntimeMessageAndEnds) {
    for (const auto& [cause, notFound, message] :
         {std::tuple{ENOSPC, kFileNotFound, "Run-time error '61':\r\n\r\nDisk full: /q3/a.pk3"},
          {ENOENT, kFileNotFound, "Run-time error '53':\r\n\r\nFile not found: /q3/a.pk3"},
          {ENOENT, kPathNotFound, "Run-time error '76':\r\n\r\nPath not found: /q3/a.pk3"}}) {
        FakeServices services;
        EXPECT_TRUE(runsToEnd(services, [cause = cause, notFound = notFound] {
            throw Error::fromSystem(cause, notFound, "/q3/a.pk3");
        }));
        EXPECT_EQ(services.prompts(), QStringList{message});
    }
}

// A probe tool in a folder whose name holds blanks and quotes gets exactly its arguments, bytes
// that are no UTF-8 included, in its own folder; its messages and exit code come back.
TEST(Commands, ReachTheToolWithItsArgumentsInItsFolderAndTellHowItEnded) {
    TempDir dir;
    const QString probe = dir.file("Program \"Folder\" \u00e9t\u00e9/pak");
    writeFile(probe,
              "#!/bin/sh\npwd >../out\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >>../out\n"
              "echo \"probe says $#\" >&2\n");
    setMode(probe, 0700);
    const QString odd = decodePath("/odd \"name\"\\ \\\"x\\ \xff\xfe");
    makeDirs(dir.file("w"));
    const io::Fd work(::open(QFile::encodeName(dir.file("w")).constData(), O_RDONLY | O_DIRECTORY));
    const QString previous = QDir::currentPath();
    const ProgramRun run = runProgram(probe, {"-x", odd, "pics/tag1.pcx", ""}, work.get());
    EXPECT_TRUE(run.succeeded());
    EXPECT_EQ(readFile(dir.file("out")), QFile::encodeName(dir.file("w")) + "\n-x\n" +
                                             QByteArray::fromStdString(encodePath(odd)) +
                                             "\npics/tag1.pcx\n\n");
    EXPECT_EQ(run.errorOutput, "probe says 4\n");
    EXPECT_EQ(QDir::currentPath(), previous) << "the folder is the child's alone";
    const ProgramRun refused = runProgram("/bin/sh", {"-c", "exit 2"});
    EXPECT_TRUE(refused.started && refused.exitCode == 2 && !refused.succeeded());
    const ProgramRun killed = runProgram("/bin/sh", {"-c", "kill -9 $$"});
    EXPECT_EQ(killed.signal, SIGKILL);
    EXPECT_FALSE(killed.succeeded());
}

// The child starts as a program expects whatever we caught, ignored or blocked: no signal
// blocked, none ignored; it inherits the descriptor passed, under its number. A
// folder it cannot enter keeps the program from starting, with the system's reason.
TEST(Commands, StartWithTheSignalsAsAProgramExpectsAndThePassedDescriptor) {
    TempDir dir;
    writeFile(dir.file("passed"), "passed on");
    const io::Fd passed(
        ::open(QFile::encodeName(dir.file("passed")).constData(), O_RDONLY | O_CLOEXEC));
    struct sigaction caught {};
    caught.sa_handler = [](int) {};
    struct sigaction oldTerm {};
    ASSERT_EQ(::sigaction(SIGTERM, &caught, &oldTerm), 0);
    const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked, oldMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &oldMask), 0);
    // awk itself, not a shell, which would unblock signals on its own.
    const ProgramRun status = runProgram(
        "/usr/bin/awk", {"/^Sig(Blk|Ign)/ { print > \"/dev/stderr\" }", "/proc/self/status"});
    (void)::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    (void)::sigaction(SIGTERM, &oldTerm, nullptr);
    (void)std::signal(SIGPIPE, oldPipe);
    EXPECT_TRUE(status.succeeded());
    EXPECT_EQ(status.errorOutput.toStdString(),
              "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
    const ProgramRun run = runProgram(
        "/bin/sh", {"-c", "cat <&" + QString::number(passed.get()) + " >&2"}, -1, passed.get());
    EXPECT_EQ(run.errorOutput, "passed on");
    const ProgramRun notAFolder = runProgram("/bin/sh", {"-c", "exit 0"}, passed.get());
    EXPECT_FALSE(notAFolder.started);
    EXPECT_TRUE(notAFolder.errorOutput.contains(strerror(ENOTDIR))) << notAFolder.errorOutput;
}

// A tool that cannot be started says why, whatever kept it from starting: the program is
// missing or no program, or the descriptors to talk to it cannot be had.
TEST(Commands, AToolThatCannotBeStartedSaysWhy) {
    TempDir dir;
    writeFile(dir.file("pak"), "#!/bin/sh\n");
    setMode(dir.file("pak"), 0600);
    const struct {
        const char* name;
        QString program;
        bool outOfDescriptors;
        int cause;
    } cases[] = {
        {"missing", dir.file("nowhere/pak"), false, ENOENT},
        {"not executable", dir.file("pak"), false, EACCES},
        {"out of descriptors", "/bin/true", true, EMFILE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        if (c.outOfDescriptors) {
            // No descriptor is left below the lowest free one.
            const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            ASSERT_TRUE(lowest >= 0 && ::close(lowest) == 0);
            const rlimit few{rlim_t(lowest), saved.rlim_max};
            ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
        }
        const ProgramRun run = runProgram(c.program, {"-x", "a.pak"});
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        EXPECT_FALSE(run.started);
        EXPECT_EQ(run.errorOutput, c.program + " could not be started: " +
                                       QString::fromLocal8Bit(strerror(c.cause)));
    }
}

} // namespace
