#include "conversion/command_runner.h"
#include "conversion/extractnpak.h"
#include "conversion/manifests.h"
#include "game_fixture.h"
#include "shell/pakinfo.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

namespace {

// Whether a manifest entry lies in one of the folders that go into pak0.pk3.
bool isPacked(int index) {
    const QString& entry = pakinfo::Pak0Manifest[static_cast<size_t>(index)];
    for (const char* top : {"env\\", "models\\", "pics\\", "sound\\", "sprites\\"})
        if (entry.startsWith(QLatin1String(top)))
            return true;
    return false;
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

QStringList folderContents(const QString& folder) {
    return sorted(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

class Conversion : public ::testing::Test {
protected:
    void SetUp() override {
        pakinfo::FillPak0Manifest();
        previousFolder = CurDir();
        setCommandObserver([this](const QString& line) { commands << line; });
    }
    void TearDown() override {
        setCommandObserver({});
        ChDir(previousFolder);
        pakinfo::Quake2Path.clear();
        pakinfo::Quake3Path.clear();
    }

    // Runs "Continue" on a shown conversion screen; true when it ended the program.
    bool pressContinue(const QString& quake2, const QString& quake3) {
        pakinfo::Quake2Path = quake2;
        pakinfo::Quake3Path = quake3;
        screen.show();
        return runsToEnd([this] { screen.OKButton->click(); });
    }

    QString inProgram(const QString& relative) const {
        return games.programFolder + '/' + relative;
    }
    QString target(const QString& name) const { return games.quake3 + "qfbastion/" + name; }

    // The prompts, with the program folder written as <PF> and Quake 3's as <Q3>.
    QStringList promptsShown() const {
        QStringList prompts = platform.prompts();
        for (QString& prompt : prompts)
            prompt.replace(games.quake3, "<Q3>").replace(games.programFolder, "<PF>");
        return prompts;
    }

    GameFolders games;
    FakePlatform platform{games.programFolder};
    Extractnpak screen;
    QStringList commands;
    QString previousFolder;
};

TEST_F(Conversion, ConvertsAndInstallsTheThreeArchives) {
    games.makeQuake2();
    writeFile(inProgram("notes.txt"), "kept");
    ASSERT_TRUE(pressContinue(games.quake2, games.quake3));

    EXPECT_EQ(promptsShown(), (QStringList{
                                  "Error with Path not found: <PF>/models/objects/grenade2\r\n",
                                  "Error with Path not found: <PF>/models/objects\r\n",
                                  "PAK0.PK3 was copied to<Q3>qfbastion/pak0.pk3",
                                  "PAK1.PK3 was copied to<Q3>qfbastion/pak1.pk3",
                                  "PAK2.PK3 was copied to<Q3>qfbastion/pak2.pk3",
                              }));
    EXPECT_EQ(screen.caption(), "Total files: 1128");
    EXPECT_FALSE(screen.OKButton->isEnabled());
    EXPECT_EQ(folderContents(games.programFolder), (QStringList{"minizip", "notes.txt", "pak"}));
    EXPECT_EQ(folderContents(games.quake3 + "qfbastion"),
              (QStringList{"pak0.pk3", "pak1.pk3", "pak2.pk3"}));

    QStringList expected;
    for (int i = 0; i < pakinfo::kPak0ManifestSize; ++i)
        if (isPacked(i))
            expected << entryFile(pakinfo::Pak0Manifest[static_cast<size_t>(i)]);
    ASSERT_EQ(expected.size(), 1124);
    const QStringList members = zipMembers(target("pak0.pk3"));
    EXPECT_EQ(sorted(members), sorted(expected));
    for (const QString& member : {expected.front(), expected[600], expected.back()})
        EXPECT_EQ(zipMember(target("pak0.pk3"), member), contentsOf(member));
    EXPECT_EQ(zipMembers(target("pak1.pk3")), (QStringList{"pics/tag1.pcx", "pics/tag2.pcx"}));
    EXPECT_EQ(zipMember(target("pak1.pk3"), "pics/tag2.pcx"), contentsOf("pics/tag2.pcx"));
    EXPECT_EQ(zipMembers(target("pak2.pk3")),
              (QStringList{"models/weapons/g_blast/base.pcx", "models/weapons/g_flareg/base.pcx"}));
    EXPECT_EQ(commands.size(), 1 + 38 + 2 + 2);
}

TEST_F(Conversion, AnEmptyGamePathStopsBeforeAnyWork) {
    struct Case {
        QString quake2, quake3, game;
    };
    const Case cases[] = {{"", "/q3/", "Quake2"}, {"/q2/", "", "Quake3"}, {"", "", "Quake2"}};
    for (const Case& c : cases) {
        FakePlatform fresh(games.programFolder);
        Extractnpak conversion;
        commands.clear();
        pakinfo::Quake2Path = c.quake2;
        pakinfo::Quake3Path = c.quake3;
        EXPECT_TRUE(runsToEnd([&] { conversion.OKButton->click(); }));
        EXPECT_EQ(fresh.prompts(),
                  (QStringList{"missing important path information, cannot continue!!",
                               "Either you didnt install " + c.game +
                                   ", or you selected no on a valid " + c.game + " path!!"}));
        EXPECT_TRUE(commands.isEmpty());
        EXPECT_TRUE(conversion.OKButton->isEnabled());
        EXPECT_EQ(folderContents(games.programFolder), (QStringList{"minizip", "pak"}));
    }
}

TEST_F(Conversion, MissingQfbastionIsReportedAndTheArchivesStay) {
    games.makeQuake2();
    QDir(games.quake3 + "qfbastion").removeRecursively();
    ASSERT_TRUE(pressContinue(games.quake2, games.quake3));
    const QStringList prompts = promptsShown();
    ASSERT_EQ(prompts.size(), 5);
    for (int k = 0; k < 3; ++k) {
        const QString name = QString("PAK%1.PK3").arg(k);
        EXPECT_TRUE(prompts[2 + k].startsWith(name + " could not be copied to <Q3>qfbastion/pak" +
                                              QString::number(k) + ".pk3\r\nPath not found"))
            << prompts[2 + k].toStdString();
        EXPECT_EQ(platform.boxes()[static_cast<size_t>(2 + k)].title, "File copy error");
        EXPECT_TRUE(exists(inProgram(QString("pak%1.pk3").arg(k))));
    }
}

TEST_F(Conversion, ArchivesThatWereNotProducedAreReportedOneByOne) {
    // No tools at all: nothing is unpacked or zipped, every deletion fails.
    QFile::remove(inProgram("pak"));
    QFile::remove(inProgram("minizip"));
    games.makeQuake2();
    ASSERT_TRUE(pressContinue(games.quake2, games.quake3));
    const QStringList prompts = promptsShown();
    ASSERT_EQ(prompts.size(), 189 + 3 + 8 + 3);
    EXPECT_EQ(prompts[189], "Error with File not found: <PF>/pics/tag1.pcx\r\n");
    EXPECT_EQ(prompts[192], "Error with File not found: <PF>/models/weapons/g_flareg/base.pcx\r\n");
    EXPECT_EQ(prompts.mid(200), (QStringList{
                                    "PAK0.PK3 was not copied for some reason, check<PF>\r\n"
                                    "to see if the file exists",
                                    "PAK1.PK3 was not copied for some reason, check<PF>",
                                    "PAK2.PK3 was not copied for some reason, check<PF>\r\n"
                                    "to see if the file exists",
                                }));
    for (size_t k = 200; k < 203; ++k)
        EXPECT_EQ(platform.boxes()[k].title, "File copy error");
    EXPECT_EQ(screen.caption(), "Total files: 2");
    EXPECT_TRUE(folderContents(games.quake3 + "qfbastion").isEmpty());
}

TEST_F(Conversion, OnlyTheMissingSecondArchiveFails) {
    games.makeQuake2();
    QFile::remove(games.quake2 + "baseq2/pak1.pak");
    ASSERT_TRUE(pressContinue(games.quake2, games.quake3));
    const QStringList prompts = promptsShown();
    EXPECT_EQ(prompts, (QStringList{
                           "Error with File not found: <PF>/pics/tag1.pcx\r\n",
                           "Error with File not found: <PF>/pics/tag2.pcx\r\n",
                           "Error with Path not found: <PF>/pics\r\n",
                           "Error with Path not found: <PF>/models/objects/grenade2\r\n",
                           "Error with Path not found: <PF>/models/objects\r\n",
                           "PAK0.PK3 was copied to<Q3>qfbastion/pak0.pk3",
                           "PAK1.PK3 was not copied for some reason, check<PF>",
                           "PAK2.PK3 was copied to<Q3>qfbastion/pak2.pk3",
                       }));
    EXPECT_EQ(platform.boxes()[6].title, "File copy error");
    EXPECT_EQ(folderContents(games.quake3 + "qfbastion"), (QStringList{"pak0.pk3", "pak2.pk3"}));
}

TEST_F(Conversion, AStaleArchiveFromAnEarlierRunGetsNoDuplicateMembers) {
    games.makeQuake2();
    // An earlier run that stopped part way left pak0.pk3 with one of its members.
    writeFile(games.root.file("stale/env/unit1_rt.pcx"), "old");
    ChDir(games.root.file("stale"));
    RunCommandLine("\"" + inProgram("minizip") + "\" -a \"" + inProgram("pak0.pk3") +
                   "\" env/unit1_rt.pcx");
    ASSERT_TRUE(pressContinue(games.quake2, games.quake3));
    const QStringList members = zipMembers(target("pak0.pk3"));
    EXPECT_EQ(members.size(), 1124);
    EXPECT_EQ(QSet<QString>(members.begin(), members.end()).size(), 1124);
    EXPECT_EQ(zipMember(target("pak0.pk3"), "env/unit1_rt.pcx"), contentsOf("env/unit1_rt.pcx"));
}

TEST_F(Conversion, ExtraMembersOfTheThirdArchiveStayWithTheirFolders) {
    games.makeQuake2({}, {"models/objects/grenade2/extra.md2"});
    ASSERT_TRUE(pressContinue(games.quake2, games.quake3));
    EXPECT_EQ(promptsShown().mid(0, 3),
              (QStringList{
                  "Error with Path/File access error: <PF>/models/objects/grenade2\r\n",
                  "Error with Path/File access error: <PF>/models/objects\r\n",
                  "Error with Path/File access error: <PF>/models\r\n",
              }));
    EXPECT_EQ(platform.prompts().size(), 6u);
    EXPECT_TRUE(exists(inProgram("models/objects/grenade2/extra.md2")));
    EXPECT_FALSE(exists(inProgram("models/weapons")));
}

TEST_F(Conversion, CleanupReportsFoldersThatCannotGo) {
    // A fresh program folder: every folder of the list is missing, one box each, in order.
    screen.Command1_Click();
    QStringList prompts = promptsShown();
    ASSERT_EQ(prompts.size(), pakinfo::kTempFolderCount);
    for (int i = 0; i < pakinfo::kTempFolderCount; ++i)
        EXPECT_EQ(prompts[i], "Error with Path not found: <PF>" +
                                  nativePath(pakinfo::TempFolders()[static_cast<size_t>(i)]) +
                                  "\r\n");

    // A complete extraction with one file the manifest does not name.
    writeManifestTree(games.programFolder, {});
    writeFile(inProgram("models/items/ammo/shells/stray.pcx"));
    FakePlatform fresh(games.programFolder);
    screen.Command1_Click();
    EXPECT_EQ(fresh.prompts(),
              (QStringList{
                  "Error with Path/File access error: " + inProgram("models/items/ammo/shells\r\n"),
                  "Error with Path/File access error: " + inProgram("models/items/ammo\r\n"),
                  "Error with Path/File access error: " + inProgram("models/items\r\n"),
                  "Error with Path/File access error: " + inProgram("models\r\n"),
              }));
    EXPECT_EQ(folderContents(games.programFolder), (QStringList{"minizip", "models", "pak"}));
    EXPECT_EQ(screen.Label1->caption(),
              "Deleting temporary file " + inProgram("models/objects/grenade2/skin.pcx"));
}

TEST_F(Conversion, TheEntryWithLeadingSeparatorsIsFoundAndDeleted) {
    writeManifestTree(games.programFolder, [](int i) { return i == 2320; });
    screen.Command1_Click();
    EXPECT_EQ(screen.Label1->caption(),
              "Deleting temporary file " + games.programFolder + "///sound/boss3/BS3SRCH3.WAV");
    EXPECT_FALSE(exists(inProgram("sound/boss3")));
}

// Batches of the first pass for a given set of unpacked files: sizes of the zip runs.
struct BatchCase {
    const char* name;
    std::function<bool(int index)> keep;
    QList<int> batchSizes;
};

void PrintTo(const BatchCase& c, std::ostream* out) {
    *out << c.name;
}

class Batches : public Conversion, public ::testing::WithParamInterface<BatchCase> {};

TEST_P(Batches, AtMostThirtyFilesARunAndTheLastIndexAlwaysFlushes) {
    games.makeQuake2(GetParam().keep);
    pakinfo::Quake2Path = games.quake2;
    screen.conversion().RepackPak0();

    ASSERT_GE(commands.size(), 1);
    EXPECT_EQ(commands.front(),
              "\"" + games.programFolder + "/pak.exe\" -x \"" + games.quake2 + "baseq2/pak0.pak\"");
    const QString zipPrefix = "\"" + games.programFolder + "/minizip.exe\" -a pak0.pk3";
    QList<int> sizes;
    QStringList handedOver;
    for (const QString& line : commands.mid(1)) {
        ASSERT_TRUE(line.startsWith(zipPrefix)) << line.toStdString();
        QStringList files = line.mid(zipPrefix.size()).split(' ', Qt::SkipEmptyParts);
        sizes << static_cast<int>(files.size());
        handedOver << files;
    }
    EXPECT_EQ(sizes, GetParam().batchSizes);
    int total = 0;
    for (int size : sizes)
        total += size;
    EXPECT_EQ(screen.caption(), "Total files: " + QString::number(total));
    // Files go over in manifest order, each once.
    QStringList inOrder;
    for (int i = 0; i < pakinfo::kPak0ManifestSize; ++i)
        if (isPacked(i) && (!GetParam().keep || GetParam().keep(i)))
            inOrder << pakinfo::Pak0Manifest[static_cast<size_t>(i)];
    EXPECT_EQ(handedOver, inOrder);
}

QList<int> fullRun() {
    QList<int> sizes(37, 30);
    sizes << 14;
    return sizes;
}

// The first n packed entries, optionally with the last manifest entry too.
std::function<bool(int)> firstPacked(int n, bool withLast = false) {
    return [n, withLast](int index) {
        if (withLast && index == pakinfo::kPak0ManifestSize - 1)
            return true;
        int seen = 0;
        for (int i = 0; i <= index; ++i)
            if (isPacked(i))
                ++seen;
        return isPacked(index) && seen <= n && index != pakinfo::kPak0ManifestSize - 1;
    };
}

INSTANTIATE_TEST_SUITE_P(
    FirstPass, Batches,
    ::testing::Values(BatchCase{"Everything", {}, fullRun()},
                      BatchCase{"Nothing", [](int) { return false; }, {0}},
                      BatchCase{"Thirty", firstPacked(30), {30, 0}},
                      BatchCase{"ThirtyOne", firstPacked(31), {30, 1}},
                      BatchCase{"ThirtiethAtTheLastIndex", firstPacked(29, true), {30}},
                      BatchCase{"TexturesOnly", [](int i) { return !isPacked(i); }, {0}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

TEST_F(Conversion, AProgramFolderThatCannotBeWrittenIsToldBeforeAnyWork) {
    games.makeQuake2();
    ImmutableFolder locked(games.programFolder);
    if (!locked.active())
        GTEST_SKIP() << "chattr +i is not available here";
    EXPECT_TRUE(pressContinue(games.quake2, games.quake3));
    ASSERT_EQ(platform.boxes().size(), 1u);
    EXPECT_EQ(platform.boxes()[0].title, "Program folder not writable");
    EXPECT_TRUE(platform.boxes()[0].prompt.startsWith(
        "Corvane cannot write to its program folder " + games.programFolder + "\r\n"));
    EXPECT_TRUE(commands.isEmpty());
    EXPECT_TRUE(screen.OKButton->isEnabled());
}

} // namespace

namespace {

TEST_F(Conversion, TheWindowCannotBeClosedWhileTheConversionRuns) {
    screen.show();
    screen.setScreenEnabled(false); // as the conversion does while its passes run
    EXPECT_FALSE(runsToEnd([this] { screen.close(); }));
    EXPECT_TRUE(screen.isVisible());
    screen.setScreenEnabled(true);
    EXPECT_TRUE(runsToEnd([this] { screen.close(); }));
}

} // namespace
