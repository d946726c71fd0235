#pragma once

// The folder the conversion unpacks and packs in. Every path below it is reached one component
// at a time, never through a symbolic link and never above it, so nothing outside the folder is
// ever read, packed or deleted; a link where the tree needs a folder counts as a missing
// folder. Names are matched ignoring ASCII case when they do not match exactly. Relative paths
// may use '\' or '/' and may start with separators (as one manifest entry does).
// Failures raise RuntimeError with a description that names the full path.

#include "io/tree.h"

#include <QString>

namespace corvane {

class WorkFolder {
public:
    // Opens the folder at `path` (raises 76 when it cannot be opened).
    explicit WorkFolder(const QString& path);

    const QString& path() const { return m_path; }
    // The full path of `relative`, as the messages show it.
    QString pathOf(const QString& relative) const;

    // What stands at `relative`; raises the error that kept it from being examined.
    io::Kind kindOf(const QString& relative);
    // Whether an ordinary file (not a link) stands at `relative`.
    bool holdsFile(const QString& relative) { return kindOf(relative) == io::Kind::File; }
    // Deletes the file at `relative`. One that is already gone is no error; a read-only file
    // or a folder raises 75 and 53.
    void deleteFile(const QString& relative);
    // Removes the empty folder at `relative`. One that is already gone is no error; one that
    // still holds something raises 75.
    void removeFolder(const QString& relative);
    // Deletes what a killed tool run left in the folder at `relative`: temporary files.
    void removeTemporaries(const QString& relative);
    // Opens the file at `relative` for reading (raises 53 when there is none).
    io::Fd openForReading(const QString& relative);

    int fd() const { return m_tree.root(); }
    // Forgets the folder listings read so far: something else changed the tree.
    void forget() { m_tree.forget(); }

private:
    [[noreturn]] void raise(int error, int notFound, const QString& relative) const;

    QString m_path;
    io::Tree m_tree;
};

// The relative path of a manifest entry for the tree: '/' separators, no leading separator.
std::string treePath(const QString& relative);

} // namespace corvane
