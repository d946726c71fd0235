#pragma once

// Game folders for the conversion's tests: packs written byte by byte from the manifest, a
// program folder holding the real tools, a Quake 3 folder with qfbastion, and a folder outside
// them that a link may point to. Names carry blanks and accents on purpose.

#include "io/fd.h"
#include "platform/game_paths.h"
#include "support.h"

#include <vector>

namespace corvane::test {

// Whether a manifest entry lies in one of the folders that go into pak0.pk3.
bool isPacked(const QString& entry);
// The member name of a manifest entry: '/' separators, no leading separator.
QByteArray memberOf(const QString& entry);
// What the test packs store in a member: different for every member.
QByteArray contentsOf(const QByteArray& member);
// How many files the classic pack `pack` gives its archive; all three packs' when -1.
int classicFileCount(int pack = -1);
// The members of a classic pack that the conversion uses (0, 1 or 2), with contentsOf().
Members classicPak(int pack);
// `members` and, as a mod's pack has, one file more in every folder of the manifest's files.
Members withAFileMoreInEveryFolder(Members members);

// `entries` of a snapshot without what a conversion may change: the archives in qfbastion and
// the program's own folders in the cache (and the log of logZipRuns()).
QMap<QString, QByteArray> outsideTheRun(QMap<QString, QByteArray> entries);

struct Games {
    // `withProgram` puts the program itself beside its tools.
    explicit Games(bool withProgram = false);
    void writePak(const QString& name, const Members& members);
    // Lengthens the pack `name` with zero bytes to `bytes` bytes, past its directory.
    void padPak(const QString& name, qint64 bytes);
    // Puts a script before the zip tool that logs each run's archive and number of files, in
    // a log outside the program folder whose path it returns; `then` runs in the script after
    // each run is logged ($log names the log).
    QString logZipRuns(const QByteArray& then = {});
    // Holds the lock of `folder` as a running conversion does, as long as the games exist: the
    // lock file `file` in it, the folder's own by default.
    void lockAsAnotherRun(const QString& folder, const QString& file = {});
    // Holds the kind of lock that anyone who may read `folder` can take (flock).
    void lockAsAReader(const QString& folder);

    TempDir root{"corvane-road"};
    QString programFolder = root.file("Program \"Folder\" \u00e9t\u00e9");
    QString quake2 = root.file("Games/Quake 2 \u00fc/");
    QString quake3 = root.file("Games/Quake 3 \u00fc/");
    QString outside = root.file("outside");
    GamePaths paths;
    std::vector<io::Fd> locks;
};

} // namespace corvane::test
