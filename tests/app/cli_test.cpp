// The command line, run as a child process without any display: convert with its summary and
// exit statuses, find on generated layouts, and a run killed at any moment followed by a clean
// one.

#include "cli/terminal.h"
#include "platform/files.h"
#include "support/games.h"
#include "support/support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdio>

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

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

struct Road {
    const char* name;
    // <Q2>, <Q3> and <ROOT> stand for the folders, here as in what is said.
    QStringList arguments;
    int exitCode;
    // The start of a line on standard error or output; none when they go to a pipe that is
    // closed early.
    const char* said;
    int installed = 0;                        // archives in qfbastion afterwards
    std::function<void(Games&)> prepare = {}; // once the games are made
    QStringList environment = {};             // besides no display
    void (*inChild)() = nullptr;              // in the shell, before it starts corvane
};

class CommandLine : public ::testing::TestWithParam<Road> {
protected:
    void TearDown() override { qunsetenv("XDG_CACHE_HOME"); }
};

// Each row runs through the shell, whose printf gives the arguments as bytes. Nothing outside
// the archives installed changes.
TEST_P(CommandLine, ExitsWithItsStatusSaysWhyAndTouchesNothingElse) {
    const ScopedEnvironment dataDirs("XDG_DATA_DIRS", "/nonexistent");
    Games games(true);
    if (GetParam().prepare)
        GetParam().prepare(games);
    const auto before = outsideTheRun(snapshot(games.root.path()));
    QStringList words;
    for (QString argument : GetParam().arguments) {
        argument.replace("<Q2>", games.quake2.chopped(1))
            .replace("<Q3>", games.quake3.chopped(1))
            .replace("<ROOT>", games.root.path());
        words << "\"$(printf %b '" + forPrintf(QByteArray::fromStdString(encodePath(argument))) +
                     "')\"";
    }
    const QString line = "set -o pipefail; exec 3>&1; \"$0\" " + words.join(' ') +
                         (GetParam().said ? " 2>&1" : " 2>&1 >&3 | head -c 1 >/dev/null");
    const Finished run = corvane::test::run(
        "bash", {"-c", line, games.programFolder + "/corvane"}, games.programFolder,
        kNoDisplay + GetParam().environment,
        GetParam().inChild ? std::function<void()>(GetParam().inChild) : std::function<void()>());
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << run.out;
    const QList<QByteArray> lines = QString::fromUtf8(run.out)
                                        .replace(games.quake2.chopped(1), "<Q2>")
                                        .replace(games.quake3.chopped(1), "<Q3>")
                                        .replace(games.root.path(), "<ROOT>")
                                        .toUtf8()
                                        .split('\n');
    if (GetParam().said) {
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(),
                          [](const QByteArray& said) { return said.startsWith(GetParam().said); }),
            1)
            << run.out;
    }
    // What the cleanup leaves in the run's folder goes with it, on every road without a word.
    EXPECT_FALSE(run.out.contains("could not remove")) << run.out;
    EXPECT_EQ(QDir(games.quake3 + "qfbastion").entryList(QDir::Files).size(), GetParam().installed);
    EXPECT_EQ(outsideTheRun(snapshot(games.root.path())), before);
}

// No /proc for the child, where this process may hide it (root): an empty file system over it,
// in a mount namespace of the child's own.
void withoutProc() {
#ifdef __SANITIZE_ADDRESS__
    return; // a sanitized program reads its options and checks for leaks through /proc
#endif
    if (::unshare(CLONE_NEWNS) == 0 &&
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0)
        ::mount("none", "/proc", "tmpfs", 0, nullptr);
}

// 22 folders of 200 bytes down: paths longer than the system takes at once.
const QString kDeep = QString('/' + QString(200, 'd')).repeated(22);

// Moves the two game folders to "q2" and "q3" below <ROOT> + kDeep.
void moveDeep(Games& g) {
    io::Fd at(::open(QFile::encodeName(g.root.path()).constData(), O_PATH | O_DIRECTORY));
    const QByteArray part(200, 'd');
    for (int i = 0; i < 22; ++i) {
        ::mkdirat(at.get(), part.constData(), 0755);
        at.reset(::openat(at.get(), part.constData(), O_PATH | O_DIRECTORY));
    }
    for (const char* game : {"q2", "q3"})
        ::renameat(AT_FDCWD, QFile::encodeName(game[1] == '2' ? g.quake2 : g.quake3).constData(),
                   at.get(), game);
}

