// The search on real folders: which installations are listed and in which order, how failing
// drives and folders are met (unreadable ones for real, as an unprivileged user), and the
// confirmation that follows.

#include "io/folder.h"
#include "platform/folders.h"
#include "platform/game_paths.h"
#include "search/folder_walk.h"
#include "search/installation_search.h"
#include "support/support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>

using namespace corvane;
using namespace corvane::test;

namespace {

// Keeps what the search shows.
struct RecordingView : SearchView {
    void setSearchVisible(bool visible) override { searchVisible = visible; }
    void setNextEnabled(bool enabled) override { nextEnabled = enabled; }
    void setStatus(const QString& text) override { status = text; }
    void folderFound(Game game, const QString& folder) override {
        (game == Game::Quake2 ? quake2 : quake3) << folder;
    }
    bool searchVisible = true, nextEnabled = false;
    QString status;
    QStringList quake2, quake3;
};

class Search : public ::testing::Test {
protected:
    // Searches the drives `roots` (the test drive alone by default), answering `answers`.
    void search(const std::vector<int>& answers, const QStringList& roots = {}) {
        services = std::make_unique<FakeServices>(
            QString(), roots.isEmpty() ? QStringList{drive.path()} : roots);
        for (const auto& [folder, number] : failures)
            services->folders().fail(drive.file(folder), number);
        services->answer(answers);
        view = RecordingView();
        searcher = std::make_unique<InstallationSearch>(*services, paths, view);
        // The browser has loaded on the root of its drive.
        EXPECT_TRUE(searcher->dirList.isDriveRoot(searcher->dirList.Path()));
        ended = runsToEnd(*services, [this] { searcher->cmdSearch_Click(); });
    }
    // The listed paths of folders under the drive ("" for its root).
    QStringList at(const QStringList& relatives) const {
        QStringList listed;
        for (const QString& relative : relatives)
            listed << (relative.isEmpty() ? drive.path() : drive.file(relative)) + '/';
        return listed;
    }

