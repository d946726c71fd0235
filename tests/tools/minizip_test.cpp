// The minizip tool, run as a child process; its archives are checked by other zip readers and
// by reading their bytes.

#include "tool_test_support.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <sstream>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace tooltest;

namespace {

struct Entry {
    std::string name;
    int method;
    std::string time;   // year-month-day-hour-minute-second, as stored
    std::size_t extra;  // bytes of extra fields; Quake 3-engine readers accept none
    std::size_t offset; // of the local header
};

// The central directory as Python's zipfile reads it, in order, after the offset at which it
// starts (as the first entry's offset).
std::vector<Entry> listing(const fs::path& archive) {
    const Result r = run("/usr/bin/python3",
                         {"-c",
                          "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
                          "print('-', 0, '-', 0, z.start_dir)\nfor i in z.infolist():\n"
                          "  print(i.filename, i.compress_type, '%d-%d-%d-%d-%d-%d' % "
                          "i.date_time, len(i.extra), i.header_offset)",
                          archive.string()},
                         archive.parent_path());
    EXPECT_EQ(r.code, 0) << r.err;
    std::vector<Entry> entries;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        Entry e;
        fields >> e.name >> e.method >> e.time >> e.extra >> e.offset;
        if (e.name == "-")
            e.name.clear();
        EXPECT_EQ(e.extra, 0u) << e.name;
        entries.push_back(e);
    }
    return entries;
}

std::vector<std::string> names(const fs::path& archive) {
    std::vector<std::string> result;
    for (const Entry& e : listing(archive))
        if (!e.name.empty())
            result.push_back(e.name);
    std::sort(result.begin(), result.end());
    return result;
}

Result addFiles(const fs::path& folder, std::vector<std::string> files,
                const std::function<void()>& setup = {}) {
    files.insert(files.begin(), {"-a", "a.pk3"});
    return run(minizipBin(), files, folder, setup);
}

std::string entryData(const fs::path& archive, const std::string& name) {
    return run("/usr/bin/unzip", {"-p", archive.string(), name}, archive.parent_path()).out;
}

// Every CRC good, to unzip and to Python's zipfile.
void expectSound(const fs::path& folder) {
    EXPECT_EQ(run("/usr/bin/unzip", {"-tq", "a.pk3"}, folder).code, 0);
    const Result python = run("/usr/bin/python3",
                              {"-c", "import sys, zipfile; sys.exit(zipfile.ZipFile('a.pk3')"
                                     ".testzip() is not None)"},
                              folder);
    EXPECT_EQ(python.code, 0) << python.err;
}

TEST(Minizip, AddsAcrossRunsIntoAnArchiveOtherReadersAccept) {
    TempDir dir;
    const std::string wall = gameLikeBytes(100000, 4),
                      noise = gameLikeBytes(4000, 5).substr(0, 4000);
    writeFile(dir.path / "textures/wall.tga", wall);
    writeFile(dir.path / "sound/boss3/bs3atck1.wav", noise); // random: stored, as zip does
    writeFile(dir.path / "PICS/TAG1.PCX", "tag");
    writeFile(dir.path / "empty.txt", "");
    std::tm when{};
    when.tm_year = 101, when.tm_mon = 1, when.tm_mday = 3, when.tm_hour = 4, when.tm_min = 5,
    when.tm_sec = 6, when.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&when), 0}, {std::mktime(&when), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir.path / "textures/wall.tga").c_str(), times, 0), 0);

    EXPECT_EQ(addFiles(dir.path, {"textures\\wall.tga", "empty.txt"}).code, 0);
    // Letter case and separators as the program passes them.
    EXPECT_EQ(addFiles(dir.path, {"sound\\boss3\\BS3ATCK1.WAV", "pics\\tag1.pcx"}).code, 0);
    const std::vector<Entry> entries = listing(dir.path / "a.pk3");
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[1].name, "textures/wall.tga");
    EXPECT_EQ(entries[1].method, 8);
    EXPECT_EQ(entries[1].time, "2001-2-3-4-5-6");
    EXPECT_EQ(entries[3].name, "sound/boss3/BS3ATCK1.WAV");
    EXPECT_EQ(entries[3].method, 0);
    EXPECT_EQ(entryData(dir.path / "a.pk3", "textures/wall.tga"), wall);
    EXPECT_EQ(entryData(dir.path / "a.pk3", "sound/boss3/BS3ATCK1.WAV"), noise);
    EXPECT_EQ(entryData(dir.path / "a.pk3", "pics/tag1.pcx"), "tag");
    expectSound(dir.path);
    if (fs::exists("/usr/bin/7z")) {
        EXPECT_EQ(run("/usr/bin/7z", {"t", "a.pk3"}, dir.path).code, 0);
    }
}

