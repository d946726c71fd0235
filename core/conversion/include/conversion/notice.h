#pragma once

// What the conversion tells its user, as values: what happened, to what, and why. The core
// words nothing; the wizard turns a notice into its boxes, the command line into plain lines.

#include "platform/error.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

struct Notice {
    enum class Kind {
        // A check before any work failed; nothing was touched.
        PathMissing,       // subject: the game ("Quake2", "Quake3") whose folder is not set
        NoCacheFolder,     // path: the program folder, which cannot be written; HOME unset
        WorkFolderRefused, // path: the work folder; detail: why it is no place to work in
        NoWritableFolder,  // path: the work folder; subject: the program folder
        LockNotOurs,       // path: the lock file, which belongs to another user
        LockFailed,        // path: the lock file; cause
        Busy,              // path: the folder another conversion works in
        ToolMissing,       // path: the tool
        QfbastionNoFolder, // path: qfbastion, a link or a file
        QfbastionUnopened, // path: qfbastion; cause
        QfbastionMissing,  // path: the Quake 3 folder
        QfbastionReadOnly, // path: qfbastion
        TargetKept,        // path: an archive in qfbastion; detail: why it cannot be replaced
        PakUnreadable,     // path: the pak; detail: why
        NoRoom,            // path: the folder; count: bytes needed; of: bytes free
        // During the passes.
        WorkFolderGivenAway, // path: the work folder, given to another user during the run
        ArchiveNotMade,      // subject: the archive; lines: what the zip tool said
        SomeNotUnpacked,     // subject: the pak; lines: what the tool said
        NotUnpacked,         // subject: the pak; lines: what the tool said
        NoClassicFiles,      // of: the classic game's files for the first archive
        FewerClassicFiles,   // count: the files found; of: the classic game's
        ChangedPaks,         // lines: "<pak> has the size of Quake 2's <release>", one a pack
        // The installation.
        NotCopied,     // subject: the archive's label; path: the work folder; flag: the
                       // box suggests a look at the folder
        NoneInstalled, // path: qfbastion, which keeps the archives it had
        InstallFailed, // subject: the archive; path: its target; error; flag: the
                       // archives swapped before were put back
        Copied,        // subject: the archive's label; path: its target
    };

    Kind kind = Kind::PathMissing;
    QString subject{};
    QString path{};
    QString detail{};
    QStringList lines{};
    qint64 count = 0;
    qint64 of = 0;
    int cause = 0; // the system's errno
    bool flag = false;
    std::optional<Error> error{};
};

} // namespace corvane