// Renames a game folder to <ROOT>/`name`.
void moveTo(const QString& folder, const Games& g, const QString& name) {
    EXPECT_EQ(
        ::rename(QFile::encodeName(folder).constData(), encodePath(g.root.file(name)).c_str()), 0);
}

// Stops corvane on the third run of the zip tool, while it packs.
std::function<void(Games&)> stopWhilePacking(const char* signal) {
    return [signal](Games& g) {
        g.logZipRuns(QByteArray("[ $(wc -l <\"$log\") -eq 3 ] && kill -") + signal + " $PPID");
    };
}

// Makes the Quake 3 folder an engine's home path: its data moves to `dataFolder`, below which
// the system places are when `systemPlaces`.
void splitQuake3(Games& g, const QString& dataFolder, bool systemPlaces) {
    makeDirs(dataFolder);
    ASSERT_TRUE(QDir().rename(g.quake3 + "baseq3", dataFolder + "/baseq3"));
    writeFile(g.quake3 + "baseq3/q3config.cfg", "the player's own settings");
    // The child inherits it; each row sets it again.
    qputenv("XDG_DATA_DIRS",
            QFile::encodeName(systemPlaces ? g.root.file("usr/share") : g.root.file("none")));
}

// The words of `line`, split at each blank.
QStringList words(const QString& line) {
    return line.split(' ');
}

const QStringList kConvert = {"convert", "<Q2>", "<Q3>"};
const QStringList kDryRun = {"convert", "--dry-run", "<Q2>", "<Q3>"};

