// The command line's commands: their arguments, what they check before the conversion, and
// what they say.

#include "cli/commands.h"

#include "cli/terminal.h"
#include "conversion/known_paks.h"
#include "io/folder.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/stop_signals.h"
#include "search/folder_walk.h"
#include "search/layouts.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>

namespace corvane {

const char kUsage[] =
    "Usage: corvane [--demo]\n"
    "       corvane convert [--dry-run] [--quake3-data FOLDER] QUAKE2_FOLDER QUAKE3_FOLDER\n"
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
    "  7  installed, but the data is not the classic game's: pak0.pak held far fewer\n"
    "     of its files, or a pak has a known release's size and other contents\n"
    "  128+N  stopped by signal N (130 Ctrl-C, 129 a closed terminal, 143 kill);\n"
    "     what the run made was removed and nothing was installed\n";

namespace {

const char kConvertUsage[] =
    "Usage: corvane convert [--dry-run] [--quake3-data FOLDER] QUAKE2_FOLDER QUAKE3_FOLDER\n"
    "\n"
    "Unpacks baseq2/pak0.pak, pak1.pak and pak2.pak of QUAKE2_FOLDER, makes pak0.pk3,\n"
    "pak1.pk3 and pak2.pk3 of them and installs them in QUAKE3_FOLDER/qfbastion, which must\n"
    "exist. QUAKE3_FOLDER holds baseq3/pak0.pk3, or is an engine's home path (such as ~/.q3a)\n"
    "whose Quake 3 data lies in a system place (/usr/share/games/quake3) or in the folder\n"
    "given with --quake3-data. Nothing is written to the data folders. Nothing is asked; what\n"
    "it does goes to standard error, with a progress bar on a terminal.\n"
    "\n"
    "  --dry-run             make every check, say what would be unpacked, made and\n"
    "                        installed, and change nothing; the exit status is the one the\n"
    "                        conversion would start with\n"
    "  --quake3-data FOLDER  the folder holding Quake 3's baseq3/pak0.pk3, for a home path\n"
    "  --help, -h            show this help\n"
    "\n"
    "Exit statuses: corvane --help.\n";

const char kFindUsage[] =
    "Usage: corvane find [--null] [FOLDER ...]\n"
    "\n"
    "Lists each Quake 2 and Quake 3 folder on the drives, or below the FOLDERs given, one a\n"
    "line: the game, the folder, what marks it (its program; \"data\" for the game data\n"
    "alone; \"home\" for an engine's home path holding qfbastion, its data elsewhere) and,\n"
    "for Quake 2, which known release each pak is (for a home path: where its data is),\n"
    "separated by tabs. A tab, a line break, a backslash or another control character in a folder "
    "name is\n"
    "written \\t, \\n, \\\\ or \\xNN.\n"
    "\n"
    "  --null      end each field with a NUL byte instead, the names as they are\n"
    "  --help, -h  show this help\n"
    "\n"
    "Exit status: 0 when a folder was found, 1 when none was, 2 for arguments not understood.\n";

// A command's arguments: its options, which must be among those it knows, and the rest.
struct Arguments {
    std::set<std::string> options;
    std::map<std::string, QString> values; // options that take a folder
    QStringList operands;                  // folder names: bytes, whatever they hold
    std::string unknown;                   // the first option not known, if any
};

// The options that take a value, as the next word or after '='.
const std::set<std::string> kValueOptions = {"--quake3-data"};

Arguments parse(const std::vector<std::string>& words, const std::set<std::string>& known) {
    Arguments parsed;
    bool optionsEnd = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const std::string name = word.substr(0, word.find('='));
        if (!optionsEnd && known.count(name) && kValueOptions.count(name)) {
            if (name.size() < word.size())
                parsed.values[name] = decodePath(word.substr(name.size() + 1));
            else if (i + 1 < words.size())
                parsed.values[name] = decodePath(words[++i]);
            else if (parsed.unknown.empty())
                parsed.unknown = word + " without its FOLDER";
        } else if (!optionsEnd && word == "--")
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
    const io::Result<io::Fd> file = io::openPath(resolveIn(base, relative), O_PATH);
    return file && fstat(file->get(), &info) == 0 && S_ISREG(info.st_mode);
}

// Through descriptors, so that a path longer than the system takes at once is one too.
bool isFolder(const QString& path) {
    return io::openPath(encodePath(path), O_PATH | O_DIRECTORY).ok();
}

// Where the Quake 3 data of a home path lies: the folder given, else the system places.
QStringList quake3DataFor(const QString& given) {
    if (!given.isEmpty())
        return layouts::holdsData(Game::Quake3, given) ? QStringList{given} : QStringList();
    return layouts::systemData(Game::Quake3);
}

QString quake3DataRefusal(const QString& given) {
    if (!isFolder(given))
        return given.chopped(1) + QStringLiteral(": no such folder");
    return QStringLiteral("%1 holds no baseq3/pak0.pk3: it is no Quake 3 data folder")
        .arg(given.chopped(1));
}

// Why the folders given cannot be converted, in plain words: one that does not exist, the two
// given the wrong way round, a game's data folder given for the game's, a folder that is no
// game's, a Quake 3 folder without qfbastion, a home path whose data is nowhere. Empty when
// they look right.
QString folderRefusal(const GamePaths& paths, const QString& quake3Data) {
    for (const QString& folder : {paths.quake2, paths.quake3})
        if (!isFolder(folder))
            return folder.chopped(1) + QStringLiteral(": no such folder");
    if (!quake3Data.isEmpty() && quake3DataFor(quake3Data).isEmpty())
        return quake3DataRefusal(quake3Data);
    const bool quake2 = layouts::holdsData(Game::Quake2, paths.quake2);
    const bool quake3 = layouts::holdsData(Game::Quake3, paths.quake3);
    if (!quake2 && !quake3 && layouts::holdsData(Game::Quake3, paths.quake2) &&
        layouts::holdsData(Game::Quake2, paths.quake3))
        return QStringLiteral("the two folders look swapped: %1 holds Quake 3 and %2 Quake 2; "
                              "give the Quake 2 folder first")
            .arg(paths.quake2.chopped(1), paths.quake3.chopped(1));
    const bool home = !quake3 && layouts::holdsModFolder(Game::Quake3, paths.quake3);
    if (home && quake3DataFor(quake3Data).isEmpty()) {
        QStringList places;
        for (const QString& folder : layouts::systemDataFolders())
            places << folder + QChar(kSep) + QLatin1String(layouts::facts(Game::Quake3).dataPlace);
        return QStringLiteral("%1 holds qfbastion but no Quake 3 data: there is no "
                              "baseq3/pak0.pk3 in it, nor in %2; install Quake 3's data, or give "
                              "its folder with --quake3-data FOLDER")
            .arg(paths.quake3.chopped(1), places.join(QStringLiteral(" or ")));
    }
    for (const auto& [holdsGame, folder, game] :
         {std::tuple{quake2, paths.quake2, Game::Quake2},
          std::tuple{quake3 || home, paths.quake3, Game::Quake3}}) {
        if (holdsGame)
            continue;
        const layouts::GameFacts& known = layouts::facts(game);
        const QString data = QLatin1String(known.baseFolder);
        const QString pak = QLatin1String(known.dataPack);
        const QString name = folder.chopped(1).section(QChar(kSep), -1);
        if (name.compare(data, Qt::CaseInsensitive) == 0 && holds(folder, pak))
            return QStringLiteral("%1 is the game's %2 folder; give the %3 folder that holds it, "
                                  "%4")
                .arg(folder.chopped(1), data, QLatin1String(known.title),
                     folder.chopped(name.size() + 2));
        return QStringLiteral("%1 is no %2 folder: it holds no %3/%4")
            .arg(folder.chopped(1), QLatin1String(known.title), data, pak);
    }
    struct stat info;
    const io::Result<io::Fd> quake3Folder =
        io::openPath(encodePath(paths.quake3), O_PATH | O_DIRECTORY);
    if (!quake3Folder || fstatat(quake3Folder->get(), "qfbastion", &info, AT_SYMLINK_NOFOLLOW) != 0)
        return QStringLiteral("%1 holds no folder qfbastion, where the archives are installed; "
                              "create it, then run corvane again")
            .arg(paths.quake3.chopped(1));
    return {};
}

// Where each game's data is read from, for the dry run and the summary.
QStringList dataSources(const GamePaths& paths, const QString& quake3Data) {
    const QString quake3 =
        layouts::dataFolderOf(Game::Quake3, paths.quake3, quake3DataFor(quake3Data));
    QStringList lines{QStringLiteral("Quake 2's data: %1baseq2").arg(paths.quake2)};
    lines << (quake3 == paths.quake3
                  ? QStringLiteral("Quake 3's data: %1baseq3").arg(quake3)
                  : QStringLiteral("Quake 3's data: %1baseq3, for the home path %2")
                        .arg(quake3, paths.quake3.chopped(1)));
    return lines;
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
void sayPlan(Terminal& terminal, const ConversionPlan& plan, const QStringList& sources) {
    QStringList unpacked, made;
    for (const ConversionPlan::Pak& pak : plan.paks) {
        unpacked << QStringLiteral("  %1  %2 files, %3, %4")
                        .arg(pak.pak)
                        .arg(pak.files)
                        .arg(readableSize(pak.bytes))
                        .arg(pak.identity);
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
    terminal.say(QStringLiteral("dry run: every check passed and nothing was changed.\n") +
                 sources.join(u'\n') +
                 QStringLiteral("\nIt would unpack, into a folder of its own in %1:\n")
                     .arg(plan.workFolder) +
                 unpacked.join(u'\n') +
                 (all ? QStringLiteral("\nand make, then install into %1:\n")
                      : QStringLiteral("\nand make, but install none of them into %1:\n"))
                     .arg(plan.qfbastion) +
                 made.join(u'\n'));
}

// Lists the folders of the walk that are an installation of either game, one a line.
class InstallationLister : public FolderVisitor {
public:
    InstallationLister(Terminal& terminal, bool nullSeparated)
        : m_terminal(terminal), m_nullSeparated(nullSeparated),
          m_quake3Data(layouts::systemData(Game::Quake3)) {}
    int found = 0;
    int writeError = 0; // why the list could not be written, if it could not

    bool visit(const WalkedFolder& folder) override {
        QString base; // read only for a folder that may be one
        for (const layouts::GameFacts& game : layouts::kGames)
            report(folder, game, base);
        // A list that cannot be written ends the walk: no one reads the rest.
        return writeError == 0;
    }

    void failed(const std::string& path, int error) override {
        const std::string folder = path.size() > 1 ? path.substr(0, path.size() - 1) : path;
        m_terminal.say(QStringLiteral("cannot search %1: %2")
                           .arg(decodePath(folder), QString::fromLocal8Bit(strerror(error))));
    }

private:
    void report(const WalkedFolder& folder, const layouts::GameFacts& game, QString& base) {
        if (!layouts::showsGameFolder(game, folder.folders))
            return;
        if (base.isEmpty())
            base = decodePath(folder.path);
        const QString program = programIn(folder, game);
        const QStringList elsewhere = game.game == Game::Quake3 ? m_quake3Data : QStringList();
        const std::optional<layouts::Mark> mark =
            layouts::markOf(game.game, base, !program.isEmpty(), elsewhere);
        if (!mark)
            return;
        QString markName = program;
        for (const layouts::Layout& layout : layouts::kLayouts)
            if (layout.game == game.game && layout.mark == *mark && layout.findMark)
                markName = QLatin1String(layout.findMark);
        const QString detail = *mark == layouts::Mark::HomePath
                                   ? QStringLiteral("data in ") + elsewhere.front()
                                   : releasesIn(base, game);
        const QList<QString> fields{QLatin1String(game.findName), base, markName, detail};
        QByteArray line;
        for (const QString& field : fields) {
            const bool last = &field == &fields.back();
            line += m_nullSeparated ? QByteArray::fromStdString(encodePath(field)) + '\0'
                                    : escaped(field) + (last ? '\n' : '\t');
        }
        // The list is the command's result: one that cannot be written (a full disk) fails it.
        if (std::fwrite(line.constData(), 1, size_t(line.size()), stdout) != size_t(line.size()) ||
            std::fflush(stdout) != 0)
            writeError = writeError ? writeError : errno;
        ++found;
    }

    // The game's program among the folder's files, and its links that lead to a file: the last
    // in byte order when it is there in more than one case. Empty when it is not there.
    static QString programIn(const WalkedFolder& folder, const layouts::GameFacts& game) {
        const std::string* program = nullptr;
        const auto consider = [&](const std::string& name, bool link) {
            if (layouts::isProgram(game, name) && (!program || *program < name) &&
                (!link || folder.leadsToFile(name)))
                program = &name;
        };
        for (const std::string& name : folder.files)
            consider(name, false);
        for (const std::string& name : folder.links)
            consider(name, true);
        return program ? QString::fromStdString(*program) : QString();
    }

    // Which known release each pak of a Quake 2 folder is; nothing for Quake 3's.
    static QString releasesIn(const QString& base, const layouts::GameFacts& game) {
        if (game.game != Game::Quake2)
            return QStringLiteral("-");
        QStringList releases;
        for (const char* pak : {"pak0.pak", "pak1.pak", "pak2.pak"}) {
            const QString stored = QLatin1String(game.baseFolder) + u'/' + QLatin1String(pak);
            // Never blocks: a pipe under the name cannot stall the walk.
            const io::Result<io::Fd> file =
                io::openPath(resolveIn(base, stored), O_RDONLY | O_NONBLOCK);
            releases << QLatin1String(pak) + QStringLiteral(": ") +
                            (file ? identifyPak(file->get(), encodePath(stored)).described()
                                  : QStringLiteral("missing"));
        }
        return releases.join(QStringLiteral("; "));
    }

    // `text` as one line that cannot steer a terminal.
    static QByteArray escaped(const QString& text) {
        return QByteArray::fromStdString(escapedLine(encodePath(text)));
    }

    Terminal& m_terminal;
    bool m_nullSeparated;
    QStringList m_quake3Data;
};

int convertWith(const Arguments& arguments) {
    if (arguments.operands.contains(QString()))
        return usageError(QStringLiteral("a folder name cannot be empty"), " convert");
    if (arguments.operands.size() != 2)
        return usageError(QStringLiteral("convert takes two folders, QUAKE2_FOLDER and "
                                         "QUAKE3_FOLDER"),
                          " convert");
    const auto data = arguments.values.find("--quake3-data");
    return convertCommand(arguments.operands[0], arguments.operands[1],
                          arguments.options.count("--dry-run") > 0,
                          data == arguments.values.end() ? QString() : data->second);
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
    {"convert", {"--dry-run", "--quake3-data"}, kConvertUsage, convertWith},
    {"find", {"--null"}, kFindUsage, findWith},
};

// Writes `text` to standard output: the status says whether it could be.
int printed(const char* text) {
    return std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

int runCommand(const Command& command, const std::vector<std::string>& words) {
    std::set<std::string> known = command.options;
    known.insert({"--help", "-h"});
    const Arguments arguments = parse(words, known);
    if (!arguments.unknown.empty())
        return usageError(QStringLiteral("unknown option ") + decodePath(arguments.unknown),
                          (std::string(" ") + command.name).c_str());
    if (arguments.options.count("--help"))
        return printed(command.usage);
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
    if (global.options.size() == 1 && global.options.count("--help") && arguments.size() == 1)
        return printed(kUsage);
    if (global.options.size() == 1 && global.options.count("--version") && arguments.size() == 1) {
        return printed("corvane " CORVANE_VERSION "\n");
    }
    return usageError(
        QStringLiteral("%1 takes no other argument").arg(decodePath(arguments.front())), "");
}

int convertCommand(const QString& quake2, const QString& quake3, bool dryRun,
                   const QString& quake3Data) {
    Terminal terminal;
    const GamePaths paths{folderPath(quake2), folderPath(quake3)};
    const QString data = quake3Data.isEmpty() ? QString() : folderPath(quake3Data);
    QStringList sources;
    try {
        if (const QString refusal = folderRefusal(paths, data); !refusal.isEmpty()) {
            terminal.say(refusal);
            return kExitCheckFailed;
        }
    } catch (const Error& error) {
        terminal.say(error.plain());
        return kExitCheckFailed;
    }
    sources = dataSources(paths, data);
    installStopSignals();
    TerminalProgress progress(terminal);
    try {
        Conversion conversion(runningProgramFolder(), paths, progress);
        if (dryRun) {
            ConversionPlan plan;
            const Conversion::Step end = conversion.dryRun(plan);
            if (!end)
                sayPlan(terminal, plan, sources);
            return end ? statusOf(*end) : kExitOk;
        }
        progress.setSources(sources);
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
    QStringList roots = folders.isEmpty() ? mountedDriveRoots() : QStringList();
    for (const QString& folder : folders) {
        if (isFolder(folder))
            roots << folderPath(folder);
        else
            terminal.say(folder + QStringLiteral(": no such folder"));
    }
    std::vector<std::string> paths;
    for (const QString& root : roots)
        paths.push_back(encodePath(root));
    try {
        InstallationLister lister(terminal, nullSeparated);
        walkFolders(paths, lister);
        if (lister.found == 0)
            terminal.say(QStringLiteral("no Quake 2 or Quake 3 folder found"));
        // A reader that went away (a closed pipe) wanted no more: nothing to say of it.
        if (lister.writeError != 0 && lister.writeError != EPIPE)
            terminal.say(QStringLiteral("cannot write the list: ") +
                         QString::fromLocal8Bit(strerror(lister.writeError)));
        return lister.found > 0 && lister.writeError == 0 ? kExitOk : kExitFailed;
    } catch (const Error& error) {
        terminal.say(error.plain());
        return kExitFailed;
    }
}

} // namespace corvane