struct Runs {
    const char* label;
    std::vector<std::vector<std::string>> runs; // FILE arguments of each run, in order
    std::vector<std::string> expected;          // entry names at the end
    bool startWithDuplicates = false;           // begin with an archive holding a name twice
};

void PrintTo(const Runs& p, std::ostream* os) {
    *os << p.label;
}

class ReplacesEntries : public testing::TestWithParam<Runs> {};

TEST_P(ReplacesEntries, EachNameOnce) {
    TempDir dir;
    writeFile(dir.path / "other.txt", "other");
    writeFile(dir.path / "SUB/F.TXT", "f");
    if (GetParam().startWithDuplicates) {
        const Result made = run("/usr/bin/python3",
                                {"-W", "ignore", "-c",
                                 "import zipfile\nwith zipfile.ZipFile('a.pk3', 'w') as z:\n"
                                 "  z.writestr('maps/x.bsp', 'one')\n"
                                 "  z.writestr('MAPS/X.bsp', 'two')\n"},
                                dir.path);
        ASSERT_EQ(made.code, 0) << made.err;
    }
    std::string last;
    for (std::size_t i = 0; i < GetParam().runs.size(); ++i) {
        last = "version " + std::to_string(i) + std::string(i * 5000, 'v');
        writeFile(dir.path / "maps/x.bsp", last);
        EXPECT_EQ(addFiles(dir.path, GetParam().runs[i]).code, 0);
    }
    EXPECT_EQ(names(dir.path / "a.pk3"), GetParam().expected);
    EXPECT_EQ(entryData(dir.path / "a.pk3", "maps/x.bsp"), last);
    expectSound(dir.path);
}

INSTANTIATE_TEST_SUITE_P(
    Minizip, ReplacesEntries,
    testing::Values(
        Runs{"LaterRun",
             {{"maps\\x.bsp", "other.txt"}, {"maps\\x.bsp"}},
             {"maps/x.bsp", "other.txt"}},
        Runs{"SameRun", {{"maps\\x.bsp", "other.txt", "maps/x.bsp"}}, {"maps/x.bsp", "other.txt"}},
        Runs{"FirstOfMany",
             {{"maps\\x.bsp", "other.txt", "SUB\\F.TXT"}, {"maps/x.bsp"}},
             {"SUB/F.TXT", "maps/x.bsp", "other.txt"}},
        Runs{"OtherCaseKeepsTheNewSpelling",
             {{"SUB\\F.TXT", "MAPS\\X.BSP"}, {"sub/f.txt", "maps/x.bsp"}},
             {"maps/x.bsp", "sub/f.txt"}},
        Runs{"ArchiveHeldItTwice",
             {{"other.txt", "maps\\x.bsp"}},
             {"maps/x.bsp", "other.txt"},
             true}),
    [](const auto& info) { return std::string(info.param.label); });

struct Unreadable {
    const char* label;
    std::string file;
};

void PrintTo(const Unreadable& p, std::ostream* os) {
    *os << p.label;
}

class UnreadableFile : public testing::TestWithParam<Unreadable> {};

