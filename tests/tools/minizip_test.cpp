// The minizip tool, run as a child process; its archives are checked by other zip readers and
// by reading their bytes.

#include "pak_format.h"
#include "tool_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <ctime>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tooltest;

namespace {

std::uint16_t le16(const std::string& b, std::size_t at) {
    return std::uint16_t(std::uint8_t(b[at]) | std::uint8_t(b[at + 1]) << 8);
}

std::uint32_t le32(const std::string& b, std::size_t at) {
    return pak::readLe32(reinterpret_cast<const unsigned char*>(b.data() + at));
}

bool hasZip64Extra(const std::string& b, std::size_t at, std::size_t length) {
    for (std::size_t end = at + length; at + 4 <= end; at += 4 + le16(b, at + 2))
        if (le16(b, at) == 0x0001)
            return true;
    return false;
}

struct CentralEntry {
    std::string name;
    int method;
    std::uint16_t dosTime, dosDate;
    std::uint32_t local; // offset of the local header
};

// Reads the central directory straight from the bytes, failing the test on any ZIP64 record
// or extra field: Quake 3-engine readers accept neither.
std::vector<CentralEntry> centralDirectory(const fs::path& archive) {
    const std::string b = readFile(archive);
    EXPECT_GE(b.size(), 22u);
    const std::size_t eocd = b.size() - 22; // no archive comment
    EXPECT_EQ(le32(b, eocd), 0x06054b50u);
    EXPECT_TRUE(eocd < 20 || le32(b, eocd - 20) != 0x07064b50u) << "ZIP64 locator";
    std::vector<CentralEntry> entries;
    std::size_t at = le32(b, eocd + 16);
    for (int i = 0; i < le16(b, eocd + 10); ++i) {
        EXPECT_EQ(le32(b, at), 0x02014b50u);
        const std::size_t nameLength = le16(b, at + 28), extra = le16(b, at + 30);
        const std::size_t local = le32(b, at + 42);
        const std::string name = b.substr(at + 46, nameLength);
        EXPECT_FALSE(hasZip64Extra(b, at + 46 + nameLength, extra)) << name;
        EXPECT_FALSE(hasZip64Extra(b, local + 30 + le16(b, local + 26), le16(b, local + 28)))
            << name;
        entries.push_back(
            {name, le16(b, at + 10), le16(b, at + 12), le16(b, at + 14), std::uint32_t(local)});
        at += 46 + nameLength + extra + le16(b, at + 32);
    }
    return entries;
}

std::vector<std::string> names(const fs::path& archive) {
    std::vector<std::string> result;
    for (const CentralEntry& e : centralDirectory(archive))
        result.push_back(e.name);
    return result;
}

Result addFiles(const fs::path& folder, std::vector<std::string> files) {
    files.insert(files.begin(), {"-a", "a.pk3"});
    return run(MINIZIP_BIN, files, folder);
}

std::string entryData(const fs::path& archive, const std::string& name) {
    return run("/usr/bin/unzip", {"-p", archive.string(), name}, archive.parent_path()).out;
}

TEST(Minizip, AddsAcrossRunsIntoAnArchiveOtherReadersAccept) {
    TempDir dir;
    const std::string wall = gameLikeBytes(100000, 4), atck = gameLikeBytes(30000, 5);
    writeFile(dir.path / "textures/wall.tga", wall);
    writeFile(dir.path / "sound/boss3/bs3atck1.wav", atck);
    writeFile(dir.path / "PICS/TAG1.PCX", "tag");
    writeFile(dir.path / "empty.txt", "");
    std::tm when{};
    when.tm_year = 101, when.tm_mon = 1, when.tm_mday = 3, when.tm_hour = 4, when.tm_min = 5,
    when.tm_sec = 6, when.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&when), 0}, {std::mktime(&when), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir.path / "textures/wall.tga").c_str(), times, 0), 0);

    EXPECT_EQ(addFiles(dir.path, {"textures\\wall.tga", "empty.txt"}).code, 0);
    // Letter case and separators as the program passes them, both ways round.
    EXPECT_EQ(addFiles(dir.path, {"sound\\boss3\\BS3ATCK1.WAV", "pics\\tag1.pcx"}).code, 0);
    EXPECT_EQ(names(dir.path / "a.pk3"),
              (std::vector<std::string>{"textures/wall.tga", "empty.txt",
                                        "sound/boss3/BS3ATCK1.WAV", "pics/tag1.pcx"}));
    EXPECT_EQ(entryData(dir.path / "a.pk3", "textures/wall.tga"), wall);
    EXPECT_EQ(entryData(dir.path / "a.pk3", "sound/boss3/BS3ATCK1.WAV"), atck);
    EXPECT_EQ(entryData(dir.path / "a.pk3", "pics/tag1.pcx"), "tag");
    for (const CentralEntry& e : centralDirectory(dir.path / "a.pk3"))
        EXPECT_TRUE(e.method == 8 || e.method == 0) << e.name;
    const CentralEntry wallEntry = centralDirectory(dir.path / "a.pk3").front();
    EXPECT_EQ(wallEntry.method, 8);
    EXPECT_EQ(wallEntry.dosDate, (2001 - 1980) << 9 | 2 << 5 | 3);
    EXPECT_EQ(wallEntry.dosTime, 4 << 11 | 5 << 5 | 6 / 2);

    EXPECT_EQ(run("/usr/bin/unzip", {"-tq", "a.pk3"}, dir.path).code, 0);
    const Result python = run("/usr/bin/python3",
                              {"-c", "import sys, zipfile; sys.exit(zipfile.ZipFile('a.pk3')"
                                     ".testzip() is not None)"},
                              dir.path);
    EXPECT_EQ(python.code, 0) << python.err;
    if (fs::exists("/usr/bin/7z")) {
        EXPECT_EQ(run("/usr/bin/7z", {"t", "a.pk3"}, dir.path).code, 0);
    }
}

