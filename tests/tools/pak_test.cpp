// The pak tool, run as a child process on packs written byte by byte by the tests.

#include "pak_format.h"
#include "tool_test_support.h"

#include <gtest/gtest.h>

#include <random>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace tooltest;

namespace {

std::string pakBin() {
    return toolBin("CORVANE_PAK_BIN", PAK_BIN);
}

struct Member {
    std::string name;
    std::string data;
    long long offsetShift = 0; // moves the stored offset, e.g. past the end of the file
};

// A pack of `members`: header, data, then the directory.
std::string makePak(const std::vector<Member>& members) {
    std::string data, dir;
    for (const Member& m : members) {
        unsigned char entry[pak::entrySize] = {};
        std::copy_n(m.name.data(), std::min(m.name.size(), pak::nameSize), entry);
        pak::writeLe32(entry + 56, std::uint32_t(pak::headerSize + data.size() + m.offsetShift));
        pak::writeLe32(entry + 60, std::uint32_t(m.data.size()));
        dir.append(reinterpret_cast<char*>(entry), sizeof entry);
        data += m.data;
    }
    unsigned char head[pak::headerSize] = {'P', 'A', 'C', 'K'};
    pak::writeLe32(head + 4, std::uint32_t(pak::headerSize + data.size()));
    pak::writeLe32(head + 8, std::uint32_t(dir.size()));
    return std::string(reinterpret_cast<char*>(head), sizeof head) + data + dir;
}

std::string patched(std::string bytes, std::size_t at, std::uint32_t value) {
    pak::writeLe32(reinterpret_cast<unsigned char*>(bytes.data() + at), value);
    return bytes;
}

// A root with an archive, a work folder (the current folder) and an outside folder.
struct Layout {
    TempDir root;
    fs::path pak = root.path / "a.pak", work = root.path / "work", outside = root.path / "outside";
    Layout() {
        fs::create_directories(work);
        fs::create_directories(outside);
    }
};

TEST(Pak, CreateListExtractRoundTrip) {
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"Mixed/Case.TXT", "x"},
        {"empty.txt", ""},
        {"maps/base1.bsp", gameLikeBytes(600 * 1024, 1)}, // larger than the copy buffer
        {"sound/boss3/bs3atck1.wav", gameLikeBytes(70000, 3)},
    };
    std::string listing;
    for (const auto& [name, data] : files) {
        writeFile(dir.path / "src" / name, data);
        listing += name + "\t" + std::to_string(data.size()) + "\n";
    }
    writeFile(dir.path / "libz.so.1", "not a library"); // never loaded from where pak works
    // A link at a member's name is replaced, not written through.
    writeFile(dir.path / "keep", "keep");
    fs::create_directories(dir.path / "out");
    fs::create_symlink(dir.path / "keep", dir.path / "out/empty.txt");
    ASSERT_EQ(run(pakBin(), {"-c", "a.pak", "src"}, dir.path).code, 0);
    EXPECT_EQ(run(pakBin(), {"-l", "a.pak"}, dir.path).out, listing);
    ASSERT_EQ(run(pakBin(), {"-x", (dir.path / "a.pak").string()}, dir.path / "out").code, 0);
    EXPECT_EQ(tree(dir.path / "out"), tree(dir.path / "src"));
    for (const auto& [name, data] : files)
        EXPECT_EQ(readFile(dir.path / "out" / name), data) << name;
    EXPECT_FALSE(fs::is_symlink(dir.path / "out/empty.txt"));
    EXPECT_EQ(readFile(dir.path / "keep"), "keep");

    // Named members: exact or ignoring case; a missing one does not stop the others.
    fs::create_directories(dir.path / "named");
    const Result named =
        run(pakBin(), {"-x", "../a.pak", "MIXED/case.txt", "nope.wav"}, dir.path / "named");
    EXPECT_EQ(named.code, 1);
    EXPECT_NE(named.err.find("nope.wav"), std::string::npos);
    EXPECT_EQ(tree(dir.path / "named"), (std::vector<std::string>{"Mixed", "Mixed/Case.TXT"}));
}

struct Bad {
    const char* label;
    std::string bytes;
};

void PrintTo(const Bad& row, std::ostream* os) {
    *os << row.label;
}

class RefusedArchive : public testing::TestWithParam<Bad> {};

// Nothing is written for an archive that is not a pack, or not a regular file: a FIFO is
// refused at once, never waited on, and a link below the current folder is not followed.
TEST_P(RefusedArchive, WritesNothing) {
    Layout layout;
    const std::string& bytes = GetParam().bytes;
    writeFile(layout.outside / "real.pak", makePak({{"good.txt", "fine"}}));
    if (bytes == "fifo")
        ASSERT_EQ(::mkfifo((layout.work / "a.pak").c_str(), 0600), 0);
    else if (bytes == "link")
        fs::create_symlink(layout.outside / "real.pak", layout.work / "a.pak");
    else if (bytes == "folder")
        fs::create_directory(layout.work / "a.pak");
    else if (bytes != "missing")
        writeFile(layout.work / "a.pak", bytes);
    const std::vector<std::string> before = tree(layout.work);
    const Result r = run(pakBin(), {"-x", "a.pak"}, layout.work);
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.starts_with("pak: ") && std::count(r.err.begin(), r.err.end(), '\n') == 1)
        << r.err;
    EXPECT_EQ(tree(layout.work), before);
}

const std::string good = makePak({{"good.txt", "fine"}});