TEST_P(UnreadableFile, IsReportedAndTheRestAdded) {
    TempDir dir;
    fs::create_directories(dir.path / "folder");
    writeFile(dir.path / "outside/secret.txt", "secret");
    fs::create_symlink(dir.path / "gone", dir.path / "dangling");
    fs::create_symlink(dir.path / "outside/secret.txt", dir.path / "link.txt");
    fs::create_directory_symlink(dir.path / "outside", dir.path / "linked");
    ASSERT_EQ(::mkfifo((dir.path / "fifo").c_str(), 0600), 0);
    writeFile(dir.path / "locked.txt", "locked");
    fs::permissions(dir.path / "locked.txt", fs::perms::none);
    if (GetParam().file == "locked.txt" && ::geteuid() == 0)
        GTEST_SKIP() << "root reads any file; the unprivileged run covers this";
    writeFile(dir.path / "good.txt", "good");
    const std::string file =
        GetParam().file == "@ABS@" ? (dir.path / "good.txt").string() : GetParam().file;
    const Result r = addFiles(dir.path, {file, "good.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.starts_with("minizip: ") && r.err.find("not added") != std::string::npos)
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(names(dir.path / "a.pk3"), std::vector<std::string>{"good.txt"});
}

INSTANTIATE_TEST_SUITE_P(
    Minizip, UnreadableFile,
    testing::Values(Unreadable{"Folder", "folder"}, Unreadable{"DanglingLink", "dangling"},
                    Unreadable{"Link", "link.txt"},
                    Unreadable{"InLinkedFolder", "linked\\secret.txt"}, Unreadable{"Fifo", "fifo"},
                    Unreadable{"Missing", "missing.txt"}, Unreadable{"NoPermission", "locked.txt"},
                    Unreadable{"Absolute", "@ABS@"}, Unreadable{"ParentFolder", "..\\good.txt"}),
    [](const auto& info) { return std::string(info.param.label); });

class BrokenArchive : public testing::TestWithParam<Unreadable> {};

TEST_P(BrokenArchive, IsLeftAlone) {
    TempDir dir;
    writeFile(dir.path / "x.txt", "x");
    writeFile(dir.path / "real.pk3", "");
    const std::string kind = GetParam().file;
    if (kind == "fifo")
        ASSERT_EQ(::mkfifo((dir.path / "a.pk3").c_str(), 0600), 0);
    else if (kind == "link")
        fs::create_symlink(dir.path / "real.pk3", dir.path / "a.pk3");
    else
        writeFile(dir.path / "a.pk3", kind);
    const std::vector<std::string> before = tree(dir.path);
    const Result r = addFiles(dir.path, {"x.txt"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.starts_with("minizip: a.pk3: ")) << r.err;
    EXPECT_EQ(tree(dir.path), before);
    EXPECT_EQ(readFile(dir.path / "real.pk3"), "");
}

const std::string endRecord("PK\5\6\0\0\0\0\1\0\1\0\0\0\0\0\0\0\0\0\0\0", 22);

INSTANTIATE_TEST_SUITE_P(
    Minizip, BrokenArchive,
    testing::Values(Unreadable{"Text", "not a zip archive at all, but someone's file"},
                    Unreadable{"Empty", ""}, // someone's too, not an archive to fill
                    Unreadable{"DirectoryCutShort", endRecord}, Unreadable{"Fifo", "fifo"},
                    Unreadable{"Link", "link"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Minizip, NoFilesChangesNothing) {
    TempDir dir;
    EXPECT_EQ(addFiles(dir.path, {}).code, 0);
    EXPECT_TRUE(fs::is_empty(dir.path));
}

struct Rewrite {
    const char* label;
    std::vector<std::string> before; // the archive's entries before the run; none: no archive
    std::vector<std::string> run;    // FILE arguments of the run, new contents for old names
    const char* way;                 // how minizip says it writes
    mode_t mode = 0;                 // of the archive before the run, when set
};

void PrintTo(const Rewrite& p, std::ostream* os) {
    *os << p.label;
}

// Enough entries that the bytes after the first are too many to save to a journal.
std::vector<std::string> manyNames() {
    std::vector<std::string> names;
    for (int i = 0; i < 50; ++i)
        names.push_back((i < 10 ? "f0" : "f") + std::to_string(i) + ".bin");
    return names;
}

class WritesOnlyWhatChanged : public testing::TestWithParam<Rewrite> {};

// Entries before the first one replaced stay as they are; after the run nothing but the archive
// is left beside it, and the archive keeps its mode.
TEST_P(WritesOnlyWhatChanged, KeepsTheUnchangedStart) {
    const Rewrite& p = GetParam();
    TempDir dir;
    unsigned seed = 10;
    for (const std::string& name : p.before)
        writeFile(dir.path / name, gameLikeBytes(200000, seed++));
    if (!p.before.empty()) {
        ASSERT_EQ(addFiles(dir.path, p.before).code, 0);
    }
    if (p.mode)
        fs::permissions(dir.path / "a.pk3", fs::perms(p.mode));
    const std::string old = p.before.empty() ? "" : readFile(dir.path / "a.pk3");
    std::size_t kept = 0; // the central directory's offset, or the first replaced entry's
    for (const Entry& e : p.before.empty() ? std::vector<Entry>{} : listing(dir.path / "a.pk3"))
        if (e.name.empty() || std::find(p.run.begin(), p.run.end(), e.name) != p.run.end())
            kept = e.name.empty() ? e.offset : std::min(kept, e.offset);
    for (const std::string& name : p.run)
        writeFile(dir.path / name, gameLikeBytes(150000, seed++));

    const Result r = addFiles(dir.path, p.run, [] { ::setenv("CORVANE_MINIZIP_TRACE", "1", 1); });
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "minizip: " + std::string(p.way) + " after the first " + std::to_string(kept) +
                         " bytes\n");
    const std::string now = readFile(dir.path / "a.pk3");
    EXPECT_EQ(now.substr(0, kept), old.substr(0, kept));
    std::vector<std::string> expected = p.before;
    expected.insert(expected.end(), p.run.begin(), p.run.end());
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(names(dir.path / "a.pk3"), expected);
    for (const std::string& name : expected)
        EXPECT_EQ(entryData(dir.path / "a.pk3", name), readFile(dir.path / name)) << name;
    expectSound(dir.path);
    expected.push_back("a.pk3");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(tree(dir.path), expected);
    if (p.mode) {
        EXPECT_EQ(fs::status(dir.path / "a.pk3").permissions(), fs::perms(p.mode));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Minizip, WritesOnlyWhatChanged,
    testing::Values(
        Rewrite{"NewArchive", {}, {"a.bin", "b.bin"}, "writing a new archive"},
        Rewrite{"AddOnly", {"a.bin", "b.bin"}, {"c.bin", "d.bin"}, "updating in place"},
        Rewrite{"ReplaceLast", {"a.bin", "b.bin", "c.bin"}, {"c.bin"}, "updating in place"},
        Rewrite{"ReplaceMiddleAndAdd",
                {"a.bin", "b.bin", "c.bin"},
                {"d.bin", "b.bin"},
                "updating in place"},
        Rewrite{"ReplaceFirstOfMany", manyNames(), {"f00.bin"}, "writing a new archive"},
        // Only root may write a read-only archive in place; anyone gets a new one.
        Rewrite{"ReadOnlyArchive",
                {"a.bin"},
                {"b.bin"},
                ::geteuid() == 0 ? "updating in place" : "writing a new archive",
                0444}),
    [](const auto& info) { return std::string(info.param.label); });

// A full disk, or a file size limit standing in for one: the archive stays as it was and
// nothing is left beside it.
TEST(Minizip, WriteFailureLeavesTheArchiveAsItWas) {
    TempDir dir;
    const fs::path folder = dir.path;
    const bool mounted = ::mount("corvane-test", folder.c_str(), "tmpfs", 0, "size=1m") == 0;
    writeFile(folder / "small.txt", gameLikeBytes(300000, 1));
    ASSERT_EQ(addFiles(folder, {"small.txt"}).code, 0);
    // On the 1 MB disk the file fits, but not its entry too.
    writeFile(folder / "big.bin", gameLikeBytes(mounted ? 500000 : 600000, 2));
    const std::string before = readFile(folder / "a.pk3");
    const Result r = addFiles(folder, {"big.bin"}, [mounted] {
        const rlimit limit{400000, 400000};
        if (!mounted)
            ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find("left as it was"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(folder / "a.pk3"), before);
    EXPECT_EQ(tree(folder), (std::vector<std::string>{"a.pk3", "big.bin", "small.txt"}));
    if (mounted)
        ::umount2(folder.c_str(), MNT_DETACH);
    else
        std::cout << "[ NOTE     ] no tmpfs could be mounted: a file size limit stood in\n";
}

// Killed at any instant, a run leaves the archive with the old entries or the new ones once
// the next run has recovered it, never a mix, and nothing beside it.
TEST(Minizip, KilledRunsLeaveTheOldEntriesOrTheNew) {
    TempDir dir;
    std::vector<std::string> first, second;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        writeFile(dir.path / name, gameLikeBytes(20000 + 3000 * i, unsigned(i)));
        (i < 20 ? first : second).push_back(name);
    }
    std::mt19937 random(11);
    for (int trial = 0; trial < 12; ++trial) {
        fs::remove(dir.path / "a.pk3");
        ASSERT_EQ(addFiles(dir.path, first).code, 0);
        std::vector<std::string> args{"-a", "a.pk3"};
        args.insert(args.end(), second.begin(), second.end());
        killAfter(start(minizipBin(), args, dir.path), long(random() % 6000));
        ASSERT_EQ(addFiles(dir.path, {}).code, 0); // recovers
        std::vector<std::string> all = first;
        all.insert(all.end(), second.begin(), second.end());
        std::sort(all.begin(), all.end());
        std::vector<std::string> sortedFirst = first;
        std::sort(sortedFirst.begin(), sortedFirst.end());
        const std::vector<std::string> found = names(dir.path / "a.pk3");
        EXPECT_TRUE(found == sortedFirst || found == all) << found.size() << " entries";
        expectSound(dir.path);
        EXPECT_EQ(tree(dir.path).size(), all.size() + 1);
    }
}

// Each folder is listed once per run however many names are looked up in it ignoring case.
TEST(Minizip, ManyWrongCaseNamesInALargeFolder) {
    TempDir dir;
    for (int i = 0; i < 50000; ++i)
        writeFile(dir.path / "big" / ("file" + std::to_string(i) + ".wal"), "");
    std::vector<std::string> files;
    for (int i = 0; i < 10000; ++i)
        files.push_back("BIG\\FILE" + std::to_string(i * 5) + ".WAL");
    const Result r = addFiles(dir.path, files);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(names(dir.path / "a.pk3").size(), files.size());
}

} // namespace
