// The pak tool, run as a child process on packs written byte by byte by the tests.

#include "support/support.h"

#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace corvane::test;

namespace {

// A root with an archive, a work folder (the current folder) and an outside folder.
struct Layout {
    Layout() { makeTree(root.path(), {"work/", "outside/"}); }
    TempDir root;
    QString pak = root.file("a.pak"), work = root.file("work"), outside = root.file("outside");
};

TEST(Pak, CreateListExtractRoundTripAndNamedMembers) {
    TempDir dir;
    const Members files = {
        {"Mixed/Case.TXT", "x"},
        {"empty.txt", ""},
        {"maps/base1.bsp", gameLikeBytes(qsizetype(600) * 1024, 1)}, // larger than the copy buffer
        {"sound/boss3/bs3atck1.wav", gameLikeBytes(70000, 3)},
        {"sound/the-longest-name-a-pack-holds-is-55-bytes-xxx.wav", "55"},
    };
    QByteArray listing;
    for (const auto& [name, data] : files) {
        writeFile(dir.file("src/" + name), data);
        listing += name + '\t' + QByteArray::number(data.size()) + '\n';
    }
    // Never loaded from where pak works; a link at a member's name is replaced, not written
    // through.
    makeTree(dir.path(), {"libz.so.1", "keep", "out/empty.txt -> ../keep", "named/"});
    ASSERT_EQ(run(CORVANE_PAK, {"-c", "a.pak", "src"}, dir.path()).exitCode, 0);
    writeFile(dir.file("long/sound/" + QString(50, 'n')));
    const Finished tooLong = run(CORVANE_PAK, {"-c", "long.pak", "long"}, dir.path());
    EXPECT_NE(tooLong.exitCode, 0);
    EXPECT_TRUE(tooLong.err.contains("name longer than 55 bytes")) << tooLong.err;
    EXPECT_EQ(run(CORVANE_PAK, {"-l", "a.pak"}, dir.path()).out, listing);
    // A listing that cannot be written whole fails.
    const Finished full = run(CORVANE_PAK, {"-l", "a.pak"}, dir.path(), {}, [] {
        const int device = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        if (device < 0 || ::dup2(device, STDOUT_FILENO) != STDOUT_FILENO)
            ::_exit(99);
    });
    EXPECT_EQ(full.exitCode, 2) << full.err;
    EXPECT_TRUE(full.err.contains(QByteArray("standard output: ") + strerror(ENOSPC))) << full.err;
    ASSERT_EQ(run(CORVANE_PAK, {"-x", dir.file("a.pak")}, dir.file("out")).exitCode, 0);
    EXPECT_EQ(snapshot(dir.file("out")), snapshot(dir.file("src")));
    // Where the file system has no unnamed files, each member is written under a temporary
    // name first, and nothing of those names stays.
    makeDirs(dir.file("plain"));
    ASSERT_EQ(
        run(CORVANE_PAK, {"-x", dir.file("a.pak")}, dir.file("plain"), {}, withoutUnnamedFiles)
            .exitCode,
        0);
    EXPECT_EQ(snapshot(dir.file("plain")), snapshot(dir.file("src")));
    EXPECT_EQ(readFile(dir.file("keep")), "x");

    // Named members: exact or ignoring case, however late the names differ; a missing one
    // does not stop the others.
    writeFile(dir.file("named.pak"),
              packBytes({{"a.pcx", "a"}, {"pics/TAG2.PCX", "2"}, {"pics/TAG1.PCX", "1"}}));
    const Finished named =
        run(CORVANE_PAK, {"-x", "../named.pak", "pics/tag1.pcx", "nope.wav"}, dir.file("named"));
    EXPECT_EQ(named.exitCode, 1);
    EXPECT_TRUE(named.err.contains("nope.wav")) << named.err;
    EXPECT_EQ(tree(dir.file("named")), (QStringList{"pics/", "pics/TAG1.PCX"}));
    EXPECT_EQ(readFile(dir.file("named/pics/TAG1.PCX")), "1");
}

struct Bad {
    const char* name;
    QByteArray bytes;     // of the archive, or of the member's name
    QString entry = {};   // instead, what makeTree() makes as the archive
    QByteArray said = {}; // in the complaint, when it must be there
};

class RefusedArchive : public testing::TestWithParam<Bad> {};

// Nothing is written for an archive that is not a pack, or not a regular file: a FIFO is
// refused at once, never waited on, and a link below the current folder is not followed.
TEST_P(RefusedArchive, WritesNothing) {
    Layout layout;
    writeFile(layout.outside + "/real.pak", packBytes({{"good.txt", "fine"}}));
    if (!GetParam().entry.isEmpty())
        makeTree(layout.work, {GetParam().entry});
    else if (GetParam().bytes != "missing")
        writeFile(layout.work + "/a.pak", GetParam().bytes);
    const QStringList before = tree(layout.work);
    const Finished r = run(CORVANE_PAK, {"-x", "a.pak"}, layout.work);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.startsWith("pak: ") && r.err.count('\n') == 1) << r.err;
    EXPECT_EQ(tree(layout.work), before);
}

