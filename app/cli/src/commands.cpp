// The command line's commands: their arguments, what they check before the conversion, and
// what they say.

#include "cli/commands.h"

#include "cli/terminal.h"
#include "io/folder.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/stop_signals.h"
#include "search/drive_walk.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>

namespace corvane {

const char kUsage[] =
    "Usage: corvane [--demo]\n"
    "       corvane convert [--dry-run] QUAKE2_FOLDER QUAKE3_FOLDER\n"
    "       corvane find [--null] [FOLDER ...]\n"
    "       corvane --help | -h | --version\n"
    "\n"
    "Turns the game data of an installed Quake 2 into pk3 archives for a Quake 3 engine.\n"
    "\n"
    "  (no argument)  the wizard: search the drives for Quake 2 and Quake 3, confirm one\n"
    "                 folder of each, convert\n"
    "  --demo         the wizard on a generated sandbox instead of the drives\n"
    "  convert        convert without a display or a question (corvane convert --help)\n"
    "  find           list the Quake 2 and Quake 3 folders (corvane find --help)\n"
    "  --help, -h     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Exit status:\n"
    "  0  success: all three archives installed (find: a folder was found)\n"
    "  1  any other failure (find: nothing was found; the wizard: no display)\n"
    "  2  the arguments were not understood\n"
    "  3  a folder or a check before any work failed; nothing was touched\n"
    "  4  a tool failed; what the run made was removed and nothing was installed\n"
    "  5  some archive could not be made or installed\n"
    "  6  another conversion is running in the same folders; nothing was touched\n"
    "  7  installed, but pak0.pak held far fewer files than the classic game's\n"
    "  128+N  stopped by signal N (130 Ctrl-C, 129 a closed terminal, 143 kill);\n"
    "     what the run made was removed and nothing was installed\n";

namespace {

const char kConvertUsage[] =
    "Usage: corvane convert [--dry-run] QUAKE2_FOLDER QUAKE3_FOLDER\n"
    "\n"
    "Unpacks baseq2/pak0.pak, pak1.pak and pak2.pak of QUAKE2_FOLDER, makes pak0.pk3,\n"
    "pak1.pk3 and pak2.pk3 of them and installs them in QUAKE3_FOLDER/qfbastion, which must\n"
    "exist. QUAKE3_FOLDER holds baseq3/pak0.pk3. Nothing is asked; what it does goes to\n"
    "standard error, with a progress bar on a terminal.\n"
    "\n"
    "  --dry-run   make every check, say what would be unpacked, made and installed,\n"
    "              and change nothing; the exit status is the one the conversion would\n"
    "              start with\n"
    "  --help, -h  show this help\n"
    "\n"
    "Exit statuses: corvane --help.\n";

const char kFindUsage[] =
    "Usage: corvane find [--null] [FOLDER ...]\n"
    "\n"
    "Lists each Quake 2 and Quake 3 folder on the drives, or below the FOLDERs given, one a\n"
    "line: the game, the folder and what marks it (its program, or \"data\"), separated by\n"
    "tabs. A tab, a line break, a backslash or another control character in a folder name is\n"
    "written \\t, \\n, \\\\ or \\xNN.\n"
    "\n"
    "  --null      end each field with a NUL byte instead, the names as they are\n"
    "  --help, -h  show this help\n"
    "\n"
    "Exit status: 0 when a folder was found, 1 when none was, 2 for arguments not understood.\n";

// A command's arguments: its options, which must be among those it knows, and the rest.
struct Arguments {
    std::set<std::string> options;
    QStringList operands; // folder names: bytes, whatever they hold
    std::string unknown;  // the first option not known, if any
};

Arguments parse(const std::vector<std::string>& words, const std::set<std::string>& known) {
    Arguments parsed;
    bool optionsEnd = false;
    for (const std::string& word : words) {
        if (!optionsEnd && word == "--")
            optionsEnd = true;
        else if (!optionsEnd && known.count(word))
            parsed.options.insert(word == "-h" ? "--help" : word);
        else if (!optionsEnd && word.size() > 1 && word[0] == '-' && parsed.unknown.empty())
            parsed.unknown = word;
        else
            parsed.operands << decodePath(word);
    }
    return parsed;
}

int usageError(const QString& text, const char* helpCommand) {
    Terminal terminal;
    terminal.say(text +
                 QStringLiteral("\nTry 'corvane%1 --help'.").arg(QLatin1String(helpCommand)));
    return kExitUsage;
}

// `folder` as an absolute path ending with the separator. "." components and doubled
// separators go; ".." is left to the kernel, which follows a link before it goes up.
QString folderPath(const QString& folder) {
    const QString absolute =
        folder.startsWith(QChar(kSep)) ? folder : currentFolder() + QChar(kSep) + folder;
    QString path(kSep);
    for (const QString& part : absolute.split(QChar(kSep), Qt::SkipEmptyParts))
        if (part != QStringLiteral("."))
            path += part + kSep;
    return path;
}

// Whether the file `relative` is in `base`, found ignoring case below `base` as it is spelled.
bool holds(const QString& base, const QString& relative) {
    struct stat info;
    const io::Fd file = io::openPath(resolveIn(base, relative), O_PATH);
    return file && fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode);
}

// Through descriptors, so that a path longer than the system takes at once is one too.
bool isFolder(const QString& path) {
    return io::openPath(encodePath(path), O_PATH | O_DIRECTORY).valid();
}

// Why the folders given cannot be converted, in plain words: one that does not exist, the two
// given the wrong way round, a game's data folder given for the game's, a folder that is no
// game's, a Quake 3 folder without qfbastion. Empty when they look right.
QString folderRefusal(const GamePaths& paths) {
    for (const QString& folder : {paths.quake2, paths.quake3})
        if (!isFolder(folder))
            return folder.chopped(1) + QStringLiteral(": no such folder");
    const bool quake2 = holds(paths.quake2, QStringLiteral("baseq2/pak0.pak"));
    const bool quake3 = holds(paths.quake3, QStringLiteral("baseq3/pak0.pk3"));
    if (!quake2 && !quake3 && holds(paths.quake2, QStringLiteral("baseq3/pak0.pk3")) &&
        holds(paths.quake3, QStringLiteral("baseq2/pak0.pak")))
        return QStringLiteral("the two folders look swapped: %1 holds Quake 3 and %2 Quake 2; "
                              "give the Quake 2 folder first")
            .arg(paths.quake2.chopped(1), paths.quake3.chopped(1));
    const struct {
        bool holdsGame;
        QString folder, game, data, pak;
    } games[] = {{quake2, paths.quake2, QStringLiteral("Quake 2"), QStringLiteral("baseq2"),
                  QStringLiteral("pak0.pak")},
                 {quake3, paths.quake3, QStringLiteral("Quake 3"), QStringLiteral("baseq3"),
                  QStringLiteral("pak0.pk3")}};
    for (const auto& game : games) {
        if (game.holdsGame)
            continue;
        const QString name = game.folder.chopped(1).section(QChar(kSep), -1);
        if (name.compare(game.data, Qt::CaseInsensitive) == 0 && holds(game.folder, game.pak))
            return QStringLiteral("%1 is the game's %2 folder; give the %3 folder that holds it, "
                                  "%4")
                .arg(game.folder.chopped(1), game.data, game.game,
                     game.folder.chopped(name.size() + 2));
        return QStringLiteral("%1 is no %2 folder: it holds no %3/%4")
            .arg(game.folder.chopped(1), game.game, game.data, game.pak);
    }
    struct stat info;
    const io::Fd quake3Folder = io::openPath(encodePath(paths.quake3), O_PATH | O_DIRECTORY);
    if (fstatat(quake3Folder.get(), "qfbastion", &info, AT_SYMLINK_NOFOLLOW) != 0)
        return QStringLiteral("%1 holds no folder qfbastion, where the archives are installed; "
                              "create it, then run corvane again")
            .arg(paths.quake3.chopped(1));
    return {};
}

int statusOf(Outcome outcome) {
    switch (outcome) {
    case Outcome::Installed:
        return kExitOk;
    case Outcome::InstalledIncomplete:
        return kExitIncomplete;
    case Outcome::NotAllInstalled:
        return kExitNotInstalled;
    case Outcome::PathMissing:
    case Outcome::CheckFailed:
        return kExitCheckFailed;
    case Outcome::Busy:
        return kExitBusy;
    case Outcome::ToolFailed:
        return kExitToolFailed;
    case Outcome::Interrupted:
        return stopExitStatus();
    }
    return kExitFailed;
}

// Says what a dry run found the conversion would do.
void sayPlan(Terminal& terminal, const ConversionPlan& plan) {
    QStringList unpacked, made;
    for (const ConversionPlan::Pak& pak : plan.paks) {
        unpacked << QStringLiteral("  %1  %2 files, %3")
                        .arg(pak.pak)
                        .arg(pak.files)
                        .arg(readableSize(pak.bytes));
        if (pak.packed == 0)
            made << QStringLiteral("  %1  not made: its pak lacks the files").arg(pak.archive);
        else
            made << QStringLiteral("  %1  %2 files, at most %3%4")
                        .arg(pak.archive)
                        .arg(pak.packed)
                        .arg(readableSize(pak.packedBytes))
                        .arg(pak.replaces ? QStringLiteral(", replacing the one there")
                                          : QString());
    }
    // The archives go in together or not at all.
    const bool all = std::none_of(plan.paks.begin(), plan.paks.end(),
                                  [](const ConversionPlan::Pak& pak) { return pak.packed == 0; });
    terminal.say(QStringLiteral("dry run: every check passed and nothing was changed.\n"
                                "It would unpack, into a folder of its own in %1:\n")
                     .arg(plan.workFolder) +
                 unpacked.join(u'\n') +
                 (all ? QStringLiteral("\nand make, then install into %1:\n")
                      : QStringLiteral("\nand make, but install none of them into %1:\n"))
                     .arg(plan.qfbastion) +
                 made.join(u'\n'));
}

// The walk of the drives for every layout of either game.
class InstallationFinder : public DriveWalk {
public:
    InstallationFinder(Services& services, bool nullSeparated)
        : DriveWalk(services, Counting::Unlimited), m_nullSeparated(nullSeparated) {}
    int found = 0;

protected:
    void examineFolder(const QString& base) override {
        report(base, QStringLiteral("quake2"), QStringLiteral("baseq2"), QStringLiteral("pak0.pak"),
               QStringLiteral("quake2.exe"));
        report(base, QStringLiteral("quake3"), QStringLiteral("baseq3"), QStringLiteral("pak0.pk3"),
               QStringLiteral("quake3.exe"));
    }

private:
    void report(const QString& base, const QString& game, const QString& dataFolder,
                const QString& pak, const QString& program) {
        // Only folders with the game's data folder are looked into further.
        bool hasDataFolder = false;
        for (int i = 0; i < dirList.ListCount() && !hasDataFolder; ++i)
            hasDataFolder =
                dirList.List(i).section(QChar(kSep), -1).compare(dataFolder, Qt::CaseInsensitive) ==
                0;
        if (!hasDataFolder || !holds(base, dataFolder + QChar(kSep) + pak))
            return;
        QString mark = QStringLiteral("data");
        for (int i = 0; i < filList.ListCount(); ++i)
            if (filList.List(i).compare(program, Qt::CaseInsensitive) == 0)
                mark = filList.List(i);
        const QByteArray line =
            m_nullSeparated ? game.toUtf8() + '\0' + QByteArray::fromStdString(encodePath(base)) +
                                  '\0' + mark.toUtf8() + '\0'
                            : game.toUtf8() + '\t' + escaped(base) + '\t' + escaped(mark) + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
        ++found;
    }