const Road kRoads[] = {
    {"AllThreeInstalled", kConvert, 0, "  pak0.pk3  ", 3,
     [](Games& g) {
         // A library planted in the program folder is never loaded.
         for (const char* library : {"libQt6Core.so.6", "libc.so.6", "libzip.so.4"})
             writeFile(g.programFolder + '/' + library, "not a library");
     }},
    {"FolderNamesAreBytes",
     {"convert", "<ROOT>/Quake \"2\" " + decodePath("\xff\xfe"), "<Q3>"},
     0,
     "  pak2.pk3  ",
     3,
     [](Games& g) { moveTo(g.quake2, g, "Quake \"2\" " + decodePath("\xff\xfe")); }},
    {"DryRunChecksAndChangesNothing", kDryRun, 0,
     "corvane: dry run: every check passed and nothing was changed."},
    // The dry run says why the run could not start, with the run's status.
    {"DryRunOfAConversionThatCannotStart", words("convert <Q2> --dry-run <Q3>"), 6,
     "corvane: Another conversion is running in ", 0,
     [](Games& g) { g.lockAsAnotherRun(g.programFolder); }},
    // The dry run refuses what the run would refuse, in the same words, and makes no folder.
    {"DryRunRefusesAnArchiveTheRunCouldNotReplace", kDryRun, 3,
     "corvane: <Q3>/qfbastion/pak2.pk3 is read-only.", 1,
     [](Games& g) {
         writeFile(g.quake3 + "qfbastion/pak2.pk3", "the user's own");
         setMode(g.quake3 + "qfbastion/pak2.pk3", 0444);
     }},
    {"DryRunMakesNoFolderInTheCache", kDryRun, 0,
     "It would unpack, into a folder of its own in <ROOT>/xdg/corvane/work:", 0,
     [](Games& g) {
         setMode(g.programFolder, 0777); // others may change it: no work folder
         qputenv("XDG_CACHE_HOME", QFile::encodeName(g.root.file("xdg")));
     }},
    // A lock call that fails is said, and is no other conversion.
    {"ALockThatCannotBeTaken", kConvert, 3, "corvane: cannot lock ", 0, nullptr, QStringList(),
     [] { failSystemCall(__NR_fcntl, 1, F_OFD_SETLK, ENOLCK); }},
    {"AFileSystemThatCannotExchangeNames", kConvert, 0, "  pak2.pk3  ", 3,
     [](Games& g) {
         for (const char* archive : {"pak0.pk3", "pak1.pk3", "pak2.pk3"})
             writeFile(g.quake3 + "qfbastion/" + archive, "an older one");
     },
     QStringList(), [] { failSystemCall(__NR_renameat2, 4, RENAME_EXCHANGE, EINVAL); }},
    // Names are names: a backslash is part of one, ".." goes up from where a link leads, and
    // nothing in a name can steer the terminal.
    {"ABackslashIsPartOfAName", words("convert <ROOT>/q2\\x <Q3>"), 0, "  pak2.pk3  ", 3,
     [](Games& g) {
         moveTo(g.quake2, g, "q2\\x");
         makeTree(g.root.path(), {"q2/x/baseq2/pak0.pak"});
     }},
    {"DotDotAfterALinkIsTheKernels", words("convert <ROOT>/link/.. <Q3>"), 0, "  pak2.pk3  ", 3,
     [](Games& g) { makeTree(g.root.path(), {"link -> " + g.quake2 + "baseq2"}); }},
    {"AnEmptyName", {"convert", "", "<Q3>"}, 2, "corvane: a folder name cannot be empty"},
    {"ControlCharactersAreShownEscaped",
     words("convert <Q2> <ROOT>/q3\x1b]0;title\a" + decodePath("\xff")), 3,
     "corvane: <ROOT>/q3\\x1b]0;title\\x07\\xff holds no folder qfbastion", 0,
     [](Games& g) {
         QDir(g.quake3 + "qfbastion").removeRecursively();
         moveTo(g.quake3, g, "q3\x1b]0;title\a" + decodePath("\xff"));
     }},
    {"NoProc", kConvert, 0, "  pak2.pk3  ", 3, {}, {}, withoutProc},
    {"PathsLongerThanTheSystemTakesAtOnce",
     words("convert <ROOT>" + kDeep + "/q2 <ROOT>" + kDeep + "/q3"), 0, "  pak2.pk3  ", 0,
     moveDeep},
    {"Help", words("--help"), 0, "Usage: corvane [--demo]"},
    {"DemoTakesNothingElse", words("--demo --help"), 2, "corvane: --demo takes no other argument"},
    // The wizard with no display, or with one that does not answer, locally or over the
    // network: a clear message, no abort of the toolkit.
    {"NoDisplay", {}, 1, "corvane: no display found"},
    {"NoXServer", {}, 1, "corvane: no display found", 0, {}, {"DISPLAY=:97"}},
    {"NoXServerOverTheNetwork", QStringList(), 1, "corvane: no display found", 0, nullptr,
     words("DISPLAY=localhost:97.0")},
    {"NoPlatformPlugin", QStringList(), 1,
     "corvane: Qt has no platform plugin \"nowhere\" (QT_QPA_PLATFORM=nowhere): unset", 0, nullptr,
     words("QT_QPA_PLATFORM=nowhere")},
    {"NoWaylandServer", {}, 1, "corvane: no display found", 0, {}, {"WAYLAND_DISPLAY=nowhere-97"}},
    // A socket name longer than a socket address holds is no server, not a longer copy.
    {"NoWaylandServerOfALongName",
     {},
     1,
     "corvane: no display found",
     0,
     {},
     {"WAYLAND_DISPLAY=/tmp/" + QString(200, 'w')}},
    {"ConvertHelp", words("convert -h"), 0, "Usage: corvane convert [--dry-run]"},
    {"FindHelp", words("find --help"), 0, "Usage: corvane find [--null]"},
    {"Version", words("--version"), 0, "corvane 1."},
    {"FindNothing", words("find <ROOT>/outside"), 1, "corvane: no Quake 2 or Quake 3 folder found"},
    {"UnknownOption", words("find --json <Q2>"), 2, "corvane: unknown option --json"},
    {"UnknownCommand", words("--bogus"), 2, "corvane: unknown option --bogus"},
    {"OneFolder", words("convert <Q2>"), 2, "corvane: convert takes two folders"},
    {"NoSuchFolder", words("convert <ROOT>/none <Q3>"), 3, "corvane: <ROOT>/none: no such folder"},
    {"FoldersSwapped", words("convert <Q3> <Q2>"), 3, "corvane: the two folders look swapped: "},
    {"Baseq2ForItsGame", words("convert <Q2>/baseq2 <Q3>"), 3,
     "corvane: <Q2>/baseq2 is the game's baseq2 folder; give the Quake 2 folder that holds it, "
     "<Q2>"},
    {"NoQuake2Folder", words("convert <Q3> <Q3>"), 3,
     "corvane: <Q3> is no Quake 2 folder: it holds no baseq2/pak0.pak"},
    {"HomePathWithTheDataInASystemPlace", kConvert, 0,
     "  Quake 3's data: <ROOT>/usr/share/games/quake3/baseq3, for the home path <Q3>", 3,
     [](Games& g) { splitQuake3(g, g.root.file("usr/share/games/quake3"), true); }},
    {"HomePathWithTheDataGiven",
     {"convert", "--dry-run", "--quake3-data", "<ROOT>/q3 data", "<Q2>", "<Q3>"},
     0,
     "Quake 3's data: <ROOT>/q3 data/baseq3, for the home path <Q3>",
     0,
     [](Games& g) { splitQuake3(g, g.root.file("q3 data"), false); }},
    {"HomePathWithoutQuake3DataAnywhere", kConvert, 3,
     "corvane: <Q3> holds qfbastion but no Quake 3 data: ", 0,
     [](Games& g) { splitQuake3(g, g.root.file("elsewhere"), false); }},
    {"DataGivenThatIsNone", words("convert --quake3-data=<Q2> <Q2> <Q3>"), 3,
     "corvane: <Q2> holds no baseq3/pak0.pk3: it is no Quake 3 data folder"},
    // Each outcome of the conversion has its status; the words are the conversion's own.
    {"APakOfAKnownReleasesSizeWithOtherBytes", kConvert, 7,
     "corvane: pak2.pak has the size of Quake 2's point-release patch but other contents", 3,
     [](Games& g) { g.padPak("pak2.pak", 45055); }},
    // The command line's own words for a pak0.pak with fewer files than the classic game's.
    {"AnotherGamesPak0", kConvert, 7, "corvane: pak0.pak holds ", 3,
     [](Games& g) {
         Members members = classicPak(0);
         members.resize(40);
         g.writePak("pak0.pak", members);
     }},
    {"FailedTool", kConvert, 4, "corvane: pak0.pak could not be unpacked:", 0,
     [](Games& g) { writeFile(g.programFolder + "/pak", "#!/bin/sh\nexit 2\n"); }},
    {"NotAllInstalled", kConvert, 5, "  pak1.pk3  not made", 0,
     [](Games& g) {
         g.writePak("pak1.pak", {{"pics/other.pcx", "other"}});
     }},
    {"CtrlCWhilePacking", kConvert, 130, "corvane: stopped by SIGINT", 0, stopWhilePacking("INT")},
    {"TerminalClosedWhilePacking", kConvert, 129, "corvane: stopped by SIGHUP", 0,
     stopWhilePacking("HUP")},
    {"OutputToAPipeClosedEarly", kConvert, 0, nullptr, 3},
};