const QByteArray good = packBytes({{"good.txt", "fine"}});

INSTANTIATE_TEST_SUITE_P(
    Pak, RefusedArchive,
    testing::Values(
        Bad{"Empty", ""}, Bad{"ShortHeader", "PACK\0\0"}, Bad{"WrongMagic", "KCAP" + good.mid(4)},
        Bad{"DirectoryPastEnd", patched(good, 4, 1000)},
        Bad{"DirectoryLengthNotWhole", patched(good, 8, 65)},
        Bad{"AbsurdCount", patched(good, 8, 64 * 70000)},
        Bad{"DirectoryOverlapsHeader", patched(good, 4, 4)},
        Bad{"OffsetWraps", patched(good, 4, 0xffffffc0)}, Bad{"Fifo", {}, "a.pak|"},
        Bad{"Link", {}, "a.pak -> ../outside/real.pak"}, Bad{"Folder", {}, "a.pak/"},
        Bad{"Missing", "missing"},
        // Written again and again, the bytes would fill the disk.
        Bad{"MembersShareTheirBytes",
            patched(packBytes({{"a.bsp", "0123456789"}, {"b.bsp", "x"}}), 12 + 11 + 64 + 56, 14)}),
    kRowName);

class SkippedMember : public testing::TestWithParam<Bad> {};