    TempDir drive{"corvane-drive"};
    std::vector<std::pair<QString, int>> failures;
    std::unique_ptr<FakeServices> services;
    GamePaths paths;
    RecordingView view;
    std::unique_ptr<InstallationSearch> searcher;
    bool ended = false;
};

struct Layout {
    const char* name;
    QStringList tree;           // as makeTree() takes it
    QStringList quake2, quake3; // listed folders under the drive, "" for its root
    std::vector<std::pair<QString, int>> failures = {};
    int failureBoxes = 0;
    QStringList neverRead = {};
    const char* failureBox = "Path/File access error"; // and the failing folder
};

// The number of the run-time error `read` throws, 0 when it throws none.
int errorOf(const std::function<void()>& read) {
    try {
        read();
    } catch (const Error& error) {
        return error.number();
    }
    return 0;
}

// P holds A, M, Z and baseq2; M fails.
const QStringList kFailing = {"=q2", "O=q2", "P=q2", "P/A=q2", "P/M/", "P/Z=q2", "Q3=q3"};

const Layout kLayouts[] = {
    {"NestedGameBeforeTheOuterOne",
     {"Outer=q2", "Outer/mods/Inner=q2", "Outer/zz=q2"},
     {"Outer/zz", "Outer/mods/Inner", "Outer"},
     {}},
    {"DriveRootAsTheRootPathAndBothGamesInOneFolder",
     {"=q2", "Both=q2", "Both=q3"},
     {"Both", ""},
     {"Both"}},
    {"PakFoundWhateverItsCase", {"U/quake2.exe", "U/baseq2/PAK0.PAK"}, {"U"}, {}},
    // Without the program (in any case), a folder is listed for its data alone, in walk order.
    {"NoneForAMissingPakFileForFolderOrOtherGamesPakButDataAlone",
     {"Case/Quake2.exe", "Case/baseq2/pak0.pak", "NoPak/quake2.exe", "NoPak/baseq2/",
      "FileNotFolder/quake2.exe", "FileNotFolder/baseq2", "Mixed/quake3.exe",
      "Mixed/baseq3/pak0.pak", "usr/share/games/quake2/baseq2/pak0.pak", "Q3/baseq3/pak0.pk3"},
     {"usr/share/games/quake2", "Case"},
     {"Q3"}},
    // An engine's home path holding qfbastion, Quake 3's data in a system place; one without
    // qfbastion, or whose qfbastion is a link, is none.
    {"HomePathsWithQfbastion",
     {"usr/share/games/quake3/baseq3/pak0.pk3", "home/a/.q3a/qfbastion/",
      "home/a/.q3a/baseq3/q3config.cfg", "home/b/.q3a/baseq3/",
      "home/c/.q3a/qfbastion -> ../../a/.q3a/qfbastion"},
     {},
     {"usr/share/games/quake3", "home/a/.q3a"}},
    {"LinksToFoldersAreNotFollowed", {"G=q2", "G/loop -> ..", "alias -> G"}, {"G"}, {}},
    // Entering M fails, and the walk goes on with A, P's own files and O, the sibling before P.
    {"AFolderThatCannotBeEnteredEndsOnlyItsOwnVisit",
     kFailing,
     {"P/Z", "P/A", "P", "O", ""},
     {"Q3"},
     {{"P/M", kPathFileAccessError}},
     1},
    {"AFolderTheUserMayNotReadIsPassedOverWithoutABox",
     kFailing,
     {"P/Z", "P/A", "P", "O", ""},
     {"Q3"},
     {{"P/M", kPermissionDenied}}},
    // P vanishes as the walk enters Z: no box, and A and M are not tried one by one.
    {"AFolderThatVanishesIsPassedOverWithoutABoxNorItsSubFolders",
     kFailing,
     {"O", ""},
     {"Q3"},
     {{"P/Z", 0}},
     0,
     {"P/M", "P/A"}},
    // A drive pulled out during the walk: one box, however many folders fail after it; each
    // failure ends its parent's further sub-folders.
    {"ADriveGoneDuringTheWalkSaysSoOnce",
     kFailing,
     {"P/Z", "P", ""},
     {"Q3"},
     {{"P/M", kDeviceUnavailable}, {"O", kDeviceUnavailable}},
     1,
     {},
     "Device unavailable"},
    // Out of memory ends the visit quietly and stops P's further sub-folders.
    {"OutOfMemoryStopsTheParentsFurtherSubFolders",
     kFailing,
     {"P/Z", "P", "O", ""},
     {"Q3"},
     {{"P/M", kOutOfMemory}}},
};

class Layouts : public Search, public ::testing::WithParamInterface<Layout> {};

TEST_P(Layouts, AreListedWithTheSeparatorInWalkOrder) {
    makeTree(drive.path(), GetParam().tree);
    // The system places are the drive's own.
    const ScopedEnvironment dataDirs("XDG_DATA_DIRS", drive.file("usr/share"));
    failures = GetParam().failures;
    const auto before = snapshot(drive.path());
    search({kYes, kYes});
    // The search writes nothing, anywhere (but where a row makes a folder vanish).
    if (std::none_of(failures.begin(), failures.end(),
                     [](const auto& f) { return f.second == 0; })) {
        EXPECT_EQ(snapshot(drive.path()), before);
    }
    EXPECT_EQ(view.quake2, at(GetParam().quake2));
    EXPECT_EQ(view.quake3, at(GetParam().quake3));
    EXPECT_FALSE(view.searchVisible) << "the search could run again";
    // Besides the questions and the end for a game not found, only failures are shown.
    QStringList failuresShown = services->prompts();
    failuresShown.removeIf([](const QString& box) {
        return box.startsWith("Is this the right") || box.contains(" not found, Install it");
    });
    EXPECT_EQ(failuresShown.size(), GetParam().failureBoxes) << failuresShown.join('|');
    for (const QString& box : failuresShown)
        EXPECT_EQ(box, GetParam().failureBox + QString(": ") + drive.file("P/M"));
    for (const QString& folder : GetParam().neverRead)
        EXPECT_FALSE(services->folders().read().contains(drive.file(folder))) << folder;
}

INSTANTIATE_TEST_SUITE_P(Search, Layouts, ::testing::ValuesIn(kLayouts), kRowName);

// The wizard counts a folder's sub-folders in 16 bits, as its screens do: a folder with more
// fails with one box, and the walk goes on; find has no such limit.
TEST_F(Search, TheWizardCountsSubFoldersIn16BitsFindCountsThemAll) {
    makeTree(drive.path(), {"A=q2", "A=q3", "Big/Inner=q2"});
    for (int i = 0; i <= std::numeric_limits<std::int16_t>::max(); ++i)
        ASSERT_EQ(
            ::mkdir(QFile::encodeName(drive.file("Big/f" + QString::number(i))).constData(), 0755),
            0);
    search({kYes, kYes});
    EXPECT_EQ(view.quake2, at({"A"}));
    EXPECT_EQ(services->prompts().filter("Overflow"), QStringList{"Overflow"});
    const Finished find = run(CORVANE_PROGRAM, {"find", drive.path()});
    EXPECT_EQ(find.exitCode, 0) << find.err;
    EXPECT_EQ(find.err, "");
    EXPECT_EQ(find.out.count('\n'), 3) << find.out;
    EXPECT_TRUE(find.out.contains(QFile::encodeName(drive.file("Big/Inner/")))) << find.out;
}

// A bind mount shows a folder of the same disk again, elsewhere: the wizard's walk takes it for
// another file system, as it does a disk of its own, and does not go into it.
TEST(DiskFolders, ABindMountIsNoSubFolder) {
    TempDir root;
    makeTree(root.path(), {"A/", "B/"});
    struct statx info {};
    if (statx(AT_FDCWD, QFile::encodeName(root.path()).constData(), 0, STATX_MNT_ID, &info) != 0 ||
        (info.stx_mask & STATX_MNT_ID) == 0)
        GTEST_SKIP() << "this kernel tells no mount ids";
    const QByteArray a = QFile::encodeName(root.file("A")), b = QFile::encodeName(root.file("B"));
    if (::mount(a.constData(), b.constData(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "this process may not mount a folder: " << strerror(errno);
    const QStringList listed = DiskFolders().subFolders(root.path());
    ::umount2(b.constData(), MNT_DETACH);
    EXPECT_EQ(listed, QStringList{"A"});
}

// The drives of the machine: the root once and first, then each drive that can hold the user's
// files, never a pseudo file system; every list refuses an entry past its end.
TEST_F(Search, TheDriveListHoldsTheRootOnceAndNoPseudoFileSystem) {
    const QStringList roots = DiskFolders().driveRoots();
    ASSERT_FALSE(roots.isEmpty());
    EXPECT_EQ(roots.front(), "/");
    EXPECT_EQ(roots.count("/"), 1);
    for (const QString& root : roots)
        EXPECT_TRUE(root.endsWith('/') && !root.endsWith("//") && QFileInfo(root).isDir()) << root;
    // Where this process may mount one: a file system in memory is a folder, but no drive.
    const TempDir memory;
    if (const MemoryDisk disk(memory.path(), 65536); disk.mounted()) {
        EXPECT_FALSE(DiskFolders().driveRoots().contains(memory.path() + '/'));
    }
    search({});
    EXPECT_EQ(errorOf([&] { searcher->Drvlist.List(searcher->Drvlist.ListCount()); }),
              kInvalidIndex);
    EXPECT_EQ(errorOf([&] { searcher->Drvlist.List(-1); }), kInvalidIndex);
    EXPECT_EQ(errorOf([&] { searcher->dirList.List(searcher->dirList.ListCount()); }),
              kInvalidIndex);
    EXPECT_EQ(errorOf([&] { searcher->filList.List(searcher->filList.ListCount()); }),
              kInvalidIndex);
}

TEST_F(Search, WalksDrivesInListOrderAndSkipsUnreachableOnesSilently) {
    makeTree(drive.path(), {"first=q2", "first=q3", "second/second=q2", "gone/hidden=q2"});
    failures = {{"gone", kDeviceUnavailable}};
    search({kNo, kYes, kYes}, {drive.file("first"), drive.file("gone"), drive.file("unplugged"),
                               drive.file("second")});
    EXPECT_FALSE(ended);
    EXPECT_EQ(view.quake2, at({"first", "second/second"}));
    EXPECT_EQ(services->boxes().size(), 3u) << "only the questions";
    EXPECT_EQ(view.status, drive.file("second/second/baseq2")) << "the last folder entered stays";
    EXPECT_EQ(paths.quake2, drive.file("second/second/"));
    // A drive that cannot be opened sends the drive list back to the drive the folder list is
    // still on, the first one too.
    services->folders().fail(drive.file("second"), kPathFileAccessError);
    searcher->Drvlist.setListIndex(0);
    searcher->Drvlist.setListIndex(3);
    EXPECT_EQ(searcher->Drvlist.ListIndex(), 0);
    EXPECT_EQ(searcher->dirList.Path(), drive.file("first/"));
}

// The confirmation: questions in order, the choice kept, or the end.
struct Road {
    const char* name;
    QStringList tree;
    std::vector<int> answers;
    QStringList boxes; // "2:folder" / "3:folder" for a question, else a message
    QString quake2Path = {}, quake3Path = {};
};

const Road kRoads[] = {
    {"NoNoYesOnThreeQuake2Folders",
     {"q2a=q2", "q2b=q2", "q2c=q2", "q3a=q3"},
     {kNo, kNo, kYes, kYes},
     {"2:q2c", "2:q2b", "2:q2a", "3:q3a"},
     "q2a",
     "q3a"},
    {"NoToEveryQuake2Folder",
     {"q2a=q2", "q2b=q2", "q3a=q3"},
     {kNo, kNo},
     {"2:q2b", "2:q2a", "Install Quake 2, then rerun this application!"}},
    {"NoToEveryQuake3Folder",
     {"q2a=q2", "q3a=q3", "q3b=q3"},
     {kYes, kNo, kNo},
     {"2:q2a", "3:q3b", "3:q3a", "Install Quake 3, then rerun this application!"},
     "q2a"},
    {"Quake3Missing", {"q2a=q2"}, {}, {"Quake 3 not found, Install it and try this again!"}},
    {"NeitherFound", {}, {}, {"Quake 2 not found, Install it and try this again!"}},
};

class Confirmation : public Search, public ::testing::WithParamInterface<Road> {};

TEST_P(Confirmation, AsksFolderByFolderAndKeepsTheChoiceOrEnds) {
    const Road& road = GetParam();
    makeTree(drive.path(), road.tree);
    search(road.answers);
    std::vector<ShownBox> expected;
    for (const QString& box : road.boxes) {
        const QString game = box.left(2) == "2:" ? "2" : box.left(2) == "3:" ? "3" : "";
        if (game.isEmpty())
            expected.push_back({box, kOkOnly, QString()});
        else
            expected.push_back(
                {"Is this the right Quake " + game + " Path to use?\r\n" + drive.file(box.mid(2)) +
                     '/',
                 kYesNo,
                 game == "2" ? "Select correct Quake2 Path" : "Is this the correct Quake3 Path"});
    }
    EXPECT_EQ(services->boxes(), expected);
    const bool confirmed = !road.quake3Path.isEmpty();
    EXPECT_EQ(ended, !confirmed);
    EXPECT_EQ(view.nextEnabled, confirmed);
    EXPECT_EQ(paths.quake2, road.quake2Path.isEmpty() ? "" : drive.file(road.quake2Path) + '/');
    EXPECT_EQ(paths.quake3, road.quake3Path.isEmpty() ? "" : drive.file(road.quake3Path) + '/');
}

INSTANTIATE_TEST_SUITE_P(Search, Confirmation, ::testing::ValuesIn(kRoads), kRowName);

} // namespace

// A sub-folder that is gone when the walk opens it fails alone, and its folder then lists the
// rest; when the folder went with it, the folder fails too, so its other sub-folders are not
// tried one by one.
TEST_F(Search, AFolderIsListedAgainWhenASubFolderWentAndFailsWhenItWentItself) {
    makeTree(drive.path(), {"P/A/", "P/M/", "P/Z/"});
    DiskFolders folders;
    const QString p = drive.file("P");
    // A name that is not UTF-8 could not be shown: it is passed over.
    const QByteArray unshown = QFile::encodeName(p) + "/\xff";
    ASSERT_EQ(::mkdir(unshown.constData(), 0755), 0);
    const QStringList listed = folders.subFolders(p);
    ASSERT_EQ(::rmdir(unshown.constData()), 0);
    ASSERT_EQ(listed, (QStringList{"A", "M", "Z"}));
    ASSERT_TRUE(QDir(drive.file("P/M")).removeRecursively());
    EXPECT_EQ(errorOf([&] { folders.subFolders(drive.file("P/M")); }), kPathNotFound);
    EXPECT_EQ(folders.subFolders(p), (QStringList{"A", "Z"}));
    ASSERT_TRUE(QDir(p).removeRecursively());
    EXPECT_EQ(errorOf([&] { folders.subFolders(drive.file("P/A")); }), kPathNotFound);
    EXPECT_EQ(errorOf([&] { folders.subFolders(p); }), kPathNotFound);
}

// The plain walk that find makes: what it hands its visitor, in which order, when the tree
// changes under it, holds links that loop, another file system, or more levels than a path or
// the open-file limit allows.
namespace {

// Keeps each visit as "folder|its sub-folders", relative to the root ("" for the root).
struct RecordingVisitor : FolderVisitor {
    bool visit(const WalkedFolder& folder) override {
        QString relative = QString::fromStdString(folder.path).mid(root.size());
        relative.chop(relative.isEmpty() ? 0 : 1);
        QStringList names;
        for (const std::string& name : folder.folders)
            names << QString::fromStdString(name);
        visits << relative + '|' + names.join(',');
        if (relative == changedAt && change)
            change();
        return true;
    }
    void failed(const std::string& path, int error) override {
        failures << QString::fromStdString(path) + ": " + strerror(error);
    }
    QString root; // ending with the separator
    QString changedAt;
    std::function<void()> change;
    QStringList visits, failures;
};

// Past the 64 folders the walk keeps open, sub-folders are opened by their path below the last
// one kept. 17 names of 240 bytes with their separators are 4097 bytes: one such path is
// exactly as long as the system refuses at once.
const QString kDeepName = QString(240, 'd');
constexpr int kDepth = 100; // past the open folders kept, and past the longest path at once

// The visits of a chain of kDepth folders below "deep": the deepest first.
QStringList deepVisits() {
    QStringList visits;
    for (int level = kDepth; level >= 1; --level)
        visits << "deep/" + QStringList(level, kDeepName).join('/') + '|' +
                      (level < kDepth ? kDeepName : "");
    return visits << "deep|" + kDeepName << "|deep";
}

struct WalkRow {
    const char* name;
    QStringList tree;   // as makeTree() takes it
    QStringList visits; // as RecordingVisitor keeps them
    const char* changedAt = nullptr;
    std::function<void(const TempDir&)> change = {};
    bool unprivileged = false;       // the change is a mode that root passes
    const char* mountedOn = nullptr; // a file system of its own, before the tree is made
    bool deep = false;               // and a chain of kDepth folders below "deep"
};

const WalkRow kWalkRows[] = {
    {"ASubFolderThatVanishesIsPassedOver",
     {"P/A/", "P/M/", "P/Z/"},
     {"P/Z|", "P/A|", "P|A,Z", "|P"},
     "P/Z",
     [](const TempDir& root) { QDir(root.file("P/M")).removeRecursively(); }},
    // A and M are not tried one by one, and P is not visited.
    {"AFolderThatVanishesWithItsParentEndsTheParentsVisit",
     {"P/A/", "P/M/", "P/Z/", "Q/"},
     {"Q|", "P/Z|", "|P,Q"},
     "P/Z",
     [](const TempDir& root) { QDir(root.file("P")).removeRecursively(); }},
    {"AFolderThatBecomesUnreadableIsPassedOverWithoutAWord",
     {"P/A/", "P/M/inner/", "P/Z/"},
     {"P/Z|", "P/A|", "P|A,M,Z", "|P"},
     "P/Z",
     [](const TempDir& root) { setMode(root.file("P/M"), 0); },
     true},
    {"LinksThatLoopOrLeadToFoldersAreNeverFollowed",
     {"G/", "G/loop -> ..", "G/up -> ../G", "alias -> G", "self -> self"},
     {"G|", "|G"}},
    {"AnotherFileSystemIsNotEntered", {"M/inner/", "N/"}, {"N|", "|N"}, nullptr, {}, false, "M"},
    {"ATreeDeeperThanAPathIsWalkedWhole", {}, deepVisits(), nullptr, {}, false, nullptr, true},
};

class FolderWalk : public ::testing::TestWithParam<WalkRow> {};

TEST_P(FolderWalk, HandsEachFolderToItsVisitorAfterItsSubFolders) {
    const WalkRow& row = GetParam();
    if (row.unprivileged && rerunUnprivileged())
        return;
    TempDir root("corvane-walk");
    std::optional<MemoryDisk> disk;
    if (row.mountedOn) {
        makeDirs(root.file(row.mountedOn));
        disk.emplace(root.file(row.mountedOn), 65536);
        if (!disk->mounted())
            GTEST_SKIP() << "this process may not mount a file system";
    }
    makeTree(root.path(), row.tree);
    const io::Fd top(::open(QFile::encodeName(root.path()).constData(), O_PATH | O_DIRECTORY));
    if (row.deep) {
        ASSERT_TRUE(io::makeFolder(top.get(), "deep", 0755));
        io::Fd folder(::openat(top.get(), "deep", O_PATH | O_DIRECTORY));
        for (int level = 0; level < kDepth; ++level) {
            io::Result<io::Fd> made = io::makeFolder(folder.get(), kDeepName.toStdString(), 0755);
            ASSERT_TRUE(made);
            folder = std::move(made).value();
        }
    }
    RecordingVisitor visitor;
    visitor.root = root.path() + '/';
    if (row.changedAt) {
        visitor.changedAt = row.changedAt;
        visitor.change = [&] { row.change(root); };
    }
    walkFolders({QFile::encodeName(visitor.root).toStdString()}, visitor);
    EXPECT_EQ(visitor.visits, row.visits);
    EXPECT_EQ(visitor.failures, QStringList());
    if (row.deep) { // deeper than a removal by path reaches
        EXPECT_TRUE(io::removeTree(top.get(), "deep"));
    }
}

INSTANTIATE_TEST_SUITE_P(Walk, FolderWalk, ::testing::ValuesIn(kWalkRows), kRowName);

// Where the kernel has no openat2 (or a sandbox forbids it), each name is looked at before it is
// opened: find lists the same folders, never through a link nor on another file system.
TEST(FolderWalk, FindsTheSameWithoutOpenat2) {
    TempDir root("corvane-walk");
    makeDirs(root.file("M"));
    const MemoryDisk disk(root.file("M"), 65536);
    makeTree(root.path(), {"A=q2", "A/loop -> ..", "alias -> A", "B=q3", "M/C=q2"});
    const Finished find = run(CORVANE_PROGRAM, {"find", root.path()});
    const Finished without = run(CORVANE_PROGRAM, {"find", root.path()}, {}, {},
                                 [] { failSystemCall(SYS_openat2, 3, sizeof(open_how), ENOSYS); });
    EXPECT_EQ(without.exitCode, 0) << without.err;
    EXPECT_EQ(without.err, "");
    EXPECT_EQ(without.out, find.out);
    QStringList listed;
    for (const QByteArray& line : find.out.split('\n'))
        if (!line.isEmpty())
            listed << QFile::decodeName(line.split('\t').value(1));
    EXPECT_EQ(listed,
              (disk.mounted() ? QStringList{root.file("B/"), root.file("A/")}
                              : QStringList{root.file("M/C/"), root.file("B/"), root.file("A/")}));
}

// A drive that stops answering (every folder fails with EIO) is said once, and its walk ends.
TEST(FolderWalk, ADriveGoneIsSaidOnceAndEndsItsWalk) {
    TempDir root("corvane-walk");
    makeTree(root.path(), {"A/", "B/", "C/"});
    const Finished find = run(CORVANE_PROGRAM, {"find", root.path()}, {}, {},
                              [] { failSystemCall(SYS_openat2, 3, sizeof(open_how), EIO); });
    EXPECT_EQ(find.err.count(strerror(EIO)), 1) << find.err;
}

// Some file systems (ext2 made without file types, older XFS) list names without their kinds:
// each is then looked at, and the walk finds the same folders.
TEST(FolderWalk, ListingsWithoutKindsAreWalkedAlike) {
    TempDir root("corvane-walk");
    makeTree(root.file("tree"), {"P/A/", "P/Z/", "P/file", "P/link -> A"});
    makeDirs(root.file("disk"));
    if (run("mke2fs", {"-q", "-t", "ext2", "-O", "^filetype", "-d", root.file("tree"),
                       root.file("image"), "1M"})
                .exitCode != 0 ||
        run("mount", {"-o", "loop,ro", root.file("image"), root.file("disk")}).exitCode != 0)
        GTEST_SKIP() << "this process may not make and mount a disk image without file types";
    const QByteArray disk = QFile::encodeName(root.file("disk"));
    const auto unmount = qScopeGuard([&] { ::umount2(disk.constData(), MNT_DETACH); });
    RecordingVisitor visitor;
    visitor.root = root.file("disk") + '/';
    walkFolders({QFile::encodeName(visitor.root).toStdString()}, visitor);
    EXPECT_EQ(visitor.visits,
              (QStringList{"lost+found|", "P/Z|", "P/A|", "P|A,Z", "|P,lost+found"}));
    EXPECT_EQ(visitor.failures, QStringList());
}

} // namespace
