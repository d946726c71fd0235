// The whole conversion on real folders with the real tools: every road from "Continue" to the
// archives in qfbastion, what the user is told on the way, and that nothing outside the
// program's own folders changes.

#include "conversion/conversion.h"
#include "conversion/known_paks.h"
#include "conversion/manifests.h"
#include "platform/files.h"
#include "support/games.h"
#include "support/support.h"
#include "ui/notice_boxes.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace corvane;
using namespace corvane::test;

namespace {

// Keeps the caption the conversion shows, and shows its notices as the wizard's boxes.
struct RecordingView : ConversionView {
    explicit RecordingView(Services& shown) : services(shown) {}
    void setScreenEnabled(bool) override {}
    void setOkButtonEnabled(bool) override {}
    void setCaption(const QString& text) override { caption = text; }
    void setProgressText(const QString&) override {}
    void notice(const Notice& notice) override {
        for (const NoticeBox& box : boxesFor(notice))
            services.MsgBox(box.prompt, kOkOnly, box.title);
    }
    Services& services;
    QString caption;
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
    // The boxes shown, with <PF>, <Q2>, <Q3> and <ROOT> for the folders; "..." stands for any
    // text.
    QStringList boxes;
    // How the conversion ends; none: an error ended the program with the runtime's own box.
    std::optional<Outcome> outcome;
    QStringList installed; // archives in qfbastion afterwards
    bool asUser = false;   // real modes: run as an unprivileged user
    // The conversion runs as the user 65534 among files of other users that root made.
    bool asPlayer = false;
    // What the run says on standard error about its own folder; none: nothing, it is removed.
    const char* runFolderLine = nullptr;
};

// What this process writes to its standard error while the object lives, kept in a file (the
// tools' messages pass through it too).
class StandardError {
public:
    StandardError() {
        (void)std::fflush(stderr); // what was written before goes where it went
        m_saved = ::dup(STDERR_FILENO);
        const QByteArray name = QFile::encodeName(m_dir.file("stderr"));
        const int file = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_TRUE(m_saved >= 0 && file >= 0 && ::dup2(file, STDERR_FILENO) == STDERR_FILENO);
        EXPECT_EQ(::close(file), 0);
    }
    ~StandardError() { restore(); }
    StandardError(const StandardError&) = delete;
    StandardError& operator=(const StandardError&) = delete;

