// The minizip tool, run as a child process; its archives are checked by other zip readers and
// by reading their bytes.

#include "support/support.h"

#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <libdeflate.h>
#include <zlib.h>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace corvane::test;

namespace {

struct Entry {
    QString name;
    int method;
    QByteArray time;        // year-month-day-hour-minute-second, as stored
    qsizetype offset, size; // of the local header, of the stored bytes
};

// The central directory as Python's zipfile reads it, in order, after the offset at which it
// starts (as the first entry's offset, with no name). Every CRC must be good, and no entry may
// have an extra field: Quake 3-engine readers accept none.
std::vector<Entry> listing(const QString& archive) {
    const Finished r =
        run("python3", {"-c",
                        "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
                        "assert z.testzip() is None and not any(i.extra for i in z.infolist())\n"
                        "print('', 0, '-', z.start_dir, 0, sep='/')\nfor i in z.infolist():\n"
                        "  print(i.filename, i.compress_type, '%d-%d-%d-%d-%d-%d' % "
                        "i.date_time, i.header_offset, i.compress_size, sep='/')",
                        archive});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<Entry> entries;
    for (const QByteArray& line : r.out.split('\n')) {
        const QList<QByteArray> f = line.split('/');
        if (f.size() >= 5)
            entries.push_back({f.mid(0, f.size() - 4).join('/'), f.end()[-4].toInt(), f.end()[-3],
                               f.end()[-2].toLongLong(), f.end()[-1].toLongLong()});
    }
    return entries;
}

QStringList names(const QString& archive) {
    QStringList result;
    for (const Entry& e : listing(archive))
        if (!e.name.isEmpty())
            result << e.name;
    result.sort();
    return result;
}

Finished addFiles(const QString& folder, const QStringList& files,
                  const QStringList& environment = {}, const std::function<void()>& inChild = {}) {
    return run(CORVANE_MINIZIP, QStringList{"-a", "a.pk3"} + files, folder, environment, inChild);
}

QByteArray entryData(const QString& folder, const QString& name) {
    return run("unzip", {"-p", "a.pk3", name}, folder).out;
}

// Every CRC good to unzip (and to Python's zipfile in listing()).
void expectSound(const QString& folder) {
    EXPECT_EQ(run("unzip", {"-tq", "a.pk3"}, folder).exitCode, 0);
}

// The method and bytes zip -6 would store, by minizip's rule: libdeflate's level 6 for files of
// at most 8 MiB, zlib's for larger ones, the file as it is when deflate does not shrink it.
std::pair<int, QByteArray> deflated(const QByteArray& data) {
    QByteArray out(data.size() + 1024, '\0');
    std::size_t n = 0;
    if (data.size() <= 8 << 20) {
        libdeflate_compressor* c = libdeflate_alloc_compressor(6);
        n = data.size() < 2 ? 0
                            : libdeflate_deflate_compress(c, data.data(), std::size_t(data.size()),
                                                          out.data(), std::size_t(data.size() - 1));
        libdeflate_free_compressor(c);
    } else {
        z_stream z{};
        deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z.avail_in = uInt(data.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, Z_FINISH);
        n = z.total_out < uLong(data.size()) ? z.total_out : 0;
        deflateEnd(&z);
    }
    return n > 0 ? std::pair(8, out.left(qsizetype(n))) : std::pair(0, data);
}

// Each entry holds exactly the bytes libdeflate or zlib made, written by libzip as they are,
// with no extra field, across runs, and every reader accepts the archive.
TEST(Minizip, EntriesHoldTheDeflatedBytesAsTheyAre) {
    TempDir dir;
    const struct {
        const char* onDisk;
        QString given; // as the program passes it: other letter case, backslashes
        QByteArray data;
    } files[] = {{"snd/bs3atck1.wav", "snd\\BS3ATCK1.WAV", gameLikeBytes(4000, 5, false)},
                 {"textures/wall.tga", "textures\\wall.tga", gameLikeBytes(100000, 4)},
                 {"maps/big.bsp", "maps/big.bsp", gameLikeBytes((9 << 20) + 5, 6)},
                 {"empty.txt", "empty.txt", ""},
                 {"PICS/TAG1.PCX", "pics\\tag1.pcx", "tag"},
                 {"video/noise.cin", "video/noise.cin", gameLikeBytes(9 << 20, 7, false)}};
    QMap<QString, QByteArray> data; // by entry name
    for (const auto& file : files) {
        writeFile(dir.file(file.onDisk), file.data);
        data[QString(file.given).replace('\\', '/')] = file.data;
    }
    // A library in the folder minizip works in is never loaded.
    makeTree(dir.path(), {"libz.so.1", "libzip.so.4", "libc.so.6"});
    QFile wall(dir.file("textures/wall.tga"));
    ASSERT_TRUE(wall.open(QIODevice::ReadWrite) &&
                wall.setFileTime(QDateTime({2001, 2, 3}, {4, 5, 6}), QFile::FileModificationTime));
    // With no file, no archive: an empty one would pass for a finished conversion.
    EXPECT_EQ(addFiles(dir.path(), {}).exitCode, 0);
    EXPECT_FALSE(QFile::exists(dir.file("a.pk3")));
    for (int run = 0; run < 2; ++run) {
        const Finished r =
            addFiles(dir.path(), {files[size_t(3 * run)].given, files[size_t(3 * run + 1)].given,
                                  files[size_t(3 * run + 2)].given});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    const QByteArray archive = readFile(dir.file("a.pk3"));
    const auto at = [&](qsizetype i) { return quint8(archive[i]); };
    for (const Entry& e : listing(dir.file("a.pk3"))) {
        if (e.name.isEmpty())
            continue;
        SCOPED_TRACE(e.name.toStdString());
        const auto [method, bytes] = deflated(data.take(e.name));
        EXPECT_EQ(e.method, method);
        EXPECT_EQ(at(e.offset + 28) | at(e.offset + 29), 0); // no local extra field
        const qsizetype start = e.offset + 30 + (at(e.offset + 26) | at(e.offset + 27) << 8);
        EXPECT_TRUE(archive.mid(start, e.size) == bytes && e.size == bytes.size());
        EXPECT_TRUE(e.name != "textures/wall.tga" || e.time == "2001-2-3-4-5-6") << e.time;
    }
    EXPECT_TRUE(data.isEmpty());
    expectSound(dir.path());
}

struct Runs {
    const char* name;
    std::vector<QStringList> runs;    // FILE arguments of each run, in order
    QStringList expected;             // entry names at the end
    bool startWithDuplicates = false; // begin with an archive holding a name twice
};

class ReplacesEntries : public testing::TestWithParam<Runs> {};

TEST_P(ReplacesEntries, EachNameOnce) {
    TempDir dir;
    makeTree(dir.path(), {"other.txt", "SUB/F.TXT"});
    if (GetParam().startWithDuplicates) {
        const Finished made = run("python3",
                                  {"-W", "ignore", "-c",
                                   "import zipfile\nwith zipfile.ZipFile('a.pk3', 'w') as z:\n"
                                   "  z.writestr('maps/x.bsp', 'one')\n"
                                   "  z.writestr('MAPS/X.bsp', 'two')\n"},
                                  dir.path());
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }
    QByteArray last;
    for (std::size_t i = 0; i < GetParam().runs.size(); ++i) {
        last = "version " + QByteArray::number(i) + QByteArray(qsizetype(i) * 5000, 'v');
        writeFile(dir.file("maps/x.bsp"), last);
        EXPECT_EQ(addFiles(dir.path(), GetParam().runs[i]).exitCode, 0);
    }
    EXPECT_EQ(names(dir.file("a.pk3")), GetParam().expected);
    EXPECT_EQ(entryData(dir.path(), "maps/x.bsp"), last);
    expectSound(dir.path());
}

INSTANTIATE_TEST_SUITE_P(Minizip, ReplacesEntries,
                         testing::Values(Runs{"SameRun",
                                              {{"maps\\x.bsp", "other.txt", "maps/x.bsp"}},
                                              {"maps/x.bsp", "other.txt"}},
                                         Runs{"OtherCaseKeepsTheNewSpelling",
                                              {{"SUB\\F.TXT", "MAPS\\X.BSP"},
                                               {"sub/f.txt", "maps/x.bsp"}},
                                              {"maps/x.bsp", "sub/f.txt"}},
                                         Runs{"DotsAndDoubledSeparatorsDropped",
                                              {{".\\maps\\\\x.bsp", "sub/./f.txt"}},
                                              {"maps/x.bsp", "sub/f.txt"}},
                                         Runs{"ArchiveHeldItTwice",
                                              {{"other.txt", "maps\\x.bsp"}},
                                              {"maps/x.bsp", "other.txt"},
                                              true}),
                         kRowName);

struct Refused {
    const char* name;
    QString file;                 // a FILE argument, or what makeTree() makes as the archive
    const char* reason = nullptr; // the words that say why, where they matter
};

class UnreadableFile : public testing::TestWithParam<Refused> {};

TEST_P(UnreadableFile, IsReportedAndTheRestAdded) {
    if (GetParam().file == "locked.txt" && rerunUnprivileged())
        return; // root reads any file
    TempDir dir;
    makeTree(dir.path(), {"folder/", "outside/secret.txt", "link.txt -> outside/secret.txt",
                          "linked -> outside", "fifo|", "locked.txt", "good.txt", "C:"});
    setMode(dir.file("locked.txt"), 0);
    const QString file = GetParam().file;
    auto before = snapshot(dir.path());
    const Finished r = addFiles(dir.path(), {file, "good.txt"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith("minizip: ") && r.err.contains("not added")) << r.err;
    EXPECT_TRUE(!GetParam().reason || r.err.contains(GetParam().reason)) << r.err;
    EXPECT_EQ(r.err.count('\n'), 1) << r.err;
    EXPECT_EQ(names(dir.file("a.pk3")), QStringList{"good.txt"});
    before.insert("a.pk3", readFile(dir.file("a.pk3"))); // and nothing else is made
    EXPECT_EQ(snapshot(dir.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Minizip, UnreadableFile,
    testing::Values(Refused{"Folder", "folder"},
                    Refused{"Link", "link.txt", ": a symbolic link, not added"},
                    Refused{"InLinkedFolder", "linked\\secret.txt"}, Refused{"Fifo", "fifo"},
                    Refused{"Missing", "missing.txt"}, Refused{"InMissingFolder", "nowhere\\x.txt"},
                    Refused{"NoPermission", "locked.txt"},
                    // Rooted, though good.txt is here.
                    Refused{"Rooted", "/good.txt"}, Refused{"RootedBackslash", "\\good.txt"},
                    Refused{"DriveLetter", "C:"}, Refused{"ParentFolder", "..\\good.txt"}),
    kRowName);

class BrokenArchive : public testing::TestWithParam<Refused> {};

TEST_P(BrokenArchive, IsLeftAlone) {
    TempDir dir;
    makeTree(dir.path(), {"x.txt", "real.pk3"});
    if (GetParam().file.startsWith("a.pk3"))
        makeTree(dir.path(), {GetParam().file});
    else
        writeFile(dir.file("a.pk3"), GetParam().file.toLatin1());
    const auto before = snapshot(dir.path());
    const Finished r = addFiles(dir.path(), {"x.txt"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.startsWith("minizip: a.pk3")) << r.err; // the archive, or its journal
    EXPECT_TRUE(!GetParam().reason || r.err.contains(GetParam().reason)) << r.err;
    EXPECT_EQ(snapshot(dir.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Minizip, BrokenArchive,
    testing::Values(Refused{"Text", "not a zip archive at all, but someone's file"},
                    Refused{"Empty", ""}, // someone's too, not an archive to fill
                    Refused{"DirectoryCutShort",
                            QString::fromLatin1("PK\5\6\0\0\0\0\1\0\1\0\0\0\0\0\0\0\0\0\0\0", 22)},
                    Refused{"Fifo", "a.pk3|"},
                    Refused{"Link", "a.pk3 -> real.pk3", "a.pk3: a symbolic link, left alone"},
                    Refused{"FolderNamedLikeItsJournal", "a.pk3-journal/"},
                    Refused{"LinkNamedLikeItsJournal", "a.pk3-journal -> real.pk3",
                            "a symbolic link has the name of the journal of a.pk3"}),
    kRowName);

struct Rewrite {
    const char* name;
    QStringList before; // the archive's entries before the run; none: no archive
    QStringList run;    // FILE arguments of the run, new contents for old names
    int mode = 0;       // of the archive before the run, when set; then run unprivileged
};

QStringList manyNames() {
    QStringList names;
    for (int i = 10; i < 60; ++i)
        names << QString("f%1.bin").arg(i);
    return names;
}

class WritesOnlyWhatChanged : public testing::TestWithParam<Rewrite> {};

// Entries before the first one replaced stay as they are; after the run nothing but the archive
// is left beside it, and the archive keeps its mode.
TEST_P(WritesOnlyWhatChanged, KeepsTheUnchangedStart) {
    const Rewrite& p = GetParam();
    if (p.mode && rerunUnprivileged())
        return; // root may write a read-only archive in place
    TempDir dir;
    unsigned seed = 10;
    for (const QString& name : p.before)
        writeFile(dir.file(name), gameLikeBytes(200000, seed++));
    ASSERT_TRUE(p.before.isEmpty() || addFiles(dir.path(), p.before).exitCode == 0);
    if (p.mode)
        setMode(dir.file("a.pk3"), unsigned(p.mode));
    const QByteArray old = readFile(dir.file("a.pk3"));
    qsizetype kept = 0; // the central directory's offset, or the first replaced entry's
    for (const Entry& e : p.before.isEmpty() ? std::vector<Entry>{} : listing(dir.file("a.pk3")))
        if (e.name.isEmpty() || p.run.contains(e.name))
            kept = e.name.isEmpty() ? e.offset : std::min(kept, e.offset);
    for (const QString& name : p.run)
        writeFile(dir.file(name), gameLikeBytes(150000, seed++));

    const Finished r = addFiles(dir.path(), p.run, {},
                                [] { ::umask(077); }); // the archive keeps its mode all the same
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("a.pk3")).left(kept), old.left(kept));
    QStringList expected = p.before + p.run;
    expected.sort();
    expected.removeDuplicates();
    EXPECT_EQ(names(dir.file("a.pk3")), expected);
    for (const QString& name : expected)
        EXPECT_EQ(entryData(dir.path(), name), readFile(dir.file(name))) << name;
    expectSound(dir.path());
    expected << "a.pk3";
    expected.sort();
    EXPECT_EQ(tree(dir.path()), expected);
    struct stat info {};
    EXPECT_TRUE(!p.mode || (::stat(qPrintable(dir.file("a.pk3")), &info) == 0 &&
                            int(info.st_mode & 07777) == p.mode));
}

INSTANTIATE_TEST_SUITE_P(
    Minizip, WritesOnlyWhatChanged,
    testing::Values(Rewrite{"NewArchive", {}, {"a.bin", "b.bin"}},
                    Rewrite{"AddOnly", {"a.bin", "b.bin"}, {"c.bin", "d.bin"}},
                    Rewrite{"ReplaceLast", {"a.bin", "b.bin", "c.bin"}, {"c.bin"}},
                    Rewrite{"ReplaceMiddleAndAdd", {"a.bin", "b.bin", "c.bin"}, {"d.bin", "b.bin"}},
                    // So many bytes after the second entry that they are not saved to a journal.
                    Rewrite{"ReplaceEarlyOfMany", manyNames(), {"f11.bin"}},
                    Rewrite{"ReadOnlyArchive", {"a.bin"}, {"b.bin"}, 0444}),
    kRowName);

// A full disk, or a file size limit standing in for one: the archive stays as it was and
// nothing is left beside it.
TEST(Minizip, WriteFailureLeavesTheArchiveAsItWas) {
    TempDir dir;
    const MemoryDisk disk(dir.path(), 1 << 20);
    const bool mounted = disk.mounted();
    writeFile(dir.file("small.txt"), gameLikeBytes(300000, 1));
    ASSERT_EQ(addFiles(dir.path(), {"small.txt"}).exitCode, 0);
    // On the 1 MB disk the file fits, but not its entry too.
    writeFile(dir.file("big.bin"), gameLikeBytes(mounted ? 500000 : 600000, 2));
    const QByteArray before = readFile(dir.file("a.pk3"));
    const Finished r = addFiles(dir.path(), {"big.bin"}, {}, [mounted] {
        const rlimit limit{400000, 400000};
        if (!mounted)
            ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_TRUE(r.err.contains("left as it was")) << r.err;
    EXPECT_EQ(readFile(dir.file("a.pk3")), before);
    EXPECT_EQ(tree(dir.path()), (QStringList{"a.pk3", "big.bin", "small.txt"}));
}

// Killed at any instant, a run leaves the archive with the old entries or the new ones once
// the next run has recovered it, never a mix, and nothing beside it.
TEST(Minizip, KilledRunsLeaveTheOldEntriesOrTheNew) {
    TempDir dir;
    QStringList first, all, args{"-a", "a.pk3"};
    for (int i = 10; i < 50; ++i) {
        const QString name = QString("f%1.bin").arg(i);
        writeFile(dir.file(name), gameLikeBytes(20000 + 3000 * i, unsigned(i)));
        (i < 30 ? first : args) << name;
        all << name;
    }
    QRandomGenerator random(11);
    for (int trial = 0; trial < 12; ++trial) {
        QFile::remove(dir.file("a.pk3"));
        ASSERT_EQ(addFiles(dir.path(), first).exitCode, 0);
        killAfter(CORVANE_MINIZIP, args, dir.path(), random.bounded(60000));
        ASSERT_EQ(addFiles(dir.path(), {}).exitCode, 0); // recovers
        const QStringList found = names(dir.file("a.pk3"));
        EXPECT_TRUE(found == first || found == all) << found.size() << " entries";
        expectSound(dir.path());
        EXPECT_EQ(tree(dir.path()).size(), all.size() + 1);
    }
}

} // namespace