    static QByteArray escaped(const QString& text) {
        return QByteArray::fromStdString(escapedLine(encodePath(text)));
    }

    bool m_nullSeparated;
};

int convertWith(const Arguments& arguments) {
    if (arguments.operands.contains(QString()))
        return usageError(QStringLiteral("a folder name cannot be empty"), " convert");
    if (arguments.operands.size() != 2)
        return usageError(QStringLiteral("convert takes two folders, QUAKE2_FOLDER and "
                                         "QUAKE3_FOLDER"),
                          " convert");
    return convertCommand(arguments.operands[0], arguments.operands[1],
                          arguments.options.count("--dry-run") > 0);
}

int findWith(const Arguments& arguments) {
    if (arguments.operands.contains(QString()))
        return usageError(QStringLiteral("a folder name cannot be empty"), " find");
    return findCommand(arguments.operands, arguments.options.count("--null") > 0);
}

// A command, its options besides --help, its usage, and what runs it.
struct Command {
    const char* name;
    std::set<std::string> options;
    const char* usage;
    int (*run)(const Arguments&);
};

const Command kCommands[] = {
    {"convert", {"--dry-run"}, kConvertUsage, convertWith},
    {"find", {"--null"}, kFindUsage, findWith},
};

int runCommand(const Command& command, const std::vector<std::string>& words) {
    std::set<std::string> known = command.options;
    known.insert({"--help", "-h"});
    const Arguments arguments = parse(words, known);
    if (!arguments.unknown.empty())
        return usageError(QStringLiteral("unknown option ") + decodePath(arguments.unknown),
                          (std::string(" ") + command.name).c_str());
    if (arguments.options.count("--help")) {
        std::fputs(command.usage, stdout);
        return kExitOk;
    }
    return command.run(arguments);
}

} // namespace