INSTANTIATE_TEST_SUITE_P(Arguments, CommandLine, ::testing::ValuesIn(kRoads), kRowName);

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

// Killed at random moments, then between two renames of the installation: the clean run after
// puts back what was swapped, removes what was left, and installs all three.
TEST(CommandLine, ARunKilledAtAnyMomentLeavesNothingThatSpoilsTheNext) {
    Games games(true);
    writeFile(games.quake3 + "qfbastion/pak0.pk3", "an older pak0.pk3");
    const auto before = snapshot(games.programFolder);
    QRandomGenerator random(11);
    for (int trial = 0; trial < 3; ++trial)
        killAfter(games.programFolder + "/corvane", {"convert", games.quake2, games.quake3},
                  games.programFolder, random.bounded(50000, 1500000));
    // pak0.pk3 is exchanged with the old one; pak1.pk3, new, is renamed to its name: killed.
    run(games.programFolder + "/corvane", {"convert", games.quake2, games.quake3},
        games.programFolder, {}, [] { failSystemCall(__NR_renameat2, 4, RENAME_NOREPLACE, 0); });
    // Its journal and three archives under its names: two new, and the old pak0.pk3.
    EXPECT_EQ(QDir(games.quake3 + "qfbastion")
                  .entryList({".corvane-install-*"}, QDir::Files | QDir::Hidden)
                  .size(),
              4);
    EXPECT_NE(readFile(games.quake3 + "qfbastion/pak0.pk3"), "an older pak0.pk3");
    const Finished clean = corvane(games, {"convert", games.quake2, games.quake3});
    EXPECT_EQ(clean.exitCode, 0) << clean.err;
    EXPECT_FALSE(clean.err.contains("Error with")) << clean.err;
    EXPECT_EQ(snapshot(games.programFolder), before);
    EXPECT_EQ(QDir(games.quake3 + "qfbastion").entryList(QDir::Files | QDir::Hidden),
              (QStringList{"pak0.pk3", "pak1.pk3", "pak2.pk3"}));
    EXPECT_EQ(run("unzip", {"-Z1", games.quake3 + "qfbastion/pak0.pk3"}).out.count('\n'),
              classicFileCount(0));
}

