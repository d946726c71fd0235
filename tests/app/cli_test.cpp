// The command line, run as a child process without any display: convert with its summary and
// exit statuses, find on generated layouts, and a run killed at any moment followed by a clean
// one.

#include "platform/files.h"
#include "support/games.h"
#include "support/support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

namespace {

// No display of any kind: the command line must not need one.
const QStringList kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

Finished corvane(const Games& games, const QStringList& arguments) {
    // Started in its program folder, which is where the packs are unpacked too.
    return run(games.programFolder + "/corvane", arguments, games.programFolder, kNoDisplay);
}

// `bytes` for printf's %b: any byte can be passed on a command line that way.
QString forPrintf(const QByteArray& bytes) {
    QString text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += c == '\\'                     ? QString("\\\\")
                : byte >= 0x80 || byte < 0x20 ? QString("\\0%1").arg(byte, 3, 8, QChar('0'))
                                              : QString(QChar(c));
    }
    return text;
}

struct ConvertCase {
    const char* name;
    std::function<QStringList(Games&)> arguments; // after "convert", once the games are made
    int exitCode;
    const char* said; // the start of a line on standard error; none when it goes to a pipe
};

class Convert : public ::testing::TestWithParam<ConvertCase> {};

// Each row runs through the shell, whose printf gives the arguments as bytes; standard error
// goes to a pipe that is closed after its first byte when the row says nothing.
TEST_P(Convert, ExitsWithItsStatusSaysWhyAndLeavesTheProgramFolderAsItWas) {
    Games games(true);
    const QStringList arguments = GetParam().arguments(games);
    const auto before = snapshot(games.programFolder);
    QStringList words;
    for (const QString& argument : arguments)
        words << "\"$(printf %b '" + forPrintf(QByteArray::fromStdString(encodePath(argument))) +
                     "')\"";
    const QString line = "set -o pipefail; exec 3>&1; \"$0\" convert " + words.join(' ') +
                         (GetParam().said ? "" : " 2>&1 >&3 | head -c 1 >/dev/null");
    const Finished run = corvane::test::run("bash", {"-c", line, games.programFolder + "/corvane"},
                                            games.programFolder, kNoDisplay);
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << run.err;
    const QList<QByteArray> lines = run.err.split('\n');
    if (GetParam().said) {
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(),
                          [](const QByteArray& line) { return line.startsWith(GetParam().said); }),
            1)
            << run.err;
    }
    const int code = GetParam().exitCode;
    const QStringList installed = QDir(games.quake3 + "qfbastion").entryList(QDir::Files);
    EXPECT_EQ(installed.size(), code == 0 || code == 7 ? 3 : code == 5 ? 2 : 0);
    EXPECT_EQ(snapshot(games.programFolder), before);
}

// Stops corvane on the third run of the zip tool, while it packs.
QStringList stopWhilePacking(Games& g, const char* signal) {
    g.logZipRuns(QByteArray("[ $(wc -l <\"$log\") -eq 3 ] && kill -") + signal + " $PPID");
    return {g.quake2, g.quake3};
}