int runCommandLine(const std::vector<std::string>& arguments) {
    const std::string command = arguments.empty() ? std::string() : arguments.front();
    const std::vector<std::string> rest(arguments.begin() + (arguments.empty() ? 0 : 1),
                                        arguments.end());
    for (const Command& known : kCommands)
        if (command == known.name)
            return runCommand(known, rest);
    const Arguments global = parse(arguments, {"--help", "-h", "--version", "--demo"});
    if (!global.unknown.empty())
        return usageError(QStringLiteral("unknown option ") + decodePath(global.unknown), "");
    if (!global.operands.isEmpty())
        return usageError(QStringLiteral("unknown command ") + global.operands.front(), "");
    if (global.options.size() == 1 && global.options.count("--help") && arguments.size() == 1) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (global.options.size() == 1 && global.options.count("--version") && arguments.size() == 1) {
        std::printf("corvane %s\n", CORVANE_VERSION);
        return kExitOk;
    }
    return usageError(
        QStringLiteral("%1 takes no other argument").arg(decodePath(arguments.front())), "");
}

int convertCommand(const QString& quake2, const QString& quake3, bool dryRun) {
    Terminal terminal;
    const GamePaths paths{folderPath(quake2), folderPath(quake3)};
    try {
        if (const QString refusal = folderRefusal(paths); !refusal.isEmpty()) {
            terminal.say(refusal);
            return kExitCheckFailed;
        }
    } catch (const Error& error) {
        terminal.say(error.plain());
        return kExitCheckFailed;
    }
    installStopSignals();
    TerminalServices services(terminal);
    TerminalProgress progress(terminal);
    try {
        Conversion conversion(services, paths, progress);
        if (dryRun) {
            ConversionPlan plan;
            const Conversion::Step end = conversion.dryRun(plan);
            if (!end)
                sayPlan(terminal, plan);
            return end ? statusOf(*end) : kExitOk;
        }
        const Outcome outcome = conversion.run();
        if (outcome == Outcome::Interrupted)
            terminal.say(QStringLiteral("stopped by SIG%1: what the run made was removed, nothing "
                                        "was installed")
                             .arg(QString::fromLocal8Bit(sigabbrev_np(stopRequested()))));
        if (outcome == Outcome::Installed || outcome == Outcome::InstalledIncomplete ||
            outcome == Outcome::NotAllInstalled)
            progress.summarize();
        return statusOf(outcome);
    } catch (const Error& error) {
        terminal.say(error.plain());
        return kExitFailed;
    }
}

int findCommand(const QStringList& folders, bool nullSeparated) {
    Terminal terminal;
    std::optional<QStringList> roots;
    if (!folders.isEmpty()) {
        roots.emplace();
        for (const QString& folder : folders) {
            if (isFolder(folder))
                *roots << folderPath(folder);
            else
                terminal.say(folder + QStringLiteral(": no such folder"));
        }
    }
    TerminalServices services(terminal, roots);
    try {
        InstallationFinder finder(services, nullSeparated);
        finder.walkDrives();
        if (finder.found == 0)
            terminal.say(QStringLiteral("no Quake 2 or Quake 3 folder found"));
        return finder.found > 0 ? kExitOk : kExitFailed;
    } catch (const Error& error) {
        terminal.say(error.plain());
        return kExitFailed;
    }
}

} // namespace corvane
