// The whole conversion on real folders with the real tools: every road from "Continue" to the
// archives in qfbastion, what the user is told on the way, and that nothing outside the
// program's own folders changes.

#include "core/conversion/conversion.h"
#include "core/conversion/manifests.h"
#include "core/platform/files.h"
#include "support/games.h"
#include "support/support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace corvane;
using namespace corvane::test;

namespace {

// Keeps what the conversion shows.
struct RecordingView : ConversionView {
    void setScreenEnabled(bool enabled) override { screenEnabled = enabled; }
    void setOkButtonEnabled(bool enabled) override { okEnabled = enabled; }
    void setCaption(const QString& text) override { caption = text; }
    void setProgressText(const QString& text) override { progress = text; }
    bool screenEnabled = true, okEnabled = true;
    QString caption, progress;
};

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

QStringList zipMembers(const QString& archive) {
    return sorted(
        QString::fromUtf8(run("unzip", {"-Z1", archive}).out).split('\n', Qt::SkipEmptyParts));
}

struct Road {
    const char* name;
    std::function<void(Games&)> setup;
    // The boxes shown, with <PF>, <Q2> and <Q3> for the folders; "..." stands for any text.
    QStringList boxes;
    Outcome outcome;
    QStringList installed; // archives in qfbastion afterwards
    bool asUser = false;   // real modes: run as an unprivileged user
    // What the run removes from the program folder, which otherwise ends as it began.
    QStringList leftovers = {};
};

const QStringList kAllCopied = {"PAK0.PK3 was copied to<Q3>qfbastion/pak0.pk3",
                                "PAK1.PK3 was copied to<Q3>qfbastion/pak1.pk3",
                                "PAK2.PK3 was copied to<Q3>qfbastion/pak2.pk3"};
const QStringList kAll = {"pak0.pk3", "pak1.pk3", "pak2.pk3"};
const QString kNeedsFolder = " stands where the conversion needs a folder.\r\nMove it away, "
                             "then run Corvane again.";

const Road kRoads[] = {
    {"ConvertsAndInstallsTheThreeArchives", [](Games&) {}, kAllCopied, Outcome::Installed, kAll},
    {"EmptyQuake2Path",
     [](Games& g) { g.paths.quake2.clear(); },
     {"missing important path information, cannot continue!!",
      "Either you didnt install Quake2, or you selected no on a valid Quake2 path!!"},
     Outcome::PathMissing,
     {}},
    {"LinkInTheProgramFolderIsNeverFollowed",
     [](Games& g) { QFile::link(g.outside + "/models", g.programFolder + "/models"); },
     {"<PF>/models" + kNeedsFolder},
     Outcome::CheckFailed,
     {}},
    {"StrayFileWhereAFolderGoes",
     [](Games& g) { writeFile(g.programFolder + "/sound/boss3", "a file"); },
     {"<PF>/sound/boss3" + kNeedsFolder},
     Outcome::CheckFailed,
     {}},
    {"PipeForAPakDoesNotHang",
     [](Games& g) {
         QFile::remove(g.quake2 + "baseq2/pak1.pak");
         ASSERT_EQ(mkfifo(QFile::encodeName(g.quake2 + "baseq2/pak1.pak").constData(), 0644), 0);
     },
     {"<Q2>baseq2/pak1.pak cannot be unpacked: not an ordinary file"},
     Outcome::CheckFailed,
     {}},
    {"NotAPak",
     [](Games& g) { writeFile(g.quake2 + "baseq2/pak2.pak", "hello"); },
     {"<Q2>baseq2/pak2.pak cannot be unpacked: not a Quake 2 pak file"},
     Outcome::CheckFailed,
     {}},
    {"CorruptPakStopsWithTheToolsOwnWords",
     [](Games& g) { writeFile(g.quake2 + "baseq2/pak0.pak", "PACK\xff\xff\xff\x7f\x40"); },
     {"pak0.pak could not be unpacked:\r\npak: ..."},
     Outcome::ToolFailed,
     {}},
    {"MissingQfbastion",
     [](Games& g) { QDir(g.quake3 + "qfbastion").removeRecursively(); },
     {"The folder qfbastion is missing in <Q3>\r\nThe pk3 files are installed there: create "
      "it, then run Corvane again."},
     Outcome::CheckFailed,
     {}},
    {"MissingTool",
     [](Games& g) { QFile::remove(g.programFolder + "/minizip"); },
     {"<PF>/minizip is missing or cannot be run.\r\nInstall Corvane again, then run it "
      "again."},
     Outcome::CheckFailed,
     {}},
    {"LeftoversOfAKilledRunAreCleared",
     [](Games& g) {
         writeFile(g.programFolder + "/models/items/armor/body/.tris.md2.tmp-a1B2c3", "half");
         writeFile(g.programFolder + "/pak0.pk3", "");
         writeFile(g.programFolder + "/pak1.pk3", "PK\x05\x06 but changed by a killed run");
         writeFile(g.programFolder + "/pak1.pk3-journal", "journal");
     },
     kAllCopied,
     Outcome::Installed,
     kAll,
     false,
     {"models/", "models/items/", "models/items/armor/", "models/items/armor/body/",
      "models/items/armor/body/.tris.md2.tmp-a1B2c3", "pak0.pk3", "pak1.pk3", "pak1.pk3-journal"}},
    {"MembersNamedLikeTheProgramOrAnArchiveAreNotUnpacked",
     [](Games& g) {
         writeFile(g.programFolder + "/corvane", "the program");
         QFile::setPermissions(g.programFolder + "/corvane", QFile::ReadOwner | QFile::ExeOwner);
         Members members = pak0Members();
         for (const char* name : {"minizip", "corvane", "pak0.pk3", "pak1.pk3-journal"})
             members.emplace_back(name, "planted");
         for (char c = 'a'; c < 'k'; ++c) // so many that the box quotes only the first lines
             members.emplace_back(c + QByteArray(".pk3"), "planted");
         g.writePak("pak0.pak", members);
     },
     {"Some files of pak0.pak were not unpacked:\r\npak: ...\r\n(and 2 more)", kAllCopied[0],
      kAllCopied[1], kAllCopied[2]},
     Outcome::Installed,
     kAll},
    {"TheSecondArchiveWithoutItsPictures",
     [](Games& g) {
         g.writePak("pak1.pak", {{"pics/other.pcx", "other"}});
     },
     {"Some files of pak1.pak were not unpacked:\r\npak: ...", kAllCopied[0],
      "PAK1.PK3 was not copied for some reason, check<PF>", kAllCopied[2]},
     Outcome::NotAllInstalled,
     {"pak0.pk3", "pak2.pk3"}},
    {"AFileOfTheUsersKeepsItsFolders",
     [](Games& g) { writeFile(g.programFolder + "/models/items/ammo/shells/mine.txt"); },
     {"Error with Path/File access error: <PF>/models/items/ammo/shells\r\n",
      "Error with Path/File access error: <PF>/models/items/ammo\r\n",
      "Error with Path/File access error: <PF>/models/items\r\n",
      "Error with Path/File access error: <PF>/models\r\n",
      "Error with Path/File access error: <PF>/models\r\n", kAllCopied[0], kAllCopied[1],
      kAllCopied[2]},
     Outcome::Installed,
     kAll},
    {"UnwritableQfbastion",
     [](Games& g) { setMode(g.quake3 + "qfbastion", 0555); },
     {"Corvane cannot write to <Q3>qfbastion\r\nThe pk3 files are installed there: make it "
      "writable, then run Corvane again."},
     Outcome::CheckFailed,
     {},
     true},
    {"UnwritableProgramFolderWorksInTheCache",
     [](Games& g) {
         qputenv("XDG_CACHE_HOME", QFile::encodeName(g.root.file("cache")));
         setMode(g.programFolder, 0555);
     },
     kAllCopied, Outcome::Installed, kAll, true},
    {"NeitherProgramFolderNorCacheWritable",
     [](Games& g) {
         qputenv("XDG_CACHE_HOME", QFile::encodeName(g.root.file("cache")));
         makeDirs(g.root.file("cache"));
         setMode(g.root.file("cache"), 0555);
         setMode(g.programFolder, 0555);
     },
     {"Corvane cannot write to its program folder <PF> nor to its work folder ..."},
     Outcome::CheckFailed,
     {},
     true},
};

class Roads : public ::testing::TestWithParam<Road> {
protected:
    void TearDown() override {
        qunsetenv("XDG_CACHE_HOME");
        ChDir(QDir::tempPath());
    }
};

TEST_P(Roads, TellTheTruthAndTouchNothingOutside) {
    const Road& road = GetParam();
    if (road.asUser && rerunUnprivileged())
        return;
    Games games;
    road.setup(games);
    const auto programBefore = snapshot(games.programFolder);
    const auto outsideBefore = snapshot(games.outside);
    FakeServices services(games.programFolder);
    RecordingView view;
    Conversion conversion(services, games.paths, view);

    EXPECT_EQ(conversion.run(), road.outcome);

    QStringList prompts = services.prompts();
    for (QString& prompt : prompts)
        prompt.replace(games.quake3, "<Q3>")
            .replace(games.quake2, "<Q2>")
            .replace(games.programFolder, "<PF>");
    ASSERT_EQ(prompts.size(), road.boxes.size()) << prompts.join("\n|");
    for (qsizetype i = 0; i < prompts.size(); ++i) {
        const QString& expected = road.boxes[i];
        const qsizetype dots = expected.indexOf("...");
        if (dots >= 0)
            EXPECT_TRUE(prompts[i].startsWith(expected.left(dots)) &&
                        prompts[i].endsWith(expected.mid(dots + 3)))
                << prompts[i];
        else
            EXPECT_EQ(prompts[i], expected);
    }
    EXPECT_EQ(sorted(QDir(games.quake3 + "qfbastion").entryList(QDir::Files | QDir::Hidden)),
              road.installed);
    EXPECT_EQ(snapshot(games.outside), outsideBefore);
    auto programAfter = programBefore;
    for (const QString& leftover : road.leftovers)
        EXPECT_EQ(programAfter.remove(leftover), 1) << leftover;
    const auto programNow = snapshot(games.programFolder);
    EXPECT_TRUE(programNow == programAfter)
        << QStringList(programNow.keys()).join(' ') << "\ninstead of\n"
        << QStringList(programAfter.keys()).join(' ');
    EXPECT_TRUE(QDir(games.root.file("cache/corvane/work")).isEmpty());
    if (road.outcome == Outcome::Installed && !road.asUser) {
        EXPECT_EQ(view.caption, "Total files: 1128");
        QStringList packed;
        for (const QString& entry : pakinfo::Pak0Manifest)
            if (isPacked(entry))
                packed << memberOf(entry);
        EXPECT_EQ(zipMembers(games.quake3 + "qfbastion/pak0.pk3"), sorted(packed));
        const Finished sample =
            run("unzip", {"-p", games.quake3 + "qfbastion/pak0.pk3", "sound/boss3/BS3ATCK1.WAV"});
        EXPECT_EQ(sample.out, contentsOf("sound/boss3/BS3ATCK1.WAV"));
    }
}

INSTANTIATE_TEST_SUITE_P(Continue, Roads, ::testing::ValuesIn(kRoads), kRowName);

// The first pass hands at most 30 files to each zip run, and the last manifest index always
// ends a run, also an empty one.
struct BatchCase {
    const char* name;
    std::function<bool(int packedSeen, bool last)> keep; // which packed entries the pak holds
    QStringList runs;                                    // files per pak0.pk3 run
};

class Batches : public ::testing::TestWithParam<BatchCase> {};

TEST_P(Batches, AtMostThirtyFilesARunAndTheLastIndexAlwaysFlushes) {
    Games games;
    const Members all = pak0Members();
    Members members;
    int seen = 0;
    for (const auto& member : all) {
        const bool packed = isPacked(QString(member.first).replace('/', '\\'));
        if (!packed || GetParam().keep(++seen, &member == &all.back()))
            members.push_back(member);
    }
    games.writePak("pak0.pak", members);
    const QString log = games.logZipRuns();
    FakeServices services(games.programFolder);
    RecordingView view;
    Conversion conversion(services, games.paths, view);
    conversion.run();
    QStringList runs = QString::fromUtf8(readFile(log)).split('\n', Qt::SkipEmptyParts);
    runs.removeIf([](const QString& run) { return !run.startsWith("pak0.pk3 "); });
    for (QString& run : runs)
        run.remove("pak0.pk3 ");
    EXPECT_EQ(runs, GetParam().runs);
}

QStringList everything() {
    QStringList runs(37, "30");
    return runs << "14";
}

INSTANTIATE_TEST_SUITE_P(
    FirstPass, Batches,
    ::testing::Values(BatchCase{"Everything", [](int, bool) { return true; }, everything()},
                      BatchCase{"Nothing", [](int, bool) { return false; }, {"0"}},
                      BatchCase{"ThirtiethAtTheLastIndex",
                                [](int seen, bool last) { return last || seen <= 29; },
                                {"30"}}),
    kRowName);

// A disk that fills up while the archive grows: the run stops with the tool's own words and
// installs nothing. On a small file system of its own where this process may mount one, else
// with a limit on the size of the files the tools write.
TEST(Conversion, AFullDiskStopsTheRunInstallsNothingAndLeavesNothing) {
    Games games;
    // Game data that does not compress, so the archive needs about as much room as its files.
    QRandomGenerator random(7);
    Members members;
    qint64 treeBytes = 0; // on a file system of 4 KiB blocks
    for (auto [name, contents] : pak0Members()) {
        if (isPacked(QString(name).replace('/', '\\'))) {
            contents.resize(16384);
            random.fillRange(reinterpret_cast<quint32*>(contents.data()), 4096);
        }
        treeBytes += (contents.size() + 4095) / 4096 * 4096;
        members.emplace_back(name, contents);
    }
    games.writePak("pak0.pak", members);
    const qint64 tools = QFileInfo(CORVANE_PAK).size() + QFileInfo(CORVANE_MINIZIP).size();
    // Room for the tools and the tree, but not for the archive too.
    const QByteArray options = "size=" + QByteArray::number(tools + treeBytes + (2 << 20));
    const QByteArray folder = QFile::encodeName(games.programFolder);
    const bool mounted =
        isRoot() && mount("corvane-test", folder.constData(), "tmpfs", 0, options.constData()) == 0;
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    if (mounted) {
        QFile::copy(CORVANE_PAK, games.programFolder + "/pak");
        QFile::copy(CORVANE_MINIZIP, games.programFolder + "/minizip");
    } else {
        signal(SIGXFSZ, SIG_IGN); // the tools then get an error instead of being killed
        rlimit limit = before;
        limit.rlim_cur = rlim_t(QFileInfo(games.quake2 + "baseq2/pak0.pak").size() / 4);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    FakeServices services(games.programFolder);
    RecordingView view;
    Conversion conversion(services, games.paths, view);
    const Outcome outcome = conversion.run();
    setrlimit(RLIMIT_FSIZE, &before);

    EXPECT_EQ(outcome, Outcome::ToolFailed);
    ASSERT_EQ(services.boxes().size(), 1u) << services.prompts().join('|');
    EXPECT_TRUE(services.prompts()[0].startsWith("pak0.pk3 could not be made:\r\nminizip: "))
        << services.prompts()[0];
    EXPECT_TRUE(QDir(games.quake3 + "qfbastion").isEmpty());
    QStringList left =
        QDir(games.programFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    left.removeAll("notes.txt");
    EXPECT_EQ(sorted(left), (QStringList{"minizip", "pak"}));
    ChDir(QDir::tempPath()); // the run left it in the program folder
    if (mounted)
        umount2(folder.constData(), MNT_DETACH);
}

} // namespace