TEST_P(SkippedMember, OthersAreStillExtracted) {
    QByteArray name = GetParam().bytes;
    const bool locked = name.startsWith("locked/"); // a folder only its owner can write to
    if (locked && rerunUnprivileged())
        return;
    Layout layout;
    name.replace("@ROOT@", QFile::encodeName(layout.root.path())); // an absolute path in it
    QByteArray pak = packBytes({{"good.txt", "fine"}, {name, "evil"}});
    if (name == "past-end")
        pak = patched(pak, pak.size() - 8, 5000);
    writeFile(layout.pak, pak);
    // What already stands in the work folder: a program, a link to a folder outside, a pk3,
    // a folder only its owner may write to.
    writeFile(layout.work + "/minizip", "#!/bin/sh\n");
    setMode(layout.work + "/minizip", 0755);
    makeTree(layout.work, {"models -> ../outside", "pak0.pk3", "locked/"});
    setMode(layout.work + "/locked", 0555);
    auto expected = snapshot(layout.root.path());
    const Finished r = run(CORVANE_PAK, {"-x", layout.pak}, layout.work);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(r.err.contains("skipped") && r.err.contains(GetParam().said)) << r.err;
    expected["work/good.txt"] = "fine";
    EXPECT_EQ(snapshot(layout.root.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pak, SkippedMember,
    testing::Values(Bad{"ParentComponent", "../outside/evil"},
                    Bad{"DeepParent", "a/../../outside/evil"},
                    Bad{"Absolute", "@ROOT@/outside/evil"}, Bad{"DriveLetter", "C:/evil"},
                    Bad{"EmptyComponent", "a//evil"}, Bad{"DotComponent", "./evil"},
                    Bad{"EmptyName", ""}, Bad{"NoNul", QByteArray(56, 'n')},
                    Bad{"ControlCharacter", "evil\x1b[2J", {}, "evil\\x1b[2J"},
                    Bad{"Backslash", "..\\outside\\evil"}, Bad{"DataPastEnd", "past-end"},
                    Bad{"ThroughLinkedFolder", "models/evil.md2"}, Bad{"Program", "MINIZIP"},
                    Bad{"Archive", "pak0.PK3"}, Bad{"NewArchive", "maps/new.pk3"},
                    Bad{"Journal", "pak0.pk3-Journal"},
                    Bad{"SecondOfAName", "GOOD.txt"}, // Quake 2 reads the first
                    Bad{"UnwritableFolder", "locked/evil", {}, "Permission denied"}),
    kRowName);

// A disk that cannot take a member stops the run there, with the system's own words and no
// half-written member left. Where this process may mount one, a small disk in memory runs out
// of room for the member's bytes, of room for its file, or is read-only; elsewhere a file size
// limit on the child stands in for a full disk. On another file system than the pack's,
// members are copied by reading and writing.
TEST(Pak, StopsAtTheFirstWriteFailure) {
    Layout layout;
    writeFile(
        layout.pak,
        packBytes({{"small.txt", "small"}, {"big.bin", QByteArray(300000, 'b')}, {"z.txt", "z"}}));
    const struct {
        qint64 bytes;
        int files;
        bool readOnly;
        int error;
    } disks[] = {
        {100000, 0, false, ENOSPC}, {1 << 20, 2, false, ENOSPC}, {1 << 20, 0, true, EROFS}};
    for (const auto& full : disks) {
        TempDir work("/dev/shm/corvane");
        const MemoryDisk disk(work.path(), full.bytes, full.files, full.readOnly);
        const Finished r =
            run(CORVANE_PAK, {"-x", layout.pak}, work.path(), {}, [mounted = disk.mounted()] {
                const rlimit limit{100000, 100000};
                if (!mounted)
                    ::setrlimit(RLIMIT_FSIZE, &limit);
            });
        const bool readOnly = full.readOnly && disk.mounted();
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_TRUE(r.err.contains(readOnly ? "small.txt" : "big.bin") &&
                    r.err.contains(strerror(disk.mounted() ? full.error : EFBIG)))
            << r.err;
        EXPECT_EQ(tree(work.path()), readOnly ? QStringList{} : QStringList{"small.txt"});
    }
}

// Killed at any moment, extraction leaves only whole members, and the next run completes.
TEST(Pak, KilledRunsLeaveOnlyWholeMembers) {
    Layout layout;
    Members members;
    for (int i = 0; i < 60; ++i)
        members.emplace_back("d" + QByteArray::number(i % 4) + "/f" + QByteArray::number(i),
                             gameLikeBytes(40000 + i * 1000, unsigned(i)));
    writeFile(layout.pak, packBytes(members));
    QRandomGenerator random(7);
    for (int trial = 0; trial < 15; ++trial) {
        killAfter(CORVANE_PAK, {"-x", layout.pak}, layout.work, random.bounded(8000));
        for (const auto& [name, data] : snapshot(layout.work).asKeyValueRange())
            EXPECT_TRUE(name.endsWith('/') || data.size() == 40000 + 1000 * name.mid(4).toInt())
                << name; // "dN/fI": 40000 + 1000 I bytes
    }
    ASSERT_EQ(run(CORVANE_PAK, {"-x", layout.pak}, layout.work).exitCode, 0);
    EXPECT_EQ(tree(layout.work).size(), qsizetype(members.size()) + 4); // and the folders d0 to d3
}

} // namespace