// The engine reads what was installed into a home path: ioquake3's server, its base path on
// Quake 3's data and its home path on the player's, finds the three archives in the mod folder.
TEST(CommandLine, TheEngineLoadsTheArchivesInstalledIntoItsHomePath) {
    const QString engine = "/usr/lib/ioquake3/ioq3ded";
    if (!QFileInfo(engine).isExecutable())
        GTEST_SKIP() << "ioquake3's server is not installed (scripts/install-deps.sh installs it)";
    const ScopedEnvironment dataDirs("XDG_DATA_DIRS", "/nonexistent");
    Games games(true);
    const QString data = games.root.file("usr/share/games/quake3");
    splitQuake3(games, data, true);
    writeFile(data + "/baseq3/pak0.pk3", QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
    const Finished conversion = corvane(games, {"convert", games.quake2, games.quake3});
    ASSERT_EQ(conversion.exitCode, 0) << conversion.err;
    const Finished loaded =
        run(engine,
            {"+set", "dedicated", "1", "+set", "com_standalone", "1", "+set", "fs_basepath", data,
             "+set", "fs_homepath", games.quake3.chopped(1), "+set", "fs_game", "qfbastion",
             "+path", "+quit"},
            games.root.path(), kNoDisplay);
    for (int pak = 0; pak < 3; ++pak)
        EXPECT_TRUE((loaded.out + loaded.err)
                        .contains(QFile::encodeName(QString("%1qfbastion/pak%2.pk3 (%3 files)")
                                                        .arg(games.quake3)
                                                        .arg(pak)
                                                        .arg(classicFileCount(pak)))))
            << (loaded.out + loaded.err).toStdString();
}

// Every layout of either game, and folder names that hold a line break or a tab: escaped in
// lines, as they are with --null. Folders that cannot be read, and names that are not UTF-8,
// are passed over without a word.
TEST(CommandLine, FindListsEveryLayoutOneALineAndPassesOverUnreadableFolders) {
    if (rerunUnprivileged())
        return;
    Games games(true);
    TempDir tree("corvane-find");
    makeTree(tree.path(),
             {"win/Quake2=q2", "shop/Quake2.exe", "shop/baseq2/PAK0.PAK",
              "home/.yq2/baseq2/pak0.pak", "home/.q3a/baseq3/pak0.pk3", "odd\nname\t=q2",
              "m_locked/q2/baseq2/pak0.pak", "nopak/baseq2/readme.txt", "z/n=q3", "b_=q2",
              "sys/games/quake3/baseq3/pak0.pk3", "home2/.q3a/qfbastion/", "home3/.q3a/baseq3/"});
    setMode(tree.file("m_locked"), 0);
    setMode(tree.file("z/n"), 0311); // may be entered, not read
    // A name that is not UTF-8 could be neither shown nor opened again: it is passed over.
    const QByteArray game = QFile::encodeName(tree.file("b_"));
    ASSERT_EQ(::rename(game.constData(), (game + "\xff\xfe").constData()), 0);
    const ScopedEnvironment dataDirs("XDG_DATA_DIRS", tree.file("sys"));
    const Finished find = corvane(games, {"find", tree.path()});
    EXPECT_EQ(find.exitCode, 0) << find.err;
    EXPECT_EQ(find.err, "");
    // A generated pak is no known release; a Quake 3 folder has no field of releases.
    const QString q2 = "pak0.pak: no known release; pak1.pak: missing; pak2.pak: missing";
    const QList<QStringList> found = {
        {"quake2", tree.file("win/Quake2/"), "quake2.exe", q2},
        {"quake3", tree.file("sys/games/quake3/"), "data", "-"},
        {"quake2", tree.file("shop/"), "Quake2.exe", q2},
        {"quake2", tree.file("odd\nname\t/"), "quake2.exe", q2},
        {"quake3", tree.file("home2/.q3a/"), "home", "data in " + tree.file("sys/games/quake3/")},
        {"quake2", tree.file("home/.yq2/"), "data", q2},
        {"quake3", tree.file("home/.q3a/"), "data", "-"}};
    QByteArray lines, nulSeparated;
    for (const QStringList& fields : found) {
        QStringList shown = fields;
        shown[1].replace('\n', "\\n").replace('\t', "\\t");
        lines += shown.join('\t').toUtf8() + '\n';
        nulSeparated += fields.join(QChar(0)).toUtf8() + '\0';
    }
    EXPECT_EQ(find.out, lines);
    EXPECT_EQ(corvane(games, {"find", "--null", tree.path()}).out, nulSeparated);
    // The list is the command's result: a disk too full for it fails the command, and says so.
    const Finished full = run(
        "bash",
        {"-c", "exec \"$0\" find \"$1\" >/dev/full", games.programFolder + "/corvane", tree.path()},
        games.programFolder, kNoDisplay);
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_TRUE(full.err.contains("corvane: cannot write the list: No space left on device"))
        << full.err;
}

// An X server that refuses this user (no cookie for it: started from another user's session)
// gives the program's own line and status 1, not the toolkit's abort; over the network as on
// the local socket.
class RefusingXServer : public testing::TestWithParam<bool> {};

TEST_P(RefusingXServer, SaysWhyInOneLineAndEndsWithStatus1) {
    const bool overTheNetwork = GetParam();
    TempDir dir;
    const QString cookie = dir.file("server-cookie");
    ASSERT_EQ(QProcess::execute("xauth", {"-q", "-f", cookie, "add", ":0", ".",
                                          "00112233445566778899aabbccddeeff"}),
              0);
    // It says its display's number once it takes connections. Without a reset when its last
    // client leaves: a server resetting lets a connection in before it has read its cookie
    // again, which a desktop's server, never without clients, does not do.
    QProcess server;
    server.start("Xvfb", {"-displayfd", "1", "-auth", cookie,
                          overTheNetwork ? "-listen" : "-nolisten", "tcp", "-noreset"});
    ASSERT_TRUE(server.waitForStarted()) << "Xvfb is missing: scripts/install-deps.sh has it";
    while (!server.canReadLine() && server.waitForReadyRead(20000)) {
    }
    const QString display =
        (overTheNetwork ? "127.0.0.1:" : ":") + QString::fromLatin1(server.readLine()).trimmed();
    const Finished wizard = run(CORVANE_PROGRAM, {}, dir.path(),
                                {"WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DISPLAY=" + display,
                                 "XAUTHORITY=" + dir.file("no-cookie")});
    server.terminate();
    server.waitForFinished();
    EXPECT_EQ(wizard.exitCode, 1);
    EXPECT_TRUE(wizard.err.startsWith("corvane: the X server at DISPLAY=" + display.toUtf8() +
                                      " refused the connection (") &&
                wizard.err.count('\n') == 1)
        << wizard.err;
}

INSTANTIATE_TEST_SUITE_P(Display, RefusingXServer, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& param) {
                             return param.param ? "OverTheNetwork" : "OnTheLocalSocket";
                         });

