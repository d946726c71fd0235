// The pak tool, run as a child process on packs written byte by byte by the tests.

#include "pak_format.h"
#include "tool_test_support.h"

#include <gtest/gtest.h>

#include <random>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace tooltest;

namespace {

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
    Result extract(const std::string& bytes, std::vector<std::string> names = {},
                   const std::function<void()>& setup = {}) {
        writeFile(pak, bytes);
        names.insert(names.begin(), {"-x", pak.string()});
        return run(pakBin(), names, work, setup);
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
    fs::create_directories(dir.path / "out");
    ASSERT_EQ(run(pakBin(), {"-c", "a.pak", "src"}, dir.path).code, 0);
    EXPECT_EQ(run(pakBin(), {"-l", "a.pak"}, dir.path).out, listing);
    ASSERT_EQ(run(pakBin(), {"-x", (dir.path / "a.pak").string()}, dir.path / "out").code, 0);
    EXPECT_EQ(tree(dir.path / "out"), tree(dir.path / "src"));
    for (const auto& [name, data] : files)
        EXPECT_EQ(readFile(dir.path / "out" / name), data) << name;

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

void PrintTo(const Bad& p, std::ostream* os) {
    *os << p.label;
}

class RefusedArchive : public testing::TestWithParam<Bad> {};

TEST_P(RefusedArchive, WritesNothing) {
    Layout layout;
    const Result r = layout.extract(GetParam().bytes);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(fs::is_empty(layout.work));
}

const std::string good = makePak({{"good.txt", "fine"}});

INSTANTIATE_TEST_SUITE_P(Pak, RefusedArchive,
                         testing::Values(Bad{"Empty", ""}, Bad{"ShortHeader", "PACK\0\0"},
                                         Bad{"WrongMagic", "KCAP" + good.substr(4)},
                                         Bad{"DirectoryPastEnd", patched(good, 4, 1000)},
                                         Bad{"DirectoryLengthNotWhole", patched(good, 8, 65)},
                                         Bad{"AbsurdCount", patched(good, 8, 64 * 70000)},
                                         Bad{"DirectoryOverlapsHeader", patched(good, 4, 4)},
                                         Bad{"OffsetWraps", patched(good, 4, 0xffffffc0)}),
                         [](const auto& info) { return std::string(info.param.label); });

// Not regular files: a FIFO must be refused at once, never waited on.
TEST(Pak, RefusesPipesLinksAndFolders) {
    Layout layout;
    ASSERT_EQ(::mkfifo((layout.work / "pak1.pak").c_str(), 0600), 0);
    writeFile(layout.outside / "real.pak", good);
    fs::create_symlink(layout.outside / "real.pak", layout.work / "link.pak");
    for (const char* archive : {"pak1.pak", "link.pak", ".", "missing.pak"}) {
        const Result r = run(pakBin(), {"-x", archive}, layout.work);
        EXPECT_EQ(r.code, 2) << archive;
        EXPECT_TRUE(r.err.starts_with("pak: ")) << r.err;
    }
    EXPECT_EQ(tree(layout.work), (std::vector<std::string>{"link.pak", "pak1.pak"}));
}

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
    writeFile(layout.pak, makePak({bad, {"good.txt", "fine"}}));
    const std::vector<std::string> before = tree(layout.root.path);
    const Result r = run(pakBin(), {"-x", layout.pak.string()}, layout.work);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("skipped"), std::string::npos) << r.err;
    std::vector<std::string> after = before;
    after.push_back("work/good.txt");
    std::sort(after.begin(), after.end());
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
                    Bad{"NewArchive", "maps/new.pk3"}, Bad{"Journal", "pak0.pk3-Journal"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Pak, LinksAtTheFinalNameAreReplacedNotFollowed) {
    Layout layout;
    writeFile(layout.outside / "target", "keep");
    fs::create_symlink(layout.outside / "target", layout.work / "link.txt");
    const Result r =
        layout.extract(makePak({{"link.txt", "new"}, {"good.txt", "fine"}, {"GOOD.txt", "2nd"}}));
    EXPECT_EQ(r.code, 1); // the second member of one name ignoring case
    EXPECT_EQ(readFile(layout.outside / "target"), "keep");
    EXPECT_FALSE(fs::is_symlink(layout.work / "link.txt"));
    EXPECT_EQ(readFile(layout.work / "link.txt"), "new");
    EXPECT_EQ(tree(layout.work), (std::vector<std::string>{"good.txt", "link.txt"}));
}

// The disk filling up stops the run at the first member that does not fit, with no
// half-written member left: a file size limit on the child stands in for a full disk.
TEST(Pak, StopsAtTheFirstWriteFailure) {
    Layout layout;
    const Result r = layout.extract(
        makePak({{"small.txt", "small"}, {"big.bin", std::string(300000, 'b')}, {"z.txt", "z"}}),
        {}, [] {
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
        const pid_t pid = start(pakBin(), {"-x", layout.pak.string()}, layout.work);
        killAfter(pid, long(random() % 8000));
        for (const std::string& name : tree(layout.work)) {
            if (fs::is_regular_file(layout.work / name)) {
                EXPECT_EQ(fs::file_size(layout.work / name),
                          members[std::stoul(name.substr(name.find('f') + 1))].data.size())
                    << name;
            }
        }
    }
    ASSERT_EQ(run(pakBin(), {"-x", layout.pak.string()}, layout.work).code, 0);
    std::size_t files = 0;
    for (const std::string& name : tree(layout.work))
        files += fs::is_regular_file(layout.work / name);
    EXPECT_EQ(files, members.size());
}

} // namespace
