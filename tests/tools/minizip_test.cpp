// The minizip tool, run as a child process; its archives are checked by other zip readers and
// by reading their bytes.

#include "pak_format.h"
#include "tool_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

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
        entries.push_back({name, le16(b, at + 10), le16(b, at + 12), le16(b, at + 14)});
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

TEST(Minizip, BrokenArchiveIsLeftAlone) {
    TempDir dir;
    writeFile(dir.path / "a.pk3", "not a zip archive at all, but someone's file");
    writeFile(dir.path / "x.txt", "x");
    EXPECT_EQ(addFiles(dir.path, {"x.txt"}).code, 2);
    EXPECT_EQ(readFile(dir.path / "a.pk3"), "not a zip archive at all, but someone's file");
}

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