const ConvertCase kConvertCases[] = {
    {"AllThreeInstalled",
     [](Games& g) {
         // A library planted in the program folder is never loaded.
         for (const char* library : {"libQt6Core.so.6", "libc.so.6", "libzip.so.4"})
             writeFile(g.programFolder + '/' + library, "not a library");
         return QStringList{g.quake2, g.quake3};
     },
     0, "corvane: pak0.pk3 ("},
    {"FolderNamesAreBytes",
     [](Games& g) {
         const QString renamed = g.root.file("Quake \"2\" ") + decodePath("\xff\xfe");
         ::rename(QFile::encodeName(g.quake2).constData(), encodePath(renamed).c_str());
         return QStringList{renamed, g.quake3};
     },
     0, "corvane: pak0.pk3 ("},
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
         writeFile(g.programFolder + "/pak", "#!/bin/sh\nexit 2\n");
         return QStringList{g.quake2, g.quake3};
     },
     4, "corvane: pak0.pak could not be unpacked:"},
    {"NotAllInstalled",
     [](Games& g) {
         g.writePak("pak1.pak", {{"pics/other.pcx", "other"}});
         return QStringList{g.quake2, g.quake3};
     },
     5, "corvane: File copy error: PAK1.PK3 was not copied for some reason"},
    {"AnotherConversionRunning",
     [](Games& g) {
         g.lockAsAnotherRun(g.programFolder);
         return QStringList{g.quake2, g.quake3};
     },
     6, "corvane: Another conversion is running in "},
    {"AnotherGamesPak0",
     [](Games& g) {
         Members members = classicPak(0);
         members.resize(40);
         g.writePak("pak0.pak", members);
         return QStringList{g.quake2, g.quake3};
     },
     7, "corvane: pak0.pak holds "},
    {"CtrlCWhilePacking", [](Games& g) { return stopWhilePacking(g, "INT"); }, 130,
     "corvane: stopped by SIGINT"},
    {"TerminalClosedWhilePacking", [](Games& g) { return stopWhilePacking(g, "HUP"); }, 129,
     "corvane: stopped by SIGHUP"},
    {"OutputToAPipeClosedEarly",
     [](Games& g) {
         return QStringList{g.quake2, g.quake3};
     },
     0, nullptr},
};

INSTANTIATE_TEST_SUITE_P(CommandLine, Convert, ::testing::ValuesIn(kConvertCases), kRowName);

// Two conversions at once: one works, the other says so and touches nothing, or they follow
// each other; either way the archives installed are whole.
TEST(CommandLine, TwoConversionsAtOnceNeverSpoilEachOther) {
    Games games(true);
    QProcess first, second;
    for (QProcess* process : {&first, &second})
        process->start(games.programFolder + "/corvane", {"convert", games.quake2, games.quake3});
    for (QProcess* process : {&first, &second})
        ASSERT_TRUE(process->waitForFinished(300000));
    const QList<int> codes = {first.exitCode(), second.exitCode()};
    EXPECT_TRUE(codes.contains(0) && (codes.count(0) == 2 || codes.contains(6)))
        << first.readAllStandardError() << second.readAllStandardError();
    EXPECT_EQ(run("unzip", {"-Z1", games.quake3 + "qfbastion/pak0.pk3"}).out.count('\n'),
              classicFileCount(0));
}

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
    EXPECT_EQ(snapshot(games.programFolder), before);
}

// Every layout of either game, and folder names that hold a line break or a tab: escaped in
// lines, as they are with --null.
TEST(CommandLine, FindListsEveryLayoutOneALineAndPassesOverUnreadableFolders) {
    if (rerunUnprivileged())
        return;
    Games games(true);
    TempDir tree("corvane-find");
    makeTree(tree.path(),
             {"win/Quake2=q2", "shop/Quake2.exe", "shop/baseq2/PAK0.PAK",
              "home/.yq2/baseq2/pak0.pak", "home/.q3a/baseq3/pak0.pk3", "odd\nname\t=q2",
              "m_locked/q2/baseq2/pak0.pak", "nopak/baseq2/readme.txt"});
    setMode(tree.file("m_locked"), 0);
    const Finished find = corvane(games, {"find", tree.path()});
    EXPECT_EQ(find.exitCode, 0) << find.err;
    EXPECT_EQ(find.err, "");
    const QList<QStringList> found = {{"quake2", tree.file("win/Quake2/"), "quake2.exe"},
                                      {"quake2", tree.file("shop/"), "Quake2.exe"},
                                      {"quake2", tree.file("odd\nname\t/"), "quake2.exe"},
                                      {"quake2", tree.file("home/.yq2/"), "data"},
                                      {"quake3", tree.file("home/.q3a/"), "data"}};
    QByteArray lines, nulSeparated;
    for (const QStringList& fields : found) {
        QStringList shown = fields;
        shown[1].replace('\n', "\\n").replace('\t', "\\t");
        lines += shown.join('\t').toUtf8() + '\n';
        nulSeparated += fields.join(QChar(0)).toUtf8() + '\0';
    }
    EXPECT_EQ(find.out, lines);
    EXPECT_EQ(corvane(games, {"find", "--null", tree.path()}).out, nulSeparated);
}

} // namespace
