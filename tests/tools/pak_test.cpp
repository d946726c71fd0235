// The pak tool, run as a child process on packs made by the tests.

#include "pak_format.h"
#include "tool_test_support.h"

#include <gtest/gtest.h>

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

// `bytes` with a little-endian value written at `at`.
std::string patched(std::string bytes, std::size_t at, std::uint32_t value) {
    pak::writeLe32(reinterpret_cast<unsigned char*>(bytes.data() + at), value);
    return bytes;
}

// A root with an archive, an empty work folder (the current folder) and an outside folder.
struct Layout {
    TempDir root;
    fs::path pak = root.path / "a.pak", work = root.path / "work", outside = root.path / "outside";
    Layout() {
        fs::create_directories(work);
        fs::create_directories(outside);
    }
    Result extract(const std::string& bytes, std::vector<std::string> names = {}) {
        writeFile(pak, bytes);
        names.insert(names.begin(), {"-x", pak.string()});
        return run(PAK_BIN, names, work);
    }
};

TEST(Pak, CreateListExtractRoundTrip) {
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"Mixed/Case.TXT", "x"},
        {"empty.txt", ""},
        {"maps/base1.bsp", gameLikeBytes(600 * 1024, 1)}, // larger than the copy buffer
        {"pics/tag1.pcx", gameLikeBytes(9000, 2)},
        {"sound/boss3/bs3atck1.wav", gameLikeBytes(70000, 3)},
    };
    std::string listing;
    for (const auto& [name, data] : files) {
        writeFile(dir.path / "src" / name, data);
        listing += name + "\t" + std::to_string(data.size()) + "\n";
    }
    fs::create_directories(dir.path / "out");
    ASSERT_EQ(run(PAK_BIN, {"-c", "a.pak", "src"}, dir.path).code, 0);
    const Result listed = run(PAK_BIN, {"-l", "a.pak"}, dir.path);
    EXPECT_EQ(listed.code, 0);
    EXPECT_EQ(listed.out, listing);
    ASSERT_EQ(run(PAK_BIN, {"-x", "../a.pak"}, dir.path / "out").code, 0);
    EXPECT_EQ(tree(dir.path / "out"), tree(dir.path / "src"));
    for (const auto& [name, data] : files)
        EXPECT_EQ(readFile(dir.path / "out" / name), data) << name;

    // Named members: exact or ignoring case; a missing one does not stop the others.
    fs::create_directories(dir.path / "named");
    const Result named =
        run(PAK_BIN, {"-x", "../a.pak", "PICS/TAG1.PCX", "nope.wav"}, dir.path / "named");
    EXPECT_EQ(named.code, 1);
    EXPECT_NE(named.err.find("nope.wav"), std::string::npos);
    EXPECT_EQ(tree(dir.path / "named"), (std::vector<std::string>{"pics", "pics/tag1.pcx"}));
}

TEST(Pak, CreateRefusesNamesTooLongToStore) {
    TempDir dir;
    writeFile(dir.path / "src" / std::string(56, 'n'), "x");
    EXPECT_EQ(run(PAK_BIN, {"-c", "a.pak", "src"}, dir.path).code, 1);
    EXPECT_FALSE(fs::exists(dir.path / "a.pak"));
    EXPECT_EQ(tree(dir.path), (std::vector<std::string>{"src", "src/" + std::string(56, 'n')}));
}

struct BadArchive {
    const char* label;
    std::string bytes;
};

void PrintTo(const BadArchive& p, std::ostream* os) {
    *os << p.label;
}

class RefusedArchive : public testing::TestWithParam<BadArchive> {};

TEST_P(RefusedArchive, WritesNothing) {
    Layout layout;
    const Result r = layout.extract(GetParam().bytes);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(fs::is_empty(layout.work));
}

const std::string good = makePak({{"good.txt", "fine"}});

INSTANTIATE_TEST_SUITE_P(
    Pak, RefusedArchive,
    testing::Values(BadArchive{"Empty", ""}, BadArchive{"ShortHeader", "PACK\0\0"},
                    BadArchive{"WrongMagic", "KCAP" + good.substr(4)},
                    BadArchive{"DirectoryPastEnd", patched(good, 4, 1000)},
                    BadArchive{"DirectoryLengthNotWhole", patched(good, 8, 65)},
                    BadArchive{"AbsurdCount", patched(good, 8, 64 * 70000)},
                    BadArchive{"DirectoryOverlapsHeader", patched(good, 4, 4)},
                    BadArchive{"OffsetWraps", patched(good, 4, 0xffffffc0)}),
    [](const auto& info) { return std::string(info.param.label); });

struct BadMember {
    const char* label;
    Member member;
};

void PrintTo(const BadMember& p, std::ostream* os) {
    *os << p.label;
}

class SkippedMember : public testing::TestWithParam<BadMember> {};

TEST_P(SkippedMember, OthersAreStillExtracted) {
    Layout layout;
    Member bad = GetParam().member;
    if (bad.name.starts_with("@ROOT@")) // an absolute path into the test's own folder
        bad.name.replace(0, 6, layout.root.path.string());
    const Result r = layout.extract(makePak({bad, {"good.txt", "fine"}}));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("skipped"), std::string::npos) << r.err;
    EXPECT_EQ(tree(layout.root.path),
              (std::vector<std::string>{"a.pak", "outside", "work", "work/good.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Pak, SkippedMember,
                         testing::Values(BadMember{"ParentComponent", {"../outside/evil", "x"}},
                                         BadMember{"DeepParent", {"a/../../outside/evil", "x"}},
                                         BadMember{"Absolute", {"@ROOT@/outside/evil", "x"}},
                                         BadMember{"DriveLetter", {"C:/evil", "x"}},
                                         BadMember{"EmptyComponent", {"a//evil", "x"}},
                                         BadMember{"DotComponent", {"./evil", "x"}},
                                         BadMember{"EmptyName", {"", "x"}},
                                         BadMember{"NoNul", {std::string(56, 'n'), "x"}},
                                         BadMember{"ControlCharacter", {"evil\x1b[2J", "x"}},
                                         BadMember{"Backslash", {"..\\outside\\evil", "x"}},
                                         BadMember{"DataPastEnd", {"evil", "x", 5000}}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(Pak, NeverWritesThroughSymbolicLinks) {
    Layout layout;
    writeFile(layout.outside / "target", "keep");
    fs::create_directory_symlink(layout.outside, layout.work / "models");
    fs::create_symlink(layout.outside / "target", layout.work / "link.txt");
    writeFile(layout.work / "good.txt", "old");
    const Result r = layout.extract(makePak({{"models/evil.md2", "x"},
                                             {"link.txt", "new"},
                                             {"good.txt", "fine"},
                                             {"good.txt", "2nd"}}));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(tree(layout.outside), std::vector<std::string>{"target"});
    EXPECT_EQ(readFile(layout.outside / "target"), "keep");
    // A link at the final name is replaced, never followed; the first of two names wins.
    EXPECT_FALSE(fs::is_symlink(layout.work / "link.txt"));
    EXPECT_EQ(readFile(layout.work / "link.txt"), "new");
    EXPECT_EQ(readFile(layout.work / "good.txt"), "fine");
    EXPECT_EQ(tree(layout.work), (std::vector<std::string>{"good.txt", "link.txt", "models"}));
}

} // namespace
