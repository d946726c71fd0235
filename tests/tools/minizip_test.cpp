// The minizip tool, run as a child process; its archives are checked by other zip readers and
// by reading their bytes.

#include "tool_test_support.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include <libdeflate.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace tooltest;

namespace {

std::string minizipBin() {
    return toolBin("CORVANE_MINIZIP_BIN", MINIZIP_BIN);
}

// Table rows print as their labels.
template <class Row>
requires requires(const Row& row) {
    row.label;
}
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.label;
}

struct Entry {
    std::string name;
    int method;
    std::string time;   // year-month-day-hour-minute-second, as stored
    std::size_t offset; // of the local header
    std::size_t size;   // of the stored bytes
};

// The central directory as Python's zipfile reads it, in order, after the offset at which it
// starts (as the first entry's offset). Every CRC must be good, and no entry may have an extra
// field: Quake 3-engine readers accept none.
std::vector<Entry> listing(const fs::path& archive) {
    const Result r = run("/usr/bin/python3",
                         {"-c",
                          "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
                          "assert z.testzip() is None and not any(i.extra for i in z.infolist())\n"
                          "print('-', 0, '-', z.start_dir, 0)\nfor i in z.infolist():\n"
                          "  print(i.filename, i.compress_type, '%d-%d-%d-%d-%d-%d' % "
                          "i.date_time, i.header_offset, i.compress_size)",
                          archive.string()},
                         archive.parent_path());
    EXPECT_EQ(r.code, 0) << r.err;
    std::vector<Entry> entries;
    std::istringstream fields(r.out);
    for (Entry e; fields >> e.name >> e.method >> e.time >> e.offset >> e.size;)
        entries.push_back({e.name == "-" ? "" : e.name, e.method, e.time, e.offset, e.size});
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

// Every CRC good to unzip (and to Python's zipfile in listing()).
void expectSound(const fs::path& folder) {
    EXPECT_EQ(run("/usr/bin/unzip", {"-tq", "a.pk3"}, folder).code, 0);
}

// The method and bytes zip -6 would store, by minizip's rule: libdeflate's level 6 for files of
// at most 8 MiB, zlib's for larger ones, the file as it is when deflate does not shrink it.
std::pair<int, std::string> deflated(const std::string& data) {
    std::string out(data.size() + 1024, '\0');
    std::size_t n = 0;
    if (data.size() <= std::size_t(8) << 20) {
        libdeflate_compressor* c = libdeflate_alloc_compressor(6);
        n = data.size() < 2 ? 0
                            : libdeflate_deflate_compress(c, data.data(), data.size(), out.data(),
                                                          data.size() - 1);
        libdeflate_free_compressor(c);
    } else {
        z_stream z{};
        deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z.avail_in = uInt(data.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, Z_FINISH);
        n = z.total_out < data.size() ? z.total_out : 0;
        deflateEnd(&z);
    }
    return n > 0 ? std::pair(8, out.substr(0, n)) : std::pair(0, data);
}

// Each entry holds exactly the bytes libdeflate or zlib made, written by libzip as they are,
// with no extra field, across runs, and every reader accepts the archive.
TEST(Minizip, EntriesHoldTheDeflatedBytesAsTheyAre) {
    TempDir dir;
    struct File {
        const char* onDisk;
        const char* given; // as the program passes it: other letter case, backslashes
        std::string data;
    };
    const File files[] = {{"textures/wall.tga", "textures\\wall.tga", gameLikeBytes(100000, 4)},
                          {"empty.txt", "empty.txt", ""},
                          {"maps/big.bsp", "maps/big.bsp", gameLikeBytes((9 << 20) + 5, 6)},
                          {"snd/bs3atck1.wav", "snd\\BS3ATCK1.WAV", gameLikeBytes(4000, 5, false)},
                          {"PICS/TAG1.PCX", "pics\\tag1.pcx", "tag"},
                          {"video/noise.cin", "video/noise.cin", gameLikeBytes(9 << 20, 7, false)}};
    std::map<std::string, std::string> data; // by entry name
    for (const File& file : files) {
        writeFile(dir.path / file.onDisk, file.data);
        std::string name = file.given;
        std::replace(name.begin(), name.end(), '\\', '/');
        data[name] = file.data;
    }
    // A library in the folder minizip works in is never loaded.
    for (const char* library : {"libz.so.1", "libzip.so.4", "libc.so.6"})
        writeFile(dir.path / library, "not a library");
    std::tm when{6, 5, 4, 3, 1, 101, 0, 0, -1, 0, nullptr}; // 2001-02-03 04:05:06 local time
    const timespec times[2] = {{std::mktime(&when), 0}, {std::mktime(&when), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir.path / "textures/wall.tga").c_str(), times, 0), 0);
    // With no file, no archive: an empty one would pass for a finished conversion.
    EXPECT_EQ(addFiles(dir.path, {}).code, 0);
    EXPECT_FALSE(fs::exists(dir.path / "a.pk3"));
    for (int run = 0; run < 2; ++run) {
        const Result r = addFiles(
            dir.path, {files[3 * run].given, files[3 * run + 1].given, files[3 * run + 2].given});
        ASSERT_EQ(r.code, 0) << r.err;
    }
    const std::string archive = readFile(dir.path / "a.pk3");
    const auto at = [&](std::size_t i) { return std::size_t(std::uint8_t(archive[i])); };
    for (const Entry& e : listing(dir.path / "a.pk3")) {
        if (e.name.empty())
            continue;
        SCOPED_TRACE(e.name);
        const auto [method, bytes] = deflated(data.at(e.name));
        data.erase(e.name);
        EXPECT_EQ(e.method, method);
        EXPECT_EQ(at(e.offset + 28) | at(e.offset + 29), 0u); // no local extra field
        const std::size_t start = e.offset + 30 + (at(e.offset + 26) | at(e.offset + 27) << 8);
        EXPECT_TRUE(archive.compare(start, e.size, bytes) == 0 && e.size == bytes.size());
        EXPECT_TRUE(e.name != "textures/wall.tga" || e.time == "2001-2-3-4-5-6") << e.time;
    }
    EXPECT_TRUE(data.empty());
    expectSound(dir.path);
    EXPECT_TRUE(!fs::exists("/usr/bin/7z") ||
                run("/usr/bin/7z", {"t", "a.pk3"}, dir.path).code == 0);
}

