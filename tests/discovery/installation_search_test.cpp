// The walk of every drive: which folders are listed, in which order, and how failing drives
// and folders, links and a closing window are met.

#include "discovery_fixture.h"

#include <QFile>
#include <QTimer>

#include <functional>

using namespace corvane;
using namespace corvane::test;

namespace {

class InstallationSearch : public DiscoveryTest {
protected:
    // Searches `disk` alone, answering Yes to whatever is offered; the lists are the result.
    void searchAlone(const TempDir& disk) {
        makeScreen({disk.path()});
        platform.answer({kYes, kYes});
        search();
    }
    // The listed paths of folders under the drive ("" for its root).
    QStringList at(const QStringList& relatives) const {
        QStringList paths;
        for (const QString& relative : relatives)
            paths << listed(relative.isEmpty() ? drive.path() : drive.file(relative));
        return paths;
    }
};

struct Layout {
    const char* name;
    std::function<void(const TempDir&)> make;
    QStringList quake2, quake3; // listed folders under the drive, "" for its root
};

// Test names show the case's name rather than its bytes.
void PrintTo(const Layout& value, std::ostream* out) {
    *out << value.name;
}

const Layout kLayouts[] = {
    {"LaterSiblingFirst",
     [](const TempDir& d) {
         installQuake2(d.file("A"));
         installQuake2(d.file("B"));
     },
     {"B", "A"},
     {}},
    {"NestedGameBeforeTheOuterOne",
     [](const TempDir& d) {
         installQuake2(d.file("Outer"));
         installQuake2(d.file("Outer/mods/Inner"));
         installQuake2(d.file("Outer/zz"));
     },
     {"Outer/zz", "Outer/mods/Inner", "Outer"},
     {}},
    {"DriveRootAsTheRootPath",
     [](const TempDir& d) {
         installQuake2(d.path());
         installQuake3(d.file("q3"));
     },
     {""},
     {"q3"}},
    {"BothGamesInBothLists",
     [](const TempDir& d) {
         installQuake2(d.file("Both"));
         installQuake3(d.file("Both"));
     },
     {"Both"},
     {"Both"}},
    {"PakFoundWhateverItsCase",
     [](const TempDir& d) {
         writeFile(d.file("U/quake2.exe"));
         writeFile(d.file("U/baseq2/PAK0.PAK"));
     },
     {"U"},
     {}},
    {"NoneForOtherCaseMissingPakFileForFolderOrOtherGamesPak",
     [](const TempDir& d) {
         writeFile(d.file("Case/Quake2.exe"));
         writeFile(d.file("Case/baseq2/pak0.pak"));
         writeFile(d.file("NoPak/quake2.exe"));
         makeDirs(d.file("NoPak/baseq2"));
         writeFile(d.file("FileNotFolder/quake2.exe"));
         writeFile(d.file("FileNotFolder/baseq2"));
         writeFile(d.file("Mixed/quake3.exe"));
         writeFile(d.file("Mixed/baseq3/pak0.pak"));
     },
     {},
     {}},
};

class ListedInstallations : public InstallationSearch,
                            public ::testing::WithParamInterface<Layout> {};

TEST_P(ListedInstallations, WithTheSeparatorInWalkOrder) {
    GetParam().make(drive);
    searchAlone(drive);
    EXPECT_EQ(entries(screen->lstFoundFileq2), at(GetParam().quake2));
    EXPECT_EQ(entries(screen->lstFoundFileq3), at(GetParam().quake3));
    EXPECT_TRUE(screen->cmdSearch->isHidden()) << "the search could run again";
}

INSTANTIATE_TEST_SUITE_P(Layouts, ListedInstallations, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallationSearch, WalksDrivesInListOrderAndSkipsUnreachableOnesSilently) {
    TempDir second("corvane-drive2"), gone("corvane-gone");
    installQuake2(drive.file("first"));
    installQuake3(drive.file("first"));
    installQuake2(second.file("second"));
    installQuake2(gone.file("hidden"));
    PlatformFolders::setFolderFailure(gone.path(), kDeviceUnavailable);
    makeScreen({drive.path(), gone.path(), gone.file("unplugged"), second.path()});
    platform.answer({kNo, kYes, kYes});

    EXPECT_FALSE(search());

    EXPECT_EQ(entries(screen->lstFoundFileq2),
              QStringList({listed(drive.file("first")), listed(second.file("second"))}));
    EXPECT_EQ(platform.boxes().size(), 3u) << "only the questions";
    // The last folder entered stays shown.
    EXPECT_EQ(screen->lbldir->caption(), second.file("second/baseq2"));
}

TEST_F(InstallationSearch, FailingFolderEndsTheVisitOfTheFolderEnteringIt) {
    // P holds A, M, Z and baseq2; the walk takes baseq2 and Z, then fails entering M, which
    // ends P's visit: A and P's own files are never examined. The drive root's visit goes on
    // and examines its own files last.
    installQuake2(drive.path());
    installQuake2(drive.file("O"));
    installQuake2(drive.file("P"));
    installQuake2(drive.file("P/A"));
    makeDirs(drive.file("P/M"));
    installQuake2(drive.file("P/Z"));
    installQuake3(drive.file("Q3"));
    const struct {
        int number;
        QStringList quake2;
        int errorBoxes;
    } cases[] = {
        // The walk goes on with O, the sibling before P.
        {kPermissionDenied, {"P/Z", "O", ""}, 1},
        {kPathNotFound, {"P/Z", "O", ""}, 1},
        // Out of memory ends the visit quietly and stops the root's further sub-folders.
        {kOutOfMemory, {"P/Z", ""}, 0},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.number);
        PlatformFolders::reset();
        PlatformFolders::setFolderFailure(drive.file("P/M"), test.number);
        const size_t before = platform.boxes().size();
        platform.answer({kYes, kYes});
        makeScreen({drive.path()});
        EXPECT_FALSE(search());
        EXPECT_EQ(entries(screen->lstFoundFileq2), at(test.quake2));
        ASSERT_EQ(platform.boxes().size() - before, size_t(test.errorBoxes + 2));
        if (test.errorBoxes == 1) {
            const ShownBox& box = platform.boxes()[before];
            EXPECT_EQ(box.prompt, RuntimeError::describe(test.number, drive.file("P/M")));
            EXPECT_EQ(box.buttons, kOkOnly);
            EXPECT_EQ(box.title, QString());
        }
        screen.reset();
    }
}

TEST_F(InstallationSearch, LinksToFoldersAreNotFollowed) {
    installQuake2(drive.file("G"));
    installQuake3(drive.file("G"));
    QFile::link(drive.path(), drive.file("G/loop"));
    QFile::link(drive.file("G"), drive.file("alias"));
    QFile::link(".", drive.file("G/baseq2/self"));
    searchAlone(drive);
    EXPECT_EQ(entries(screen->lstFoundFileq2), at(QStringList{"G"}));
    EXPECT_EQ(entries(screen->lstFoundFileq3), at(QStringList{"G"}));
}

TEST_F(InstallationSearch, ClosingTheWindowDuringTheSearchEndsTheProgram) {
    installQuake2(drive.file("Q2"));
    installQuake3(drive.file("Q3"));
    FrmQ2toQf& form = makeScreen({drive.path()});
    form.show();
    QTimer::singleShot(0, &form, [&form] { form.close(); });

    EXPECT_TRUE(search());

    EXPECT_TRUE(platform.boxes().empty()) << "the search went on to the questions";
    EXPECT_TRUE(pakinfo::Quake2Path.isEmpty());
    EXPECT_FALSE(form.cmdNext->isEnabled());
}

} // namespace
