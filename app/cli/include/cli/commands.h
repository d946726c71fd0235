#pragma once

// The command line: "convert" and "find" without a display, help and version. Each returns
// the program's exit status.

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace corvane {

// The program's exit statuses; --help lists them.
enum ExitStatus : int {
    kExitOk = 0,           // all three archives installed (find: a folder was found)
    kExitFailed = 1,       // anything else went wrong (find: nothing was found)
    kExitUsage = 2,        // the arguments were not understood
    kExitCheckFailed = 3,  // a folder or a check before any work failed; nothing was touched
    kExitToolFailed = 4,   // a tool failed; what the run made was removed, nothing installed
    kExitNotInstalled = 5, // some archive could not be made or installed
    kExitBusy = 6,         // another conversion works in the same folders; nothing was touched
    kExitIncomplete = 7,   // installed, but pak0.pak held markedly fewer files than the classic
                           // game's, and pak0.pk3 does too
    // A stop signal: 128 and its number (130 for Ctrl-C, 129 for a closed terminal, 143 for
    // SIGTERM); what the run made was removed and nothing installed.
};

// The program's usage, as --help shows it.
extern const char kUsage[];

// Runs the command line `arguments` (without the program's name; not the wizard's).
int runCommandLine(const std::vector<std::string>& arguments);

// Converts the Quake 2 folder `quake2` (one holding baseq2/pak0.pak) into the pk3 files of
// the Quake 3 folder `quake3` (one holding qfbastion, and baseq3/pak0.pk3 unless it is a home
// path whose data lies in `quake3Data` or a system place), as the wizard does; with `dryRun`,
// only checks and says what it would do.
int convertCommand(const QString& quake2, const QString& quake3, bool dryRun = false,
                   const QString& quake3Data = {});

// Walks the mounted drives (or only `folders`, when given), never through a link nor into
// another file system (search/folder_walk.h), and prints each Quake 2 and Quake 3 folder found,
// one a line: the game, the folder, what marks it (the program's file name, "data" for a folder
// with the game data alone, "home" for a home path) and which known release each Quake 2 pak is
// (a home path: where its data is), separated by tabs. Control characters and backslashes in a
// folder are written as escapes (\t, \n, \\, \xNN), so one line is always one folder.
// `nullSeparated` writes each of the three fields followed by a NUL byte instead, the folder's
// bytes as they are, for scripts.
int findCommand(const QStringList& folders = {}, bool nullSeparated = false);

} // namespace corvane