// What a terminal `columns` wide shows after `bytes`, as lines (a line it wrapped counts once):
// it wraps at the last column, and knows carriage return, line feed and "erase to the end of the
// line", all that the program writes.
QStringList screenAfter(const QByteArray& bytes, int columns) {
    QStringList rows{""};
    QList<bool> wrapped{false};
    int row = 0, column = 0;
    const QString text = QString::fromUtf8(bytes);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.mid(i, 3) == "\033[K") {
            rows[row].truncate(std::min(column, columns - 1));
            i += 2;
        } else if (text[i] == '\r') {
            column = 0;
        } else if (text[i] == '\n' || column == columns) {
            if (++row == rows.size())
                rows << "", wrapped << false;
            wrapped[row] = text[i] != '\n';
            column = 0;
            i -= text[i] != '\n'; // the character that wrapped is written next
        } else {
            rows[row] = rows[row].leftJustified(column).replace(column, 1, text[i]);
            ++column;
        }
    }
    QStringList lines;
    for (qsizetype at = 0; at < rows.size(); ++at)
        if (wrapped[at])
            lines.back() += rows[at];
        else if (!rows[at].isEmpty())
            lines << rows[at];
    return lines;
}

// On a terminal of any width: one line per phase, said once; a progress line that never wraps,
// with a bar where the count is known and room for it; then a summary of each archive.
TEST(Terminal, EachPhaseLineOnceAndNoPieceOfTheBarLeftAt40ColumnsAsAt200) {
    const QString qfbastion = "/home/someone/.local/share/Steam/steamapps/common/Quake 3 "
                              "Arena/qfbastion";
    for (const int columns : {40, 200}) {
        SCOPED_TRACE(columns);
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const winsize size{24, static_cast<unsigned short>(columns), 0, 0};
        ::ioctl(master, TIOCSWINSZ, &size);
        std::FILE* tty = std::fopen(::ptsname(master), "w");
        ASSERT_NE(tty, nullptr);
        {
            Terminal terminal(tty);
            TerminalProgress progress(terminal);
            progress.phaseStarted(ConversionView::Phase::Unpacking, "/games/q2/baseq2/pak0.pak");
            progress.phaseStarted(ConversionView::Phase::Packing, "pak0.pk3");
            progress.filesPacked(30, 60);
            progress.phaseStarted(ConversionView::Phase::Cleaning, {});
            progress.phaseStarted(ConversionView::Phase::Installing, qfbastion);
            progress.archiveDone("pak0.pk3", 60, 2048, qfbastion + "/pak0.pk3", true);
            progress.archiveDone("pak1.pk3", 0, -1, qfbastion + "/pak1.pk3", false);
            progress.archiveDone("pak2.pk3", 2, 184115038, qfbastion + "/pak2.pk3", false);
            progress.summarize();
            terminal.say("cannot do that"); // after the summary, on a line of its own
        }
        (void)std::fclose(tty); // a pseudo-terminal closes
        QByteArray shown;
        char chunk[4096];
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        for (ssize_t n; (n = ::read(master, chunk, sizeof chunk)) > 0;)
            shown.append(chunk, n);
        ::close(master);
        EXPECT_EQ(
            screenAfter(shown, columns),
            (QStringList{"corvane: unpacking pak0.pak", "corvane: packing pak0.pk3",
                         "corvane: removing the unpacked files",
                         "corvane: installing into " + qfbastion, "corvane: done in 0.0 s:",
                         "  pak0.pk3  60 files, 2.0 kB  installed as " + qfbastion + "/pak0.pk3",
                         "  pak1.pk3  not made", "  pak2.pk3  2 files, 184.1 MB  not installed",
                         "corvane: cannot do that"}))
            << shown;
        // The progress lines as they were written, each within the terminal's width.
        const QString bar = columns == 40 ? "corvane: packing pak0.pk3  30/60  0:00"
                                          : "corvane: packing pak0.pk3  "
                                            "[############............] 30 of 60 files  0:00";
        EXPECT_TRUE(shown.contains("\r\033[K" + bar.toUtf8())) << shown;
        if (columns == 40) {
            EXPECT_TRUE(
                shown.contains(QString("\r\033[Kcorvane: installing into /home…fbastion").toUtf8()))
                << shown;
        }
    }
}

} // namespace