struct Runs {
    const char* label;
    std::vector<std::vector<std::string>> runs; // FILE arguments of each run, in order
    std::vector<std::string> expected;          // entry names at the end
    bool startWithDuplicates = false;           // begin with an archive holding a name twice
};

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

class UnreadableFile : public testing::TestWithParam<Unreadable> {};

TEST_P(UnreadableFile, IsReportedAndTheRestAdded) {
    TempDir dir;
    fs::create_directories(dir.path / "folder");
    writeFile(dir.path / "outside/secret.txt", "secret");
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
    testing::Values(Unreadable{"Folder", "folder"}, Unreadable{"Link", "link.txt"},
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

struct Rewrite {
    const char* label;
    std::vector<std::string> before; // the archive's entries before the run; none: no archive
    std::vector<std::string> run;    // FILE arguments of the run, new contents for old names
    const char* way;                 // how minizip says it writes
    mode_t mode = 0;                 // of the archive before the run, when set
};

std::vector<std::string> manyNames() {
    std::vector<std::string> names;
    for (int i = 10; i < 60; ++i)
        names.push_back("f" + std::to_string(i) + ".bin");
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

    const Result r = addFiles(dir.path, p.run, [] {
        ::setenv("CORVANE_MINIZIP_TRACE", "1", 1);
        ::umask(077); // the archive keeps its mode all the same
    });
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "minizip: " + std::string(p.way) + " after the first " + std::to_string(kept) +
                         " bytes\n");
    const std::string now = readFile(dir.path / "a.pk3");
    EXPECT_EQ(now.substr(0, kept), old.substr(0, kept));
    std::set<std::string> expected(p.before.begin(), p.before.end());
    expected.insert(p.run.begin(), p.run.end());
    EXPECT_EQ(names(dir.path / "a.pk3"), std::vector(expected.begin(), expected.end()));
    for (const std::string& name : expected)
        EXPECT_EQ(entryData(dir.path / "a.pk3", name), readFile(dir.path / name)) << name;
    expectSound(dir.path);
    expected.insert("a.pk3");
    EXPECT_EQ(tree(dir.path), std::vector(expected.begin(), expected.end()));
    EXPECT_TRUE(!p.mode || fs::status(dir.path / "a.pk3").permissions() == fs::perms(p.mode));
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
        // So many bytes after the first entry that they are not saved to a journal.
        Rewrite{"ReplaceFirstOfMany", manyNames(), {"f10.bin"}, "writing a new archive"},
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
}

// Killed at any instant, a run leaves the archive with the old entries or the new ones once
// the next run has recovered it, never a mix, and nothing beside it.
TEST(Minizip, KilledRunsLeaveTheOldEntriesOrTheNew) {
    TempDir dir;
    std::vector<std::string> first, all, args{"-a", "a.pk3"};
    for (int i = 10; i < 50; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        writeFile(dir.path / name, gameLikeBytes(20000 + 3000 * i, unsigned(i)));
        (i < 30 ? first : args).push_back(name);
        all.push_back(name);
    }
    std::mt19937 random(11);
    for (int trial = 0; trial < 12; ++trial) {
        fs::remove(dir.path / "a.pk3");
        ASSERT_EQ(addFiles(dir.path, first).code, 0);
        killAfter(minizipBin(), args, dir.path, long(random() % 60000));
        ASSERT_EQ(addFiles(dir.path, {}).code, 0); // recovers
        const std::vector<std::string> found = names(dir.path / "a.pk3");
        EXPECT_TRUE(found == first || found == all) << found.size() << " entries";
        expectSound(dir.path);
        EXPECT_EQ(tree(dir.path).size(), all.size() + 1);
    }
}

} // namespace
