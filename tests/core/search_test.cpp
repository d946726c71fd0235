// The search on real folders: which installations are listed and in which order, how failing
// drives and folders are met (unreadable ones for real, as an unprivileged user), and the
// confirmation that follows.

#include "core/game_paths.h"
#include "core/search/installation_search.h"
#include "support/support.h"

#include <QFile>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <sys/stat.h>

using namespace corvane;
using namespace corvane::test;

namespace {

void installQuake2(const QString& folder) {
    writeFile(folder + "/quake2.exe");
    writeFile(folder + "/baseq2/pak0.pak");
}
void installQuake3(const QString& folder) {
    writeFile(folder + "/quake3.exe");
    writeFile(folder + "/baseq3/pak0.pk3");
}

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
            services->folders().fail(folder, number);
        for (int answer : answers)
            services->answer({answer});
        searcher = std::make_unique<InstallationSearch>(*services, paths, view);
        ended = runsToEnd(*services, [this] { searcher->cmdSearch_Click(); });
    }
    // The listed paths of folders under the drive ("" for its root).
    QStringList at(const QStringList& relatives) const {
        QStringList paths;
        for (const QString& relative : relatives)
            paths << (relative.isEmpty() ? drive.path() : drive.file(relative)) + '/';
        return paths;
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
    std::function<void(const TempDir&)> make;
    QStringList quake2, quake3; // listed folders under the drive, "" for its root
};

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
    {"DriveRootAsTheRootPathAndBothGamesInOneFolder",
     [](const TempDir& d) {
         installQuake2(d.path());
         installQuake2(d.file("Both"));
         installQuake3(d.file("Both"));
     },
     {"Both", ""},
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
    {"LinksToFoldersAreNotFollowed",
     [](const TempDir& d) {
         installQuake2(d.file("G"));
         QFile::link(d.path(), d.file("G/loop"));
         QFile::link(d.file("G"), d.file("alias"));
     },
     {"G"},
     {}},
    {"NameThatIsNotUtf8BesideAnInstallIsSkipped",
     [](const TempDir& d) {
         installQuake2(d.file("a_quake2"));
         const QByteArray odd = QFile::encodeName(d.path()) + "/b_\xff\xfe_folder";
         ASSERT_EQ(mkdir(odd.constData(), 0755), 0);
         installQuake2(d.file("z_quake2"));
     },
     {"z_quake2", "a_quake2"},
     {}},
};

class Layouts : public Search, public ::testing::WithParamInterface<Layout> {};

TEST_P(Layouts, AreListedWithTheSeparatorInWalkOrder) {
    GetParam().make(drive);
    search({kYes, kYes});
    EXPECT_EQ(view.quake2, at(GetParam().quake2));
    EXPECT_EQ(view.quake3, at(GetParam().quake3));
    EXPECT_FALSE(view.searchVisible) << "the search could run again";
    // Only questions (or the end for a missing game): no failure was shown.
    for (const ShownBox& box : services->boxes())
        EXPECT_TRUE(box.buttons == kYesNo || box.prompt.contains("not found")) << box.prompt;
}

INSTANTIATE_TEST_SUITE_P(Search, Layouts, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Search, WalksDrivesInListOrderAndSkipsUnreachableOnesSilently) {
    TempDir second("corvane-drive2"), gone("corvane-gone");
    installQuake2(drive.file("first"));
    installQuake3(drive.file("first"));
    installQuake2(second.file("second"));
    installQuake2(gone.file("hidden"));
    failures = {{gone.path(), kDeviceUnavailable}};
    search({kNo, kYes, kYes}, {drive.path(), gone.path(), gone.file("unplugged"), second.path()});

    EXPECT_FALSE(ended);
    EXPECT_EQ(view.quake2, QStringList({drive.file("first/"), second.file("second/")}));
    EXPECT_EQ(services->boxes().size(), 3u) << "only the questions";
    EXPECT_EQ(view.status, second.file("second/baseq2")) << "the last folder entered stays shown";
    EXPECT_EQ(paths.quake2, second.file("second/"));
}

TEST_F(Search, AFailingFolderEndsOnlyItsOwnVisit) {
    // P holds A, M, Z and baseq2; the walk takes baseq2 and Z, fails entering M, then goes on
    // with A and P's own files, and with O, the sibling before P.
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
        int failureBoxes;
    } cases[] = {
        {kPermissionDenied, {"P/Z", "P/A", "P", "O", ""}, 0},
        {kPathFileAccessError, {"P/Z", "P/A", "P", "O", ""}, 1},
        // Out of memory ends the visit quietly and stops P's further sub-folders.
        {kOutOfMemory, {"P/Z", "P", "O", ""}, 0},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.number);
        failures = {{drive.file("P/M"), test.number}};
        view = RecordingView();
        search({kYes, kYes});
        EXPECT_FALSE(ended);
        EXPECT_EQ(view.quake2, at(test.quake2));
        ASSERT_EQ(services->boxes().size(), size_t(test.failureBoxes + 2));
        if (test.failureBoxes == 1) {
            EXPECT_EQ(services->boxes()[0],
                      (ShownBox{RuntimeError::describe(test.number, drive.file("P/M")), kOkOnly,
                                QString()}));
        }
    }
}