struct Duplicate {
    const char* label;
    std::vector<std::vector<std::string>> runs; // FILE arguments of each run, in order
    bool startWithDuplicates = false;           // begin with an archive holding a name twice
};

void PrintTo(const Duplicate& p, std::ostream* os) {
    *os << p.label;
}

class ReplacesEntries : public testing::TestWithParam<Duplicate> {};

TEST_P(ReplacesEntries, EachNameOnce) {
    TempDir dir;
    writeFile(dir.path / "other.txt", "other");
    if (GetParam().startWithDuplicates) {
        const Result made = run("/usr/bin/python3",
                                {"-W", "ignore", "-c",
                                 "import zipfile\nwith zipfile.ZipFile('a.pk3', 'w') as z:\n"
                                 "  z.writestr('maps/x.bsp', 'one')\n"
                                 "  z.writestr('maps/x.bsp', 'two')\n"},
                                dir.path);
        ASSERT_EQ(made.code, 0) << made.err;
    }
    for (std::size_t i = 0; i < GetParam().runs.size(); ++i) {
        writeFile(dir.path / "maps/x.bsp", "version " + std::to_string(i));
        EXPECT_EQ(addFiles(dir.path, GetParam().runs[i]).code, 0);
    }
    std::vector<std::string> found = names(dir.path / "a.pk3");
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"maps/x.bsp", "other.txt"}));
    EXPECT_EQ(entryData(dir.path / "a.pk3", "maps/x.bsp"),
              "version " + std::to_string(GetParam().runs.size() - 1));
}

