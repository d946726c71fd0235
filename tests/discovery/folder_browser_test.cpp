// The hidden folder browser: the folder list's entries, the climb to the drive root, the
// file list following the folder list, drive selection, and the folder listings beneath.

#include "discovery_fixture.h"

#include <QDir>
#include <QFile>
#include <QThread>

using namespace corvane;
using namespace corvane::test;

namespace {

class FolderBrowser : public DiscoveryTest {};

TEST_F(FolderBrowser, NumbersTheOpenFolderItsParentsAndItsSubFoldersInByteOrder) {
    for (const char* name : {"B", "a", "Z"})
        makeDirs(drive.file(QString("x/y/") + name));
    writeFile(drive.file("x/y/file.txt"));
    // A link to a folder is not a sub-folder: the walk would loop through it.
    QFile::link(drive.path(), drive.file("x/y/up"));
    FrmQ2toQf& form = makeScreen({drive.path()});

    form.dirList->setPath(drive.file("x/y"));

    const QString root = listed(drive.path());
    const QString open = drive.file("x/y");
    EXPECT_EQ(form.dirList->ListIndex(), -1);
    ASSERT_EQ(form.dirList->ListCount(), 3);
    const QList<std::pair<int, QString>> expected = {
        {-3, root},       {-2, drive.file("x")}, {-1, open},
        {0, open + "/B"}, {1, open + "/Z"},      {2, open + "/a"},
    };
    for (const auto& [index, path] : expected)
        EXPECT_EQ(form.dirList->List(index), path) << "entry " << index;
    for (int outside : {-4, 3}) {
        try {
            form.dirList->List(outside);
            ADD_FAILURE() << "entry " << outside << " exists";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.number(), 381);
        }
    }
}

TEST_F(FolderBrowser, GoToDriveRootClimbsOneLevelPerStepWithTheFileListFollowing) {
    makeDirs(drive.file("a/b/c"));
    const QString root = listed(drive.path());
    const struct {
        QString start;
        QStringList opened;
    } cases[] = {
        {drive.file("a/b/c"), {drive.file("a/b"), drive.file("a"), root}},
        {drive.file("a") + "/", {root}},
        {root, {}},
    };
    FrmQ2toQf& form = makeScreen({drive.path()});
    for (const auto& test : cases) {
        form.dirList->setPath(test.start);
        QStringList opened, filesListed;
        QObject::connect(form.dirList, &DirListBox::pathChanged, form.dirList,
                         [&](const QString& path) {
                             opened << path;
                             filesListed << form.filList->Path();
                         });
        form.GoToDriveRoot();
        QObject::disconnect(form.dirList, &DirListBox::pathChanged, form.dirList, nullptr);
        EXPECT_EQ(opened, test.opened) << test.start.toStdString();
        EXPECT_EQ(filesListed, test.opened) << test.start.toStdString();
        EXPECT_EQ(form.dirList->Path(), root);
    }
}

TEST_F(FolderBrowser, FileListShowsTheMatchingFilesOfTheOpenFolderIgnoringCase) {
    for (const char* name : {"QUAKE2.EXE", "a.exe", "c.Exe", "b.txt", "exe", "d.exe.bak"})
        writeFile(drive.file(QString("g/") + name));
    makeDirs(drive.file("g/folder.exe"));
    QFile::link(drive.file("g/a.exe"), drive.file("g/linked.exe"));
    FrmQ2toQf& form = makeScreen({drive.path()});

    form.dirList->setPath(drive.file("g"));
    ASSERT_EQ(form.filList->Path(), drive.file("g"));
    form.filList->setPattern("*.exe");

    QStringList names;
    for (int j = 0; j < form.filList->ListCount(); ++j)
        names << form.filList->List(j);
    EXPECT_EQ(names, QStringList({"QUAKE2.EXE", "a.exe", "c.Exe", "linked.exe"}));
}

TEST(WildcardPattern, MatchesAsTheFileListDoes) {
    const struct {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"quake2.exe", "*.exe", true},
        {"QUAKE2.EXE", "*.exe", true},
        {"quake2.exe", "*", true},
        {"", "*", true},
        {"exe", "*.exe", false},
        {"a.exe.bak", "*.exe", false},
        {"a.b.exe", "*.exe", true},
        {"ab", "a?", true},
        {"a", "a?", false},
        {"aXbYb", "a*b", true},
        {"aXbYc", "a*b", false},
        {"pak0.pak", "pak?.pak", true},
    };
    for (const auto& test : cases)
        EXPECT_EQ(MatchesPattern(test.name, test.pattern), test.matches)
            << test.name << " ~ " << test.pattern;
}

TEST_F(FolderBrowser, FolderListSeesAFolderThatChangedWhileTheWalkWasBelowIt) {
    makeDirs(drive.file("p/first"));
    // Listings of folders changed within the file system's clock tick are never reused; let
    // p age past that so that its listing is kept while the walk is below it.
    QThread::msleep(100);
    FrmQ2toQf& form = makeScreen({drive.path()});
    form.dirList->setPath(drive.file("p"));
    form.dirList->setPath(drive.file("p/first"));
    makeDirs(drive.file("p/second"));
    form.dirList->setPath(drive.file("p"));
    EXPECT_EQ(form.dirList->ListCount(), 2);
    QDir(drive.file("p/first")).removeRecursively();
    form.dirList->setPath(drive.path());
    form.dirList->setPath(drive.file("p"));
    ASSERT_EQ(form.dirList->ListCount(), 1);
    EXPECT_EQ(form.dirList->List(0), drive.file("p/second"));
}

TEST_F(FolderBrowser, UnreachableDriveFailsAtItsSelectionWith68) {
    TempDir gone("corvane-gone");
    const QString unplugged = gone.file("unplugged");
    FrmQ2toQf& form = makeScreen({drive.path(), gone.path(), unplugged});
    PlatformFolders::setFolderFailure(gone.path(), kDeviceUnavailable);
    form.Drvlist->setListIndex(0);
    for (int index : {1, 2}) {
        try {
            form.Drvlist->setListIndex(index);
            ADD_FAILURE() << "drive " << index << " was selected";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.number(), kDeviceUnavailable);
        }
        EXPECT_EQ(form.Drvlist->ListIndex(), 0);
        EXPECT_EQ(form.dirList->Path(), listed(drive.path()));
    }
}

TEST_F(FolderBrowser, DriveThatCannotBeOpenedFallsBackSilentlyToTheFolderListsDrive) {
    TempDir locked("corvane-locked");
    FrmQ2toQf& form = makeScreen({drive.path(), locked.path()});
    PlatformFolders::setFolderFailure(locked.path(), kPermissionDenied);
    makeDirs(drive.file("inner"));
    form.Drvlist->setListIndex(0);
    form.dirList->setPath(drive.file("inner"));

    form.Drvlist->setListIndex(1);

    EXPECT_TRUE(platform.boxes().empty());
    EXPECT_EQ(form.Drvlist->ListIndex(), 0);
    EXPECT_EQ(form.Drvlist->Drive(), listed(drive.path()));
    EXPECT_EQ(form.dirList->Path(), listed(drive.path()));
    EXPECT_EQ(form.filList->Path(), listed(drive.path()));
}

} // namespace