TEST_F(Search, FoldersTheUserMayNotReadArePassedOverWithoutABox) {
    if (rerunUnprivileged())
        return;
    installQuake2(drive.file("a_quake2"));
    writeFile(drive.file("m_locked/z/quake3.exe"));
    installQuake3(drive.file("z_quake3"));
    makeDirs(drive.file("z_quake3/n_locked"));
    ASSERT_EQ(chmod(QFile::encodeName(drive.file("m_locked")).constData(), 0), 0);
    ASSERT_EQ(chmod(QFile::encodeName(drive.file("z_quake3/n_locked")).constData(), 0311), 0);
    search({kYes, kYes});
    EXPECT_EQ(view.quake2, at({"a_quake2"}));
    EXPECT_EQ(view.quake3, at({"z_quake3"}));
    EXPECT_EQ(services->boxes().size(), 2u) << services->prompts().join('|').toStdString();
    EXPECT_TRUE(view.nextEnabled);
}

// The confirmation: questions in order, the choice kept, or the end.
struct Road {
    const char* name;
    QStringList quake2, quake3; // folders under the drive; the walk finds them last first
    std::vector<int> answers;
    QStringList boxes; // "2:folder" / "3:folder" for a question, else a message
    QString quake2Path, quake3Path;
};

const Road kRoads[] = {
    {"OneOfEachYesYes", {"q2a"}, {"q3a"}, {kYes, kYes}, {"2:q2a", "3:q3a"}, "q2a", "q3a"},
    {"NoNoYesOnThreeQuake2Folders",
     {"q2a", "q2b", "q2c"},
     {"q3a"},
     {kNo, kNo, kYes, kYes},
     {"2:q2c", "2:q2b", "2:q2a", "3:q3a"},
     "q2a",
     "q3a"},
    {"NoToEveryQuake2Folder",
     {"q2a", "q2b"},
     {"q3a"},
     {kNo, kNo},
     {"2:q2b", "2:q2a", "Install Quake 2, then rerun this application!"},
     {},
     {}},
    {"NoToEveryQuake3Folder",
     {"q2a"},
     {"q3a", "q3b"},
     {kYes, kNo, kNo},
     {"2:q2a", "3:q3b", "3:q3a", "Install Quake 3, then rerun this application!"},
     "q2a",
     {}},
    {"Quake3Missing",
     {"q2a"},
     {},
     {},
     {"Quake 3 not found, Install it and try this again!"},
     {},
     {}},
    {"NeitherFound", {}, {}, {}, {"Quake 2 not found, Install it and try this again!"}, {}, {}},
};

class Confirmation : public Search, public ::testing::WithParamInterface<Road> {};

TEST_P(Confirmation, AsksFolderByFolderAndKeepsTheChoiceOrEnds) {
    const Road& road = GetParam();
    for (const QString& folder : road.quake2)
        installQuake2(drive.file(folder));
    for (const QString& folder : road.quake3)
        installQuake3(drive.file(folder));
    search(road.answers);

    std::vector<ShownBox> expected;
    for (const QString& box : road.boxes) {
        if (box.startsWith("2:"))
            expected.push_back(
                {"Is this the right Quake 2 Path to use?\r\n" + drive.file(box.mid(2)) + '/',
                 kYesNo, "Select correct Quake2 Path"});
        else if (box.startsWith("3:"))
            expected.push_back(
                {"Is this the right Quake 3 Path to use?\r\n" + drive.file(box.mid(2)) + '/',
                 kYesNo, "Is this the correct Quake3 Path"});
        else
            expected.push_back({box, kOkOnly, QString()});
    }
    EXPECT_EQ(services->boxes(), expected);
    const bool confirmed = !road.quake3Path.isEmpty();
    EXPECT_EQ(ended, !confirmed);
    EXPECT_EQ(view.nextEnabled, confirmed);
    auto path = [this](const QString& folder) {
        return folder.isEmpty() ? QString() : drive.file(folder) + '/';
    };
    EXPECT_EQ(paths.quake2, path(road.quake2Path));
    EXPECT_EQ(paths.quake3, path(road.quake3Path));
}

INSTANTIATE_TEST_SUITE_P(Search, Confirmation, ::testing::ValuesIn(kRoads),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