INSTANTIATE_TEST_SUITE_P(
    Minizip, ReplacesEntries,
    testing::Values(Duplicate{"LaterRun", {{"maps\\x.bsp", "other.txt"}, {"maps\\x.bsp"}}},
                    Duplicate{"SameRun", {{"maps\\x.bsp", "other.txt", "maps/x.bsp"}}},
                    Duplicate{"ArchiveHeldItTwice", {{"other.txt", "maps\\x.bsp"}}, true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Minizip, NoFilesChangesNothing) {
    TempDir dir;
    EXPECT_EQ(addFiles(dir.path, {}).code, 0);
    EXPECT_TRUE(fs::is_empty(dir.path));
    writeFile(dir.path / "x.txt", "x");
    ASSERT_EQ(addFiles(dir.path, {"x.txt"}).code, 0);
    const std::string before = readFile(dir.path / "a.pk3");
    EXPECT_EQ(addFiles(dir.path, {}).code, 0);
    EXPECT_EQ(readFile(dir.path / "a.pk3"), before);
}

struct Unreadable {
    const char* label;
    std::string file;
};

void PrintTo(const Unreadable& p, std::ostream* os) {
    *os << p.label;
}

class UnreadableFile : public testing::TestWithParam<Unreadable> {};

// Each of these fails for root too, unlike a file without read permission.
TEST_P(UnreadableFile, IsReportedAndTheRestAdded) {
    TempDir dir;
    fs::create_directories(dir.path / "folder");
    fs::create_symlink(dir.path / "gone", dir.path / "dangling");
    ASSERT_EQ(::mkfifo((dir.path / "fifo").c_str(), 0600), 0);
    writeFile(dir.path / "good.txt", "good");
    const std::string file =
        GetParam().file == "@ABS@" ? (dir.path / "good.txt").string() : GetParam().file;
    const Result r = addFiles(dir.path, {file, "good.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("not added"), std::string::npos) << r.err;
    EXPECT_EQ(names(dir.path / "a.pk3"), std::vector<std::string>{"good.txt"});
}

INSTANTIATE_TEST_SUITE_P(
    Minizip, UnreadableFile,
    testing::Values(Unreadable{"Folder", "folder"}, Unreadable{"DanglingLink", "dangling"},
                    Unreadable{"Fifo", "fifo"}, Unreadable{"Missing", "missing.txt"},
                    Unreadable{"Absolute", "@ABS@"}, Unreadable{"ParentFolder", "..\\good.txt"}),
    [](const auto& info) { return std::string(info.param.label); });

struct NotAnArchive {
    const char* label;
    std::string contents;
};

void PrintTo(const NotAnArchive& p, std::ostream* os) {
    *os << p.label;
}

class BrokenArchive : public testing::TestWithParam<NotAnArchive> {};

TEST_P(BrokenArchive, IsLeftAlone) {
    TempDir dir;
    writeFile(dir.path / "a.pk3", GetParam().contents);
    writeFile(dir.path / "x.txt", "x");
    EXPECT_EQ(addFiles(dir.path, {"x.txt"}).code, 2);
    EXPECT_EQ(readFile(dir.path / "a.pk3"), GetParam().contents);
    EXPECT_EQ(tree(dir.path), (std::vector<std::string>{"a.pk3", "x.txt"}));
}

INSTANTIATE_TEST_SUITE_P(
    Minizip, BrokenArchive,
    testing::Values(NotAnArchive{"Text", "not a zip archive at all, but someone's file"},
                    // An empty file is someone's too, not an archive to fill.
                    NotAnArchive{"Empty", ""}),
    [](const auto& info) { return std::string(info.param.label); });

// Runs minizip -a a.pk3 FILES in `folder` with CORVANE_MINIZIP_TRACE set, so that it says how
// it writes the archive. When `refused` is not 0, copy_file_range fails in the child with that
// errno, as on file systems or kernels without it.
Result traced(const fs::path& folder, const std::vector<std::string>& files, int refused = 0) {
    std::vector<std::string> args{MINIZIP_BIN, "-a", "a.pk3"};
    args.insert(args.end(), files.begin(), files.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_copy_file_range, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (std::uint32_t(refused) & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{std::uint16_t(std::size(filter)), filter};
    TempDir capture;
    const fs::path err = capture.path / "err";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int outFd = ::open("/dev/null", O_WRONLY);
        if (errFd < 0 || outFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0 ||
            ::chdir(folder.c_str()) != 0)
            ::_exit(127);
        ::setenv("ASAN_OPTIONS", "exitcode=86", 0);
        ::setenv("UBSAN_OPTIONS", "exitcode=86", 0);
        ::setenv("CORVANE_MINIZIP_TRACE", "1", 1);
        if (refused != 0 && (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
                             ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0))
            ::_exit(125);
        ::execv(MINIZIP_BIN, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", readFile(err)};
}

std::string keptMessage(std::size_t bytes) {
    return "minizip: kept the first " + std::to_string(bytes) + " bytes of the archive\n";
}

const std::string wholeMessage = "minizip: writing the whole archive\n";

std::uint32_t centralDirectoryOffset(const std::string& archive) {
    return le32(archive, archive.size() - 22 + 16);
}

std::vector<std::string> leftoverTemporaries(const fs::path& folder) {
    std::vector<std::string> found;
    for (const std::string& name : tree(folder))
        if (name.starts_with("a.pk3."))
            found.push_back(name);
    return found;
}

struct Rewrite {
    const char* label;
    std::vector<std::string> before; // the archive's entries before the run; none: no archive
    std::vector<std::string> run;    // FILE arguments of the run, new contents for old names
    const char* keptBefore; // entry whose start ends the part kept as it was; "" all entries;
                            // null: the whole archive is written
};

void PrintTo(const Rewrite& p, std::ostream* os) {
    *os << p.label;
}

class WritesOnlyWhatChanged : public testing::TestWithParam<Rewrite> {};

// The reason for the custom source: libzip keeps the unchanged start of the archive and writes
// only what follows, instead of copying every entry on every run.
TEST_P(WritesOnlyWhatChanged, KeepsTheUnchangedStart) {
    const Rewrite& p = GetParam();
    TempDir dir;
    unsigned seed = 10;
    for (const std::string& name : p.before)
        writeFile(dir.path / name, gameLikeBytes(200000, seed++));
    if (!p.before.empty()) {
        ASSERT_EQ(addFiles(dir.path, p.before).code, 0);
    }
    const std::string old = readFile(dir.path / "a.pk3");
    std::size_t kept = 0;
    if (p.keptBefore && *p.keptBefore == '\0') {
        kept = centralDirectoryOffset(old);
    } else if (p.keptBefore) {
        for (const CentralEntry& e : centralDirectory(dir.path / "a.pk3"))
            if (e.name == p.keptBefore)
                kept = e.local;
        ASSERT_GT(kept, 0u);
    }
    for (const std::string& name : p.run)
        writeFile(dir.path / name, gameLikeBytes(150000, seed++));

    const Result r = traced(dir.path, p.run);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, p.keptBefore ? keptMessage(kept) : wholeMessage);
    const std::string now = readFile(dir.path / "a.pk3");
    EXPECT_EQ(now.substr(0, kept), old.substr(0, kept));
    std::vector<std::string> expected = p.before;
    expected.insert(expected.end(), p.run.begin(), p.run.end());
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    std::vector<std::string> found = names(dir.path / "a.pk3");
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
    for (const std::string& name : expected)
        EXPECT_EQ(entryData(dir.path / "a.pk3", name), readFile(dir.path / name)) << name;
    EXPECT_EQ(run("/usr/bin/unzip", {"-tq", "a.pk3"}, dir.path).code, 0);
    EXPECT_TRUE(leftoverTemporaries(dir.path).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Minizip, WritesOnlyWhatChanged,
    testing::Values(
        Rewrite{"NewArchive", {}, {"a.bin", "b.bin"}, nullptr},
        Rewrite{"AddOnly", {"a.bin", "b.bin"}, {"c.bin", "d.bin"}, ""},
        Rewrite{"ReplaceLast", {"a.bin", "b.bin", "c.bin"}, {"c.bin"}, "c.bin"},
        Rewrite{"ReplaceMiddleAndAdd", {"a.bin", "b.bin", "c.bin"}, {"d.bin", "b.bin"}, "b.bin"},
        Rewrite{"ReplaceFirst", {"a.bin", "b.bin"}, {"a.bin"}, nullptr}),
    [](const auto& info) { return std::string(info.param.label); });

struct Refusal {
    const char* label;
    int error; // of copy_file_range; 0 when it works
    bool kept; // whether the archive's start is still kept rather than written again
};

void PrintTo(const Refusal& p, std::ostream* os) {
    *os << p.label;
}

class CopyFileRange : public testing::TestWithParam<Refusal> {};

// Without copy_file_range the kept part is copied through the buffer; on a real error the
// copy is dropped and libzip writes the whole archive.
TEST_P(CopyFileRange, RefusedStillGivesTheSameArchive) {
    TempDir dir;
    // Several times the copy buffer, and not a multiple of it.
    writeFile(dir.path / "big.bin", gameLikeBytes((6 << 20) + 12345, 20));
    writeFile(dir.path / "small.txt", "small");
    ASSERT_EQ(addFiles(dir.path, {"big.bin"}).code, 0);
    const std::string old = readFile(dir.path / "a.pk3");
    const std::size_t end = centralDirectoryOffset(old);
    ASSERT_GT(end, 2u << 20);

    const Result r = traced(dir.path, {"small.txt"}, GetParam().error);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, GetParam().kept ? keptMessage(end) : wholeMessage);
    const std::string now = readFile(dir.path / "a.pk3");
    EXPECT_EQ(now.substr(0, end), old.substr(0, end));
    EXPECT_EQ(names(dir.path / "a.pk3"), (std::vector<std::string>{"big.bin", "small.txt"}));
    EXPECT_EQ(entryData(dir.path / "a.pk3", "small.txt"), "small");
    EXPECT_EQ(run("/usr/bin/unzip", {"-tq", "a.pk3"}, dir.path).code, 0);
    EXPECT_TRUE(leftoverTemporaries(dir.path).empty());
}

INSTANTIATE_TEST_SUITE_P(Minizip, CopyFileRange,
                         testing::Values(Refusal{"Works", 0, true},
                                         Refusal{"NotImplemented", ENOSYS, true},
                                         Refusal{"OtherFileSystem", EXDEV, true},
                                         Refusal{"Invalid", EINVAL, true},
                                         Refusal{"InputOutputError", EIO, false}),
                         [](const auto& info) { return std::string(info.param.label); });

struct Mode {
    const char* label;
    mode_t existing; // of the archive before the run; 0: no archive
    mode_t umask;
    mode_t expected;
};

void PrintTo(const Mode& p, std::ostream* os) {
    *os << p.label;
}

class ArchiveMode : public testing::TestWithParam<Mode> {};

TEST_P(ArchiveMode, KeptOrFromTheUmask) {
    TempDir dir;
    writeFile(dir.path / "x.txt", "x");
    writeFile(dir.path / "y.txt", "y");
    if (GetParam().existing != 0) {
        ASSERT_EQ(addFiles(dir.path, {"x.txt"}).code, 0);
        ASSERT_EQ(::chmod((dir.path / "a.pk3").c_str(), GetParam().existing), 0);
    }
    const mode_t saved = ::umask(GetParam().umask); // the child inherits it
    const Result r = addFiles(dir.path, {"y.txt"});
    ::umask(saved);
    ASSERT_EQ(r.code, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(::stat((dir.path / "a.pk3").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, GetParam().expected);
    EXPECT_TRUE(leftoverTemporaries(dir.path).empty());
}

INSTANTIATE_TEST_SUITE_P(Minizip, ArchiveMode,
                         testing::Values(Mode{"NewUsualUmask", 0, 022, 0644},
                                         Mode{"NewStrictUmask", 0, 027, 0640},
                                         Mode{"KeptOverUmask", 0604, 077, 0604},
                                         Mode{"KeptReadOnly", 0444, 022, 0444}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(Minizip, KilledRunLeavesTheArchiveAsItWas) {
    TempDir dir;
    writeFile(dir.path / "small.txt", "small");
    ASSERT_EQ(addFiles(dir.path, {"small.txt"}).code, 0);
    const std::string before = readFile(dir.path / "a.pk3");
    std::string big = gameLikeBytes(48 << 20, 6);
    writeFile(dir.path / "big.bin", big);
    big.clear();
    const pid_t pid = start(MINIZIP_BIN, {"-a", "a.pk3", "big.bin"}, dir.path);
    // Kill it once it is writing its new archive.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool writing = false;
    while (!writing && std::chrono::steady_clock::now() < deadline) {
        for (const std::string& name : tree(dir.path))
            writing = writing ||
                      (name.starts_with("a.pk3.") && fs::file_size(dir.path / name) > (1u << 20));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(writing) << "minizip finished or never started writing";
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(readFile(dir.path / "a.pk3"), before);
    EXPECT_EQ(run("/usr/bin/unzip", {"-tq", "a.pk3"}, dir.path).code, 0);
}

} // namespace
