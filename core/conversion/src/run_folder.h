#pragma once

// The folder of one conversion run: made new in the work folder, for the user alone (mode
// 0700), the current folder of every tool the run starts, and removed whole when the object
// goes. The run holds the lock of the file beside it (its name and ".lock") from before the
// folder is made until after it is removed, so that no other run takes it for a leftover. Nothing
// outside it is ever unpacked, packed or deleted.
//
// Every path below it is reached one component at a time, never through a symbolic link and
// never above it. Names are matched ignoring ASCII case when they do not match exactly: the
// game's files may be spelled otherwise than the lists say. Relative paths may use '\' or '/'
// and may start with separators (as one manifest entry does). Failures raise Error with
// a description that names the full path.

#include "io/tree.h"
#include "lock.h"
#include "platform/error.h"

#include <QString>

#include <string>

namespace corvane {

class RunFolder {
public:
    // Makes a new folder in the open folder `workFolder`, known as `workPath`; raises the
    // error that kept it from being made.
    RunFolder(int workFolder, const QString& workPath);
    // Removes the folder as remove() does; a folder that stays is reported on standard error.
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    // The name every run folder has: this prefix and six random letters or digits.
    static const std::string kPrefix;
    static const std::string kLockSuffix;

    const QString& path() const { return m_path; }
    int fd() const { return m_tree.root(); }
    // The full path of `relative`, as the messages show it.
    QString pathOf(const QString& relative) const;

    // What stands at `relative`; raises the error that kept it from being examined.
    io::Kind kindOf(const QString& relative);
    // Whether an ordinary file (not a link) stands at `relative`.
    bool holdsFile(const QString& relative) { return kindOf(relative) == io::Kind::File; }
    // The size of the ordinary file at `relative`, exactly so named; -1 when there is none.
    qint64 fileSize(const QString& relative) const;
    // Deletes the file at `relative`. One that is already gone is no error; a read-only file
    // or a folder raises 75 and 53.
    void deleteFile(const QString& relative);
    // Removes the empty folder at `relative`. One that is already gone is no error; one that
    // still holds something raises 75.
    void removeFolder(const QString& relative);
    // Forgets the folder listings read so far: a tool changed the tree.
    void forget() { m_tree.forget(); }
    // Removes the folder with everything in it, and lets go of its lock; fails with the error
    // that kept something there, naming its full path. Once done, the object holds no folder.
    Result<void> remove();

private:
    [[noreturn]] void raise(int error, int notFound, const QString& relative) const;

    io::Fd m_workFolder;
    Lock m_lock;
    std::string m_name; // empty once removed
    QString m_workPath;
    QString m_path;
    io::Tree m_tree;
};

// The relative path of a manifest entry for the tree: '/' separators, no leading separator.
std::string treePath(const QString& relative);

} // namespace corvane
