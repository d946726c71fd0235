#include "shell/counter16.h"
#include "shell/platform.h"
#include "support/test_support.h"

#include <QDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

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

struct FailingOperation {
    const char* what;
    std::function<void(const TempDir&)> run;
    int number;
    const char* namedPath; // the description names this path
};

void PrintTo(const FailingOperation& operation, std::ostream* out) {
    *out << operation.what;
}

class PlatformErrors : public ::testing::TestWithParam<FailingOperation> {};

TEST_P(PlatformErrors, RaiseTheirNumberNamingThePath) {
    TempDir dir;
    writeFile(dir.file("full/file.txt"));
    writeFile(dir.file("readonly.txt"));
    QFile::setPermissions(dir.file("readonly.txt"), QFile::ReadOwner | QFile::ReadGroup);
    makeDirs(dir.file("target.pk3"));

    QString description;
    EXPECT_EQ(errorNumberOf([&] { GetParam().run(dir); }, &description), GetParam().number);
    const QString named = *GetParam().namedPath ? dir.file(GetParam().namedPath) : "/proc/self/mem";
    EXPECT_TRUE(description.contains(named)) << description.toStdString();
    EXPECT_TRUE(entriesOf(dir.file("target.pk3")).isEmpty()); // nothing half written
}

INSTANTIATE_TEST_SUITE_P(
    RealFailures, PlatformErrors,
    ::testing::Values(
        FailingOperation{"KillMissing", [](auto& d) { Kill(d.file("none.txt")); }, 53, "none.txt"},
        FailingOperation{"KillFolder", [](auto& d) { Kill(d.file("full")); }, 53, "full"},
        FailingOperation{"KillReadOnly", [](auto& d) { Kill(d.file("readonly.txt")); }, 75,
                         "readonly.txt"},
        FailingOperation{"RmDirMissing", [](auto& d) { RmDir(d.file("none")); }, 76, "none"},
        FailingOperation{"RmDirNotEmpty", [](auto& d) { RmDir(d.file("full")); }, 75, "full"},
        FailingOperation{"ChDirMissing", [](auto& d) { ChDir(d.file("none")); }, 76, "none"},
        FailingOperation{"CopyMissingSource",
                         [](auto& d) { FileCopy(d.file("none.txt"), d.file("copy.txt")); }, 53,
                         "none.txt"},
        FailingOperation{"CopyIntoMissingFolder",
                         [](auto& d) { FileCopy(d.file("full/file.txt"), d.file("none/x.txt")); },
                         76, "none"},
        FailingOperation{"CopyOverReadOnly",
                         [](auto& d) { FileCopy(d.file("full/file.txt"), d.file("readonly.txt")); },
                         75, "readonly.txt"},
        // Reading a process's memory from address 0 fails with an I/O error of the device.
        FailingOperation{"CopyFromAFailingDevice",
                         [](auto& d) { FileCopy("/proc/self/mem", d.file("target.pk3/mem")); }, 68,
                         ""},
        FailingOperation{"CopyOverFolder",
                         [](auto& d) { FileCopy(d.file("full/file.txt"), d.file("target.pk3")); },
                         75, "target.pk3"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(Platform, CopyThatRunsOutOfSpaceRaisesDiskFullAndLeavesNothing) {
    TempDir dir;
    writeFile(dir.file("big.bin"), QByteArray(4 << 20, 'x'));
    makeDirs(dir.file("target"));
    // A file-size limit fails writes for root too, as a full disk would.
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    const int number =
        errorNumberOf([&] { FileCopy(dir.file("big.bin"), dir.file("target/big.bin")); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(number, kDiskFull);
    EXPECT_TRUE(entriesOf(dir.file("target")).isEmpty());
}

TEST(Platform, LooksUpPathsIgnoringCaseAndSeparatorRuns) {
    TempDir dir;
    writeFile(dir.file("Base Dir/Sub \u00fc/File.TXT"), "payload");
    const QString root = dir.path();

    struct Case {
        QString path;
        int attributes;
        QString expected;
    };
    const Case cases[] = {
        {root + "/Base Dir/Sub \u00fc/File.TXT", 0, "File.TXT"},
        {root + "\\base dir\\\\SUB \u00fc//file.txt", 0, "File.TXT"},
        {root + "/BASE DIR/sub \u00fc/", kDirectories, "."},
        {root + "/base dir/sub \u00fc", kDirectories, "Sub \u00fc"},
        {root + "/base dir/sub \u00fc", kNormalFiles, ""}, // a folder is no ordinary file
        {root + "/base dir/sub \u00dc/file.txt", 0, ""},   // only ASCII letters fold
        {root + "/base dir/sub \u00fc/file.txt/", kDirectories, ""},
        {root + "/base dir/missing.txt", 0, ""},
        {root + "/base dir/sub \u00fc/*.txt", 0, "File.TXT"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Dir(c.path, c.attributes), c.expected) << c.path.toStdString();

    FileCopy(root + "\\base dir\\sub \u00fc\\file.txt", root + "/copy.txt");
    EXPECT_EQ(readFile(root + "/copy.txt"), "payload");
    Kill(root + "//BASE DIR/SUB \u00fc\\\\\\FILE.txt");
    EXPECT_FALSE(exists(dir.file("Base Dir/Sub \u00fc/File.TXT")));
    RmDir(root + "/base dir\\sub \u00fc");
    EXPECT_FALSE(exists(dir.file("Base Dir/Sub \u00fc")));
}

TEST(Platform, CopyReplacesTheTargetWholeAndLeavesNoTemporaryFile) {
    TempDir dir;
    writeFile(dir.file("a/pak0.pk3"), "new contents");
    writeFile(dir.file("b/pak0.pk3"), "old contents that were longer");
    FileCopy(dir.file("a/pak0.pk3"), dir.file("b/pak0.pk3"));
    EXPECT_EQ(readFile(dir.file("b/pak0.pk3")), "new contents");
    EXPECT_EQ(entriesOf(dir.file("b")), QStringList{"pak0.pk3"});
}

TEST(Platform, ChDirChangesTheFolderToolsInherit) {
    TempDir dir;
    makeDirs(dir.file("Work Folder"));
    const QString before = CurDir();
    ChDir(dir.file("work folder"));
    EXPECT_EQ(QDir(CurDir()).canonicalPath(), QDir(dir.file("Work Folder")).canonicalPath());
    ChDir(before);
}

TEST(Counter16, OverflowRaisesErrorSix) {
    Counter16 counter(32766);
    ++counter;
    EXPECT_EQ(counter.value(), 32767);
    EXPECT_EQ(errorNumberOf([&] { ++counter; }), kOverflow);
    EXPECT_EQ(counter.value(), 32767);
    Counter16 low(-32768);
    EXPECT_EQ(errorNumberOf([&] { low -= 1; }), kOverflow);
    EXPECT_EQ(errorNumberOf([] { Counter16::from(40000); }), kOverflow);
}

TEST(Platform, UnhandledRuntimeErrorShowsTheRuntimeMessageAndEnds) {
    FakePlatform platform;
    EXPECT_TRUE(runsToEnd([] { Kill("/nonexistent-corvane/file"); }));
    ASSERT_EQ(platform.boxes().size(), 1u);
    EXPECT_TRUE(platform.boxes()[0].prompt.startsWith("Run-time error '53':"));
    EXPECT_TRUE(platform.boxes()[0].prompt.contains("/nonexistent-corvane/file"));
}

} // namespace

namespace {

TEST(Platform, CopyIntoAFolderThatRefusesWritesRaisesPermissionDenied) {
    TempDir dir;
    writeFile(dir.file("source.txt"));
    makeDirs(dir.file("locked"));
    ImmutableFolder locked(dir.file("locked"));
    if (!locked.active())
        GTEST_SKIP() << "chattr +i is not available here";
    QString description;
    EXPECT_EQ(errorNumberOf([&] { FileCopy(dir.file("source.txt"), dir.file("locked/x.txt")); },
                            &description),
              kPermissionDenied);
    EXPECT_TRUE(description.contains(dir.file("locked")));
    EXPECT_FALSE(IsFolderWritable(dir.file("locked")));
    EXPECT_TRUE(IsFolderWritable(dir.path()));
}

} // namespace
