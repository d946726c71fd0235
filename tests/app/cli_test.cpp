// The command line, run as a child process without any display: convert with its summary and
// exit statuses, find on generated layouts, and a run killed at any moment followed by a clean
// one.

#include "support/games.h"
#include "support/support.h"

#include <QDir>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace corvane::test;

namespace {

// No display of any kind: the command line must not need one.
const QStringList kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

Finished corvane(const Games& games, const QStringList& arguments) {
    // Started in its program folder, which is where the packs are unpacked too.
    return run(games.programFolder + "/corvane", arguments, games.programFolder, kNoDisplay);
}

struct ConvertCase {
    const char* name;
    std::function<QStringList(Games&)> arguments; // after "convert", once the games are made
    int exitCode;
    const char* said; // the start of a line on standard error
};

class Convert : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(Convert, ExitsWithItsStatusAndSaysWhy) {
    Games games(true);
    const QStringList arguments = GetParam().arguments(games);
    const Finished run = corvane(games, QStringList{"convert"} + arguments);
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << run.err;
    const QList<QByteArray> lines = run.err.split('\n');
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const QByteArray& line) { return line.startsWith(GetParam().said); }),
        1)
        << run.err;
    const QStringList installed = QDir(games.quake3 + "qfbastion").entryList(QDir::Files);
    EXPECT_EQ(installed.size(), GetParam().exitCode == 0 ? 3 : GetParam().exitCode == 5 ? 2 : 0);
}

const ConvertCase kConvertCases[] = {
    {"AllThreeInstalled",
     [](Games& g) {
         // A library planted in the program folder, where packs are unpacked, is never loaded.
         for (const char* library : {"libQt6Core.so.6", "libc.so.6", "libzip.so.4"})
             writeFile(g.programFolder + '/' + library, "not a library");
         return QStringList{g.quake2, g.quake3};
     },
     0, "corvane: pak0.pk3 (1124 files), pak1.pk3 (2 files), pak2.pk3 (2 files); installed in "},
    {"OneFolder", [](Games& g) { return QStringList{g.quake2}; }, 2,
     "corvane: convert takes two folders"},
    {"NoQuake2Folder",
     [](Games& g) {
         return QStringList{g.quake3, g.quake3};
     },
     3, "corvane: "},
    {"FailedCheck",
     [](Games& g) {
         QDir(g.quake3 + "qfbastion").removeRecursively();
         return QStringList{g.quake2, g.quake3};
     },
     3, "corvane: The folder qfbastion is missing in "},
    {"FailedTool",
     [](Games& g) {
         writeFile(g.quake2 + "baseq2/pak0.pak", "PACK\xff\xff\xff\x7f\x40");
         return QStringList{g.quake2, g.quake3};
     },
     4, "corvane: pak0.pak could not be unpacked:"},
    {"NotAllInstalled",
     [](Games& g) {
         g.writePak("pak1.pak", {{"pics/other.pcx", "other"}});
         return QStringList{g.quake2, g.quake3};
     },
     5, "corvane: File copy error: PAK1.PK3 was not copied for some reason"},
};

INSTANTIATE_TEST_SUITE_P(CommandLine, Convert, ::testing::ValuesIn(kConvertCases), kRowName);

TEST(CommandLine, ARunKilledAtAnyMomentLeavesNothingThatSpoilsTheNext) {
    Games games(true);
    const auto before = snapshot(games.programFolder);
    QRandomGenerator random(11);
    for (int trial = 0; trial < 3; ++trial)
        killAfter(games.programFolder + "/corvane", {"convert", games.quake2, games.quake3},
                  games.programFolder, random.bounded(50000, 1500000));
    const Finished clean = corvane(games, {"convert", games.quake2, games.quake3});
    EXPECT_EQ(clean.exitCode, 0) << clean.err;
    EXPECT_FALSE(clean.err.contains("Error with")) << clean.err;
    EXPECT_EQ(snapshot(games.programFolder).keys(), before.keys());
}

TEST(CommandLine, FindListsEveryLayoutAndPassesOverUnreadableFolders) {
    if (rerunUnprivileged())
        return;
    Games games(true);
    TempDir tree("corvane-find");
    makeTree(tree.path(), {"win/Quake2=q2", "shop/Quake2.exe", "shop/baseq2/PAK0.PAK",
                           "home/.yq2/baseq2/pak0.pak", "home/.q3a/baseq3/pak0.pk3",
                           "m_locked/q2/baseq2/pak0.pak", "nopak/baseq2/readme.txt"});
    setMode(tree.file("m_locked"), 0);
    const Finished find = corvane(games, {"find", tree.path()});
    EXPECT_EQ(find.exitCode, 0) << find.err;
    EXPECT_EQ(find.err, "");
    EXPECT_EQ(QString::fromUtf8(find.out).split('\n', Qt::SkipEmptyParts),
              (QStringList{"quake2\t" + tree.file("win/Quake2/") + "\tquake2.exe",
                           "quake2\t" + tree.file("shop/") + "\tQuake2.exe",
                           "quake2\t" + tree.file("home/.yq2/") + "\tdata",
                           "quake3\t" + tree.file("home/.q3a/") + "\tdata"}));
}

} // namespace