INSTANTIATE_TEST_SUITE_P(Pak, RefusedArchive,
                         testing::Values(Bad{"Empty", ""}, Bad{"ShortHeader", "PACK\0\0"},
                                         Bad{"WrongMagic", "KCAP" + good.substr(4)},
                                         Bad{"DirectoryPastEnd", patched(good, 4, 1000)},
                                         Bad{"DirectoryLengthNotWhole", patched(good, 8, 65)},
                                         Bad{"AbsurdCount", patched(good, 8, 64 * 70000)},
                                         Bad{"DirectoryOverlapsHeader", patched(good, 4, 4)},
                                         Bad{"OffsetWraps", patched(good, 4, 0xffffffc0)},
                                         Bad{"Fifo", "fifo"}, Bad{"Link", "link"},
                                         Bad{"Folder", "folder"}, Bad{"Missing", "missing"}),
                         [](const auto& info) { return std::string(info.param.label); });

class SkippedMember : public testing::TestWithParam<Bad> {};

TEST_P(SkippedMember, OthersAreStillExtracted) {
    Layout layout;
    std::string name = GetParam().bytes;
    if (name.starts_with("@ROOT@")) // an absolute path into the test's own folder
        name.replace(0, 6, layout.root.path.string());
    Member bad{name, "evil", name == "past-end" ? 5000 : 0};
    // What already stands in the work folder: a program, a link to a folder outside, a pk3.
    writeFile(layout.work / "minizip", "#!/bin/sh\n");
    fs::permissions(layout.work / "minizip", fs::perms(0755));
    fs::create_directory_symlink(layout.outside, layout.work / "models");
    writeFile(layout.work / "pak0.pk3", "archive");
    writeFile(layout.pak, makePak({{"good.txt", "fine"}, bad}));
    const std::vector<std::string> before = tree(layout.root.path);
    const Result r = run(pakBin(), {"-x", layout.pak.string()}, layout.work);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("skipped"), std::string::npos) << r.err;
    std::vector<std::string> after = before;
    after.insert(std::upper_bound(after.begin(), after.end(), "work/good.txt"), "work/good.txt");
    EXPECT_EQ(tree(layout.root.path), after);
    EXPECT_EQ(readFile(layout.work / "minizip"), "#!/bin/sh\n");
    EXPECT_EQ(readFile(layout.work / "pak0.pk3"), "archive");
}

INSTANTIATE_TEST_SUITE_P(
    Pak, SkippedMember,
    testing::Values(Bad{"ParentComponent", "../outside/evil"},
                    Bad{"DeepParent", "a/../../outside/evil"},
                    Bad{"Absolute", "@ROOT@/outside/evil"}, Bad{"DriveLetter", "C:/evil"},
                    Bad{"EmptyComponent", "a//evil"}, Bad{"DotComponent", "./evil"},
                    Bad{"EmptyName", ""}, Bad{"NoNul", std::string(56, 'n')},
                    Bad{"ControlCharacter", "evil\x1b[2J"}, Bad{"Backslash", "..\\outside\\evil"},
                    Bad{"DataPastEnd", "past-end"}, Bad{"ThroughLinkedFolder", "models/evil.md2"},
                    Bad{"Program", "MINIZIP"}, Bad{"Archive", "pak0.PK3"},
                    Bad{"NewArchive", "maps/new.pk3"}, Bad{"Journal", "pak0.pk3-Journal"},
                    Bad{"SecondOfAName", "GOOD.txt"}), // Quake 2 reads the first
    [](const auto& info) { return std::string(info.param.label); });

// The disk filling up stops the run at the first member that does not fit, with no
// half-written member left: a file size limit on the child stands in for a full disk.
TEST(Pak, StopsAtTheFirstWriteFailure) {
    Layout layout;
    writeFile(
        layout.pak,
        makePak({{"small.txt", "small"}, {"big.bin", std::string(300000, 'b')}, {"z.txt", "z"}}));
    const Result r = run(pakBin(), {"-x", layout.pak.string()}, layout.work, [] {
        const rlimit limit{100000, 100000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("big.bin"), std::string::npos) << r.err;
    EXPECT_EQ(tree(layout.work), std::vector<std::string>{"small.txt"});
}

// Killed at any moment, extraction leaves only whole members, and the next run completes.
TEST(Pak, KilledRunsLeaveOnlyWholeMembers) {
    Layout layout;
    std::vector<Member> members;
    for (int i = 0; i < 60; ++i)
        members.push_back({"d" + std::to_string(i % 4) + "/f" + std::to_string(i),
                           gameLikeBytes(40000 + i * 1000, unsigned(i))});
    writeFile(layout.pak, makePak(members));
    std::mt19937 random(7);
    for (int trial = 0; trial < 15; ++trial) {
        killAfter(pakBin(), {"-x", layout.pak.string()}, layout.work, long(random() % 8000));
        for (const std::string& name : tree(layout.work)) { // "dN/fI": 40000 + 1000 I bytes
            const fs::path path = layout.work / name;
            EXPECT_TRUE(!is_regular_file(path) ||
                        file_size(path) == 40000 + 1000 * stoul(name.substr(4)));
        }
    }
    ASSERT_EQ(run(pakBin(), {"-x", layout.pak.string()}, layout.work).code, 0);
    EXPECT_EQ(tree(layout.work).size(), members.size() + 4); // and the folders d0 to d3
}

} // namespace