    QByteArray text() {
        restore();
        return readFile(m_dir.file("stderr"));
    }

private:
    void restore() {
        if (m_saved < 0)
            return;
        (void)std::fflush(stderr);
        EXPECT_EQ(::dup2(m_saved, STDERR_FILENO), STDERR_FILENO);
        EXPECT_EQ(::close(std::exchange(m_saved, -1)), 0);
    }
    TempDir m_dir{"corvane-stderr"};
    int m_saved = -1;
};

const QStringList kAllCopied = {"PAK0.PK3 was copied to<Q3>qfbastion/pak0.pk3",
                                "PAK1.PK3 was copied to<Q3>qfbastion/pak1.pk3",
                                "PAK2.PK3 was copied to<Q3>qfbastion/pak2.pk3"};
const QStringList kAll = {"pak0.pk3", "pak1.pk3", "pak2.pk3"};

// Files a test made immutable, made changeable again when it ends.
QStringList immutable;

// Makes `path` immutable, or skips the test where that cannot be done; with `now` false, only
// tries whether it could be.
void makeImmutable(const QString& path, bool now = true) {
    if (!isRoot())
        GTEST_SKIP() << "only root may make a file immutable (chattr +i)";
    if (run("chattr", {"+i", path}).exitCode != 0)
        GTEST_SKIP() << "the file system of " << path << " has no immutable files";
    immutable << path;
    if (!now)
        run("chattr", {"-i", path});
}

void oldArchives(Games& g) {
    for (const QString& archive : kAll)
        writeFile(g.quake3 + "qfbastion/" + archive, "an older " + archive.toUtf8());
}

void useCache(Games& g) {
    qputenv("XDG_CACHE_HOME", QFile::encodeName(g.root.file("cache")));
    setMode(g.programFolder, 0555);
}

const Road kRoads[] = {
    {"ConvertsAndReplacesTheArchivesInstalledBefore",
     [](Games& g) { writeFile(g.quake3 + "qfbastion/pak0.pk3", "an older pak0.pk3"); }, kAllCopied,
     Outcome::Installed, kAll},
    // Locks that need no more than reading the folders block no one.
    {"AReadersLockBlocksNoOne",
     [](Games& g) {
         g.lockAsAReader(g.programFolder);
         g.lockAsAReader(g.quake3 + "qfbastion");
     },
     kAllCopied, Outcome::Installed, kAll},
    {"TheProgramKeptInQfbastionLocksItOnce",
     [](Games& g) {
         for (const char* tool : {"/pak", "/minizip"})
             QFile::rename(g.programFolder + tool, g.quake3 + "qfbastion" + tool);
         g.programFolder = g.quake3 + "qfbastion";
     },
     kAllCopied, Outcome::Installed, kAll},
    {"ARunFolderInUseIsNoLeftover",
     [](Games& g) {
         makeTree(g.programFolder, {".corvane-run-abc123/models/tris.md2"});
         g.lockAsAnotherRun(g.programFolder, ".corvane-run-abc123.lock");
     },
     kAllCopied, Outcome::Installed, kAll},
    {"EmptyQuake2Path",
     [](Games& g) { g.paths.quake2.clear(); },
     {"missing important path information, cannot continue!!",
      "Either you didnt install Quake2, or you selected no on a valid Quake2 path!!"},
     Outcome::PathMissing,
     {}},
    {"NamesInTheProgramFolderAreNeverTheRunsOwn",
     [](Games& g) {
         makeTree(g.programFolder, {"models -> ../outside", "sound/boss3", "pak1.pk3-journal",
                                    ".corvane-run-abcdef -> ../outside", "models.tmp-a1B2c3"});
         writeFile(g.programFolder + "/pak0.pk3", readFile(g.quake3 + "baseq3/pak0.pk3"));
     },
     kAllCopied, Outcome::Installed, kAll},
    {"ProgramInsideBaseq2BesideTheUsersFiles",
     [](Games& g) {
         const QString baseq2 = g.quake2 + "baseq2";
         for (const char* tool : {"/pak", "/minizip"})
             QFile::rename(g.programFolder + tool, baseq2 + tool);
         g.programFolder = baseq2;
         makeTree(baseq2, {"models/items/armor/body/tris.md2", "sound/boss3/mine.wav"});
     },
     kAllCopied, Outcome::Installed, kAll},
    {"PipeForAPakDoesNotHang",
     [](Games& g) {
         QFile::remove(g.quake2 + "baseq2/pak1.pak");
         makeTree(g.quake2, {"baseq2/pak1.pak|"});
     },
     {"<Q2>baseq2/pak1.pak cannot be unpacked: not an ordinary file"},
     Outcome::CheckFailed,
     {}},
    {"NotAPak",
     [](Games& g) { writeFile(g.quake2 + "baseq2/pak2.pak", "hello"); },
     {"<Q2>baseq2/pak2.pak cannot be unpacked: not a Quake 2 pak file"},
     Outcome::CheckFailed,
     {}},
    {"MembersThatShareTheirBytesAreRefusedBeforeWork",
     [](Games& g) {
         QByteArray pak = packBytes({{"maps/a.bsp", "0123456789"}, {"maps/b.bsp", "x"}});
         writeFile(g.quake2 + "baseq2/pak2.pak", patched(pak, 12 + 11 + 64 + 56, 14));
     },
     {"<Q2>baseq2/pak2.pak cannot be unpacked: members maps/a.bsp and maps/b.bsp share their "
      "bytes"},
     Outcome::CheckFailed,
     {}},
    {"AFailingToolStopsWithItsOwnWords",
     [](Games& g) {
         writeFile(g.programFolder + "/pak", "#!/bin/sh\necho 'pak: broken' >&2\nexit 2\n");
     },
     {"pak0.pak could not be unpacked:\r\npak: broken"},
     Outcome::ToolFailed,
     {}},
    // The pak replaced after its check: the one checked is unpacked.
    {"APakSwappedAfterItsCheckIsNotTheOneUnpacked",
     [](Games& g) {
         const QString pak = g.quake2 + "baseq2/pak0.pak";
         const QByteArray bad = patched(
             packBytes({{"maps/a.bsp", "0123456789"}, {"maps/b.bsp", "x"}}), 12 + 11 + 64 + 56, 14);
         writeFile(g.root.file("bad.pak"), bad);
         QFile::rename(g.programFolder + "/pak", g.root.file("pak"));
         writeFile(g.programFolder + "/pak",
                   "#!/bin/sh\npak='" + QFile::encodeName(pak) +
                       "'\nmv \"$pak\" \"$pak.checked\"\ncp '" +
                       QFile::encodeName(g.root.file("bad.pak")) + "' \"$pak\"\n'" +
                       QFile::encodeName(g.root.file("pak")) +
                       "' \"$@\"\nstatus=$?\nmv \"$pak.checked\" \"$pak\"\nexit $status\n");
         setMode(g.programFolder + "/pak", 0700);
     },
     kAllCopied, Outcome::Installed, kAll},
    {"MissingQfbastion",
     [](Games& g) { QDir(g.quake3 + "qfbastion").removeRecursively(); },
     {"The folder qfbastion is missing in <Q3>\r\nThe pk3 files are installed there: create "
      "it, then run Corvane again."},
     Outcome::CheckFailed,
     {}},
    {"QfbastionALinkIsNotFollowed",
     [](Games& g) {
         QDir(g.quake3 + "qfbastion").removeRecursively();
         makeTree(g.quake3, {"qfbastion -> ../../outside"});
     },
     {"<Q3>qfbastion is no folder of its own (a symbolic link or a file).\r\nThe pk3 files are "
      "installed there: put the folder itself there, then run Corvane again."},
     Outcome::CheckFailed,
     {}},
    // Refused with the work folder in the cache: the folders made for it go again.
    {"MissingTool",
     [](Games& g) {
         QFile::remove(g.programFolder + "/minizip");
         useCache(g);
     },
     {"<PF>/minizip is missing or cannot be run.\r\nInstall Corvane again, then run it "
      "again."},
     Outcome::CheckFailed,
     {},
     true},
    {"AFolderNamedLikeAToolIsNoTool",
     [](Games& g) {
         QFile::remove(g.programFolder + "/pak");
         makeDirs(g.programFolder + "/pak");
     },
     {"<PF>/pak is missing or cannot be run.\r\n..."},
     Outcome::CheckFailed,
     {}},
    {"AnotherConversionInTheProgramFolder",
     [](Games& g) { g.lockAsAnotherRun(g.programFolder); },
     {"Another conversion is running in <PF>.\r\nWait until it has ended, then run Corvane "
      "again."},
     Outcome::Busy,
     {}},
    {"AnotherConversionInstallingIntoQfbastion",
     [](Games& g) { g.lockAsAnotherRun(g.quake3 + "qfbastion"); },
     {"Another conversion is running in <Q3>qfbastion.\r\nWait until it has ended, then run "
      "Corvane again."},
     Outcome::Busy,
     {}},
    {"MembersNamedLikeAnArchiveAreNotUnpacked",
     [](Games& g) {
         Members members = classicPak(0);
         for (const char* name : {"pak0.pk3", "pak1.pk3-journal"})
             members.emplace_back(name, "planted");
         for (char c = 'a'; c < 'm'; ++c) // so many that the box quotes only the first lines
             members.emplace_back(c + QByteArray(".pk3"), "planted");
         g.writePak("pak0.pak", members);
     },
     {"Some files of pak0.pak were not unpacked:\r\npak: ...\r\n(and 2 more)", kAllCopied[0],
      kAllCopied[1], kAllCopied[2]},
     Outcome::Installed,
     kAll},
    // What stays of the cleanup goes with the run's folder: not a box about it.
    {"AModsFileInEveryFolderOfThePakStaysQuietly",
     [](Games& g) { g.writePak("pak0.pak", withAFileMoreInEveryFolder(classicPak(0))); },
     kAllCopied, Outcome::Installed, kAll},
    {"PaksWithoutTheFilesOfTheirArchives",
     [](Games& g) {
         g.writePak("pak1.pak", {{"pics/other.pcx", "other"}});
         g.writePak("pak2.pak", {}); // a pack of no member: its header alone
     },
     {"Some files of pak1.pak were not unpacked:\r\npak: ...",
      "PAK1.PK3 was not copied for some reason, check<PF>",
      "PAK2.PK3 was not copied for some reason, check<PF>\r\nto see if the file exists",
      "No archive was installed: the archives go into <Q3>qfbastion together or not at all, "
      "and it keeps those it had."},
     Outcome::NotAllInstalled,
     {}},
    {"AnotherGamesPak0KeepsTheArchivesThereWereAllOld",
     [](Games& g) {
         oldArchives(g);
         g.writePak("pak0.pak", {{"mod/file.txt", "mod"}});
     },
     {"pak0.pak holds none of the ... files of the classic game's pak0.pk3: it may be another "
      "game's.\r\npak0.pk3 is not made, and no archive is installed.",
      "PAK0.PK3 was not copied for some reason, check<PF>\r\nto see if the file exists",
      "No archive was installed: ..."},
     Outcome::NotAllInstalled,
     kAll},
    // pak2.pak has the size of the point release's, but not its bytes: said once, before the
    // archives are installed, and no plain success.
    {"APakOfAKnownReleasesSizeWithOtherBytesIsSaid",
     [](Games& g) { g.padPak("pak2.pak", 45055); },
     {"pak2.pak has the size of Quake 2's point-release patch but other contents: it is damaged "
      "or was changed.\r\nThe archives are made of what it holds.",
      kAllCopied[0], kAllCopied[1], kAllCopied[2]},
     Outcome::InstalledIncomplete,
     kAll},
    {"AnotherGamesPak0IsSaidAndNoPlainSuccess",
     [](Games& g) {
         Members members = classicPak(0);
         members.resize(40);
         for (int i = 0; i < 800; ++i)
             members.emplace_back("mod/file" + QByteArray::number(i), "mod");
         g.writePak("pak0.pak", members);
     },
     {"pak0.pak holds ... files of the classic game's pak0.pk3: it may be a mod's or a "
      "re-release's.\r\npak0.pk3 is made of the ... that were found.",
      kAllCopied[0], kAllCopied[1], kAllCopied[2]},
     Outcome::InstalledIncomplete,
     kAll},
    {"AReadOnlyArchiveInQfbastionIsNotReplacedNorMixedWithNewOnes",
     [](Games& g) {
         writeFile(g.quake3 + "qfbastion/pak0.pk3", "the user's own");
         writeFile(g.quake3 + "qfbastion/pak1.pk3", "the user's own");
         setMode(g.quake3 + "qfbastion/pak1.pk3", 0444);
     },
     {"<Q3>qfbastion/pak1.pk3 is read-only.\r\nCorvane installs the three archives together or "
      "none: have it replaced or moved away, then run Corvane again."},
     Outcome::CheckFailed,
     {"pak0.pk3", "pak1.pk3"}},
    {"AnImmutableArchiveIsSeenBeforeWork",
     [](Games& g) {
         oldArchives(g);
         makeImmutable(g.quake3 + "qfbastion/pak2.pk3");
     },
     {"<Q3>qfbastion/pak2.pk3 is immutable (chattr +i).\r\n..."},
     Outcome::CheckFailed,
     kAll},
    // Made immutable after the checks: the two archives swapped before it are put back.
    {"AnArchiveThatCannotBeReplacedAtTheLastPutsTheOthersBack",
     [](Games& g) {
         oldArchives(g);
         const QString last = g.quake3 + "qfbastion/pak2.pk3";
         makeImmutable(last, false);
         g.logZipRuns("chattr +i '" + QFile::encodeName(last) + "'");
     },
     {"PAK2.PK3 could not be copied to <Q3>qfbastion/pak2.pk3\r\n...\r\nNo archive was "
      "installed."},
     Outcome::NotAllInstalled,
     kAll},
    // A shared qfbastion (root's, the sticky bit) where another user's archive lies.
    {"AnotherUsersArchiveInASharedQfbastion",
     [](Games& g) {
         oldArchives(g);
         const QByteArray theirs = QFile::encodeName(g.quake3 + "qfbastion/pak1.pk3");
         run("chown", {"-R", "65534:65534", g.root.path()});
         ASSERT_EQ(::chown(theirs.constData(), 65533, 65533), 0);
         ASSERT_EQ(::chown(QFile::encodeName(g.quake3 + "qfbastion").constData(), 0, 0), 0);
         setMode(g.quake3 + "qfbastion", 01777);
     },
     {"<Q3>qfbastion/pak1.pk3 belongs to another user, and only its owner may replace it in "
      "this shared folder.\r\n..."},
     Outcome::CheckFailed,
     kAll,
     false,
     true},
    {"AnErrorMidRunEndsTheProgramAndStillRemovesTheRunsFolder",
     [](Games& g) {
         // The unpacked models folder becomes one the user may not read.
         QFile::rename(g.programFolder + "/pak", g.root.file("pak"));
         writeFile(g.programFolder + "/pak",
                   "#!/bin/sh\n'" + QFile::encodeName(g.root.file("pak")) +
                       "' \"$@\"\nstatus=$?\nchmod 0 models\nexit $status\n");
         setMode(g.programFolder + "/pak", 0700);
     },
     {"Run-time error '70':\r\n\r\nPermission denied: <PF>/.corvane-run-.../models/..."},
     std::nullopt,
     {},
     true},
    {"UnwritableQfbastion",
     [](Games& g) { setMode(g.quake3 + "qfbastion", 0555); },
     {"Corvane cannot write to <Q3>qfbastion\r\nThe pk3 files are installed there: make it "
      "writable, then run Corvane again."},
     Outcome::CheckFailed,
     {},
     true},
    {"UnwritableProgramFolderWorksInTheCacheNotInACaseVariant",
     [](Games& g) {
         useCache(g);
         writeFile(g.root.file("cache/CORVANE/WORK/mine.txt"), "the user's own");
     },
     kAllCopied, Outcome::Installed, kAll, true},
    // A program folder others may change: the run works in the cache.
    {"AProgramFolderOthersMayChangeIsNoWorkFolder",
     [](Games& g) {
         useCache(g);
         makeDirs(g.root.file("cache"));
         setMode(g.programFolder, 0777);
         g.writePak("pak1.pak", {{"pics/other.pcx", "other"}});
     },
     {"Some files of pak1.pak were not unpacked:\r\npak: ...",
      "PAK1.PK3 was not copied for some reason, check<ROOT>/cache/corvane/work",
      "No archive was installed: ..."},
     Outcome::NotAllInstalled,
     {}},
    // The work folder may no longer be written when the run ends: its folder stays, and the
    // run says so.
    {"ARunFolderThatCannotBeRemovedIsReported",
     [](Games& g) {
         g.logZipRuns("chmod 0555 '" + QFile::encodeName(g.root.file("cache/corvane/work")) + "'");
         makeDirs(g.root.file("cache/corvane"));
         useCache(g); // the program folder may not be changed from here on
     },
     kAllCopied, Outcome::Installed, kAll, true, false,
     "corvane: could not remove the run's folder: <ROOT>/cache/corvane/work/.corvane-run-"
     "...: Permission denied\n"},
    {"AWorkFolderGivenToAnotherUserStopsTheRun",
     [](Games& g) {
         if (!isRoot())
             GTEST_SKIP() << "only root can give a folder to another user";
         g.logZipRuns("chown 65534 '" + QFile::encodeName(g.programFolder) + "'");
     },
     {"<PF> was given to another user while Corvane worked in it.\r\nWhat the run had made "
      "was removed and nothing was installed."},
     Outcome::ToolFailed,
     {}},
    {"NeitherProgramFolderNorCacheWritable",
     [](Games& g) {
         useCache(g);
         makeDirs(g.root.file("cache"));
         setMode(g.root.file("cache"), 0555);
     },
     {"Corvane cannot write to its program folder <PF> nor to its work folder ..."},
     Outcome::CheckFailed,
     {},
     true},
    {"ALinkPlantedInTheCacheIsRefused",
     [](Games& g) {
         useCache(g);
         makeTree(g.root.path(), {"cache/corvane -> ../outside"});
     },
     {"Corvane will not work in <ROOT>/cache/corvane: it is a symbolic link.\r\nIts work "
      "folder must be yours, ..."},
     Outcome::CheckFailed,
     {},
     true},
    {"AFileWhereTheWorkFolderGoesIsRefused",
     [](Games& g) {
         useCache(g);
         writeFile(g.root.file("cache/corvane/work"), "the user's own");
     },
     {"Corvane will not work in <ROOT>/cache/corvane/work: it is no folder.\r\nIts work "
      "folder must be yours, ..."},
     Outcome::CheckFailed,
     {},
     true},
};

class Roads : public ::testing::TestWithParam<Road> {
protected:
    void TearDown() override {
        qunsetenv("XDG_CACHE_HOME");
        for (const QString& path : std::exchange(immutable, {}))
            run("chattr", {"-i", path});
    }
};

// Runs `procedure` as the user 65534 (with no group of root's), then as root again.
void asPlayer(const std::function<void()>& procedure) {
    ASSERT_TRUE(::setgroups(0, nullptr) == 0 && ::setegid(65534) == 0 && ::seteuid(65534) == 0);
    procedure();
    ASSERT_TRUE(::seteuid(0) == 0 && ::setegid(0) == 0);
}

TEST_P(Roads, TellTheTruthAndTouchNothingOutsideTheRun) {
    const Road& road = GetParam();
    if (road.asUser && rerunUnprivileged())
        return;
    if (road.asPlayer && !isRoot())
        GTEST_SKIP() << "only root can give files to other users";
    Games games;
    road.setup(games);
    if (IsSkipped())
        return;
    const auto before = snapshot(games.root.path());
    FakeServices services(games.programFolder);
    RecordingView view(services);
    Conversion conversion(games.programFolder, games.paths, view);

    std::optional<Outcome> outcome;
    StandardError said;
    const auto convert = [&] {
        EXPECT_EQ(runsToEnd(services, [&] { outcome = conversion.run(); }), !road.outcome);
    };
    road.asPlayer ? asPlayer(convert) : convert();
    EXPECT_EQ(outcome, road.outcome);
    const QString saidText =
        QString::fromLocal8Bit(said.text()).replace(games.root.path(), "<ROOT>");
    const qsizetype line = saidText.indexOf("corvane: could not remove the run's folder");
    if (!road.runFolderLine) {
        EXPECT_LT(line, 0) << saidText;
    } else {
        const QStringList parts = QString(road.runFolderLine).split("...");
        EXPECT_TRUE(line >= 0 && saidText.mid(line).startsWith(parts.front()) &&
                    saidText.indexOf(parts.back(), line) > line)
            << saidText;
    }

    QStringList prompts = services.prompts();
    for (QString& prompt : prompts)
        prompt.replace(games.quake3, "<Q3>")
            .replace(games.quake2, "<Q2>")
            .replace(games.programFolder, "<PF>")
            .replace(games.root.path(), "<ROOT>");
    ASSERT_EQ(prompts.size(), road.boxes.size()) << prompts.join("\n|");
    for (qsizetype i = 0; i < prompts.size(); ++i) {
        const QStringList parts = road.boxes[i].split("...");
        qsizetype at = 0;
        for (const QString& part : parts)
            at = at < 0 ? at : prompts[i].indexOf(part, at);
        EXPECT_TRUE(prompts[i].startsWith(parts.front()) && prompts[i].endsWith(parts.back()) &&
                    at >= 0)
            << prompts[i];
    }
    EXPECT_EQ(
        sorted(QDir(games.quake3 + "qfbastion").entryList({"*.pk3"}, QDir::Files | QDir::Hidden)),
        road.installed);
    const auto after = snapshot(games.root.path());
    // A refusal changes nothing at all, not even in the cache.
    if (road.outcome == Outcome::CheckFailed || road.outcome == Outcome::Busy) {
        EXPECT_EQ(after, before);
    }
    // qfbastion holds all old archives or all new ones.
    const bool installed = outcome == Outcome::Installed || outcome == Outcome::InstalledIncomplete;
    for (const QString& archive : kAll) {
        const QString key =
            QDir(games.root.path()).relativeFilePath(games.quake3 + "qfbastion/" + archive);
        EXPECT_EQ(after.value(key) == before.value(key) &&
                      after.contains(key) == before.contains(key),
                  !installed)
            << archive.toStdString();
    }
    EXPECT_TRUE(outsideTheRun(after) == outsideTheRun(before))
        << QStringList(after.keys()).join(' ') << "\ninstead of\n"
        << QStringList(before.keys()).join(' ');
    if (road.outcome == Outcome::Installed && !road.asUser) {
        EXPECT_EQ(view.caption, "Total files: " + QString::number(classicFileCount()));
        QStringList packed;
        for (const QString& entry : pakinfo::Pak0Manifest())
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
    const Members all = classicPak(0);
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
    RecordingView view(services);
    Conversion conversion(games.programFolder, games.paths, view);
    conversion.run();
    QStringList runs = QString::fromUtf8(readFile(log)).split('\n', Qt::SkipEmptyParts);
    runs.removeIf([](const QString& run) { return !run.startsWith("pak0.pk3 "); });
    for (QString& run : runs)
        run.remove("pak0.pk3 ");
    EXPECT_EQ(runs, GetParam().runs);
}

QStringList everything() {
    const int files = classicFileCount(0);
    QStringList runs(files / 30, "30");
    return runs << QString::number(files % 30);
}

INSTANTIATE_TEST_SUITE_P(
    FirstPass, Batches,
    ::testing::Values(BatchCase{"Everything", [](int, bool) { return true; }, everything()},
                      BatchCase{"Nothing", [](int, bool) { return false; }, {"0"}},
                      BatchCase{"ThirtiethAtTheLastIndex",
                                [](int seen, bool last) { return last || seen <= 29; },
                                {"30"}}),
    kRowName);

// Game data that does not compress, so an archive needs about as much room as its files; the
// room its unpacked tree takes on a file system of 4 KiB blocks.
qint64 writeIncompressiblePak0(Games& games) {
    QRandomGenerator random(7);
    Members members;
    qint64 treeBytes = 0;
    for (auto [name, contents] : classicPak(0)) {
        if (isPacked(QString(name).replace('/', '\\'))) {
            contents.resize(16384);
            random.fillRange(reinterpret_cast<quint32*>(contents.data()), 4096);
        }
        treeBytes += (contents.size() + 4095) / 4096 * 4096;
        members.emplace_back(name, contents);
    }
    games.writePak("pak0.pak", members);
    return treeBytes;
}

struct Room {
    const char* name;
    // Mounts a file system of its own where the row needs one (on `folder`, of `bytes`), or
    // limits the size of the files the tools write.
    std::function<QString(Games&, qint64 treeBytes)> folder;
    std::function<qint64(Games&, qint64 treeBytes)> bytes;
    Outcome outcome;
    const char* said; // the start of the one box, with <PF> and <Q3>; none: no box
};

const qint64 kTools = QFileInfo(CORVANE_PAK).size() + QFileInfo(CORVANE_MINIZIP).size();

const Room kRooms[] = {
    // Room for the tools and the unpacked files in the work folder, but not for the archives
    // too: seen before any work, the free room said in whole megabytes.
    {"TheWorkFolderTooSmall", [](Games& g, qint64) { return g.programFolder; },
     [](Games&, qint64 tree) { return kTools + tree + (1 << 20); }, Outcome::CheckFailed,
     "There is not enough free space in <PF>: the conversion needs about "},
    // qfbastion on a file system of its own receives copies: it needs room for the archives.
    {"QfbastionOnAnotherDiskTooSmall", [](Games& g, qint64) { return g.quake3 + "qfbastion"; },
     [](Games&, qint64) { return qint64(1) << 20; }, Outcome::CheckFailed,
     "There is not enough free space in <Q3>qfbastion: the conversion needs about "},
    {"QfbastionOnAnotherDisk", [](Games& g, qint64) { return g.quake3 + "qfbastion"; },
     [](Games&, qint64 tree) { return tree * 2; }, Outcome::Installed, nullptr},
    // No file system of its own: a limit on the size of the files the tools write makes the
    // disk fill while the archive grows, and the run stops with the tool's own words.
    {"AFullDiskWhileTheArchiveGrows", nullptr, nullptr, Outcome::ToolFailed,
     "pak0.pk3 could not be made:\r\nminizip: "},
};

class Rooms : public ::testing::TestWithParam<Room> {};

TEST_P(Rooms, AreCheckedBeforeWorkAndAFullDiskInstallsNothing) {
    const Room& room = GetParam();
    Games games;
    const qint64 treeBytes = writeIncompressiblePak0(games);
    std::optional<MemoryDisk> disk;
    if (room.folder) {
        disk.emplace(room.folder(games, treeBytes), room.bytes(games, treeBytes));
        if (!disk->mounted())
            GTEST_SKIP() << "this process may not mount a file system of its own (it needs "
                            "CAP_SYS_ADMIN, as root has)";
        // The program folder's tools are on the new file system too.
        // A file system in memory starts writable by all, which no work folder may be.
        setMode(room.folder(games, treeBytes), 0755);
        QFile::copy(CORVANE_PAK, games.programFolder + "/pak");
        QFile::copy(CORVANE_MINIZIP, games.programFolder + "/minizip");
    }
    const auto before = snapshot(games.root.path());
    FakeServices services(games.programFolder);
    RecordingView view(services);
    Conversion conversion(games.programFolder, games.paths, view);
    rlimit unlimited{};
    getrlimit(RLIMIT_FSIZE, &unlimited);
    if (!room.folder) {
        (void)signal(SIGXFSZ, SIG_IGN); // the tools then get an error instead of being killed
        rlimit limit = unlimited;
        limit.rlim_cur = rlim_t(QFileInfo(games.quake2 + "baseq2/pak0.pak").size() / 4);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    const Outcome outcome = conversion.run();
    setrlimit(RLIMIT_FSIZE, &unlimited);
    EXPECT_EQ(outcome, room.outcome);
    const QStringList prompts = services.prompts();
    if (room.said) {
        ASSERT_EQ(prompts.size(), 1) << prompts.join('|');
        EXPECT_TRUE(prompts[0].startsWith(
            QString(room.said).replace("<PF>", games.programFolder).replace("<Q3>", games.quake3)))
            << prompts[0];
        EXPECT_EQ(snapshot(games.root.path()), before);
        EXPECT_TRUE(QDir(games.quake3 + "qfbastion").entryList(QDir::Files).isEmpty());
    } else {
        EXPECT_EQ(zipMembers(games.quake3 + "qfbastion/pak0.pk3").size(), classicFileCount(0));
    }
}

INSTANTIATE_TEST_SUITE_P(Conversion, Rooms, ::testing::ValuesIn(kRooms), kRowName);

// Which release a pack is: by its size, then by its checksum. The rows are made here of
// generated bytes, as the real files are not at hand; the demo's size is the real table's.
TEST(KnownPaks, APackIsNamedByItsSizeThenItsChecksum) {
    const QByteArray full = "PACK" + QByteArray(70000, 'q');
    QByteArray damaged = full;
    damaged[40000] = 'x';
    const auto md5 = [](const QByteArray& bytes) {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
    };
    const std::vector<KnownPak> table = {{"baseq2/pak0.pak", full.size(), md5(full), "full game"},
                                         {"baseq2/pak0.pak", 9, md5("PACKdemo!"), "demo"}};
    const struct {
        const char* name;
        QByteArray bytes;
        qint64 sparseSize; // a file of this many zero bytes instead
        const char* file;
        bool realTable;
        PakIdentity::Match match;
        const char* described;
    } rows[] = {
        {"KnownRelease", full, 0, "baseq2/pak0.pak", false, PakIdentity::Match::Known, "full game"},
        {"TheDemoByItsName", "PACKdemo!", 0, "baseq2/pak0.pak", false, PakIdentity::Match::Known,
         "the demo"},
        {"OneByteChanged", damaged, 0, "baseq2/pak0.pak", false, PakIdentity::Match::Changed,
         "damaged or changed: the size of a known release (full game), other contents"},
        {"ASizeNoReleaseHas", full + "!", 0, "baseq2/pak0.pak", false, PakIdentity::Match::None,
         "no known release"},
        {"AnotherFilesSize", full, 0, "baseq2/pak1.pak", false, PakIdentity::Match::None,
         "no known release"},
        {"TheRealDemosSizeOtherBytes",
         {},
         49951322,
         "baseq2/pak0.pak",
         true,
         PakIdentity::Match::Changed,
         "damaged or changed: the size of a known release (demo), other contents"},
    };
    TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = dir.file(row.name);
        writeFile(path, row.bytes);
        if (row.sparseSize > 0) {
            ASSERT_TRUE(QFile::resize(path, row.sparseSize));
        }
        const io::Fd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
        const PakIdentity found =
            identifyPak(fd.get(), row.file, row.realTable ? knownPaks() : table);
        EXPECT_EQ(found.match, row.match);
        EXPECT_EQ(found.described(), row.described);
    }
}

// The program's table is the shared list of the known files, row for row.
TEST(KnownPaks, TheProgramsTableIsTheSharedList) {
    QFile shared(CORVANE_SHARED_DATA "/quake2-known-paks.tsv");
    if (!shared.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "the shared data folder beside the project is missing: "
                     << shared.fileName().toStdString();
    const std::vector<KnownPak> rows = parseKnownPaks(shared.readAll());
    ASSERT_EQ(rows.size(), knownPaks().size());
    ASSERT_GE(rows.size(), 5u);
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].file, knownPaks()[i].file);
        EXPECT_EQ(rows[i].bytes, knownPaks()[i].bytes);
        EXPECT_EQ(rows[i].md5, knownPaks()[i].md5);
        EXPECT_EQ(rows[i].release, knownPaks()[i].release);
    }
}

} // namespace
