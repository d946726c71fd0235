#pragma once

// Drives and folder listings of the platform layer, for the hidden folder browser of the
// search screen. A drive is a mounted file system that can hold user files; its root is its
// mount point written with a trailing separator ("/", "/media/usb/"). Folder paths are
// absolute and use kSep; a trailing separator is allowed. Failures raise RuntimeError:
// 76 (path not found), 70 (permission denied), 68 (device unavailable), 7 (out of memory)
// or 75 (any other access error), with a description that names the folder.

#include "platform.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

// The roots of the platform's drives: "/" first, then the mount points of block-device,
// network and FUSE file systems in byte order; never pseudo file systems.
QStringList DriveRoots();

// Raises 68 when the drive whose root is `root` cannot be reached (removed media, a stale
// network or FUSE mount); a drive that is there but cannot be read passes.
void ProbeDrive(const QString& root);

// The names of the folders directly inside `folder`, in byte order. Symbolic links and
// mount points of other file systems are left out: a walk through them would leave the
// drive or loop.
QStringList SubFolders(const QString& folder);

// The names of the files directly inside `folder` whose names match `pattern` ('*' and '?'
// wildcards, ignoring ASCII case), in byte order.
QStringList FilesMatching(const QString& folder, const QString& pattern);

// Closes the folders that listings keep open for a walk and drops the listings, so that no
// drive stays busy once a walk is over.
void ReleaseFolderListings();

// Whether `name` matches the wildcard `pattern`, ignoring ASCII case.
bool MatchesPattern(const QString& name, const QString& pattern);

// Test hooks of the folder and drive layer.
struct PlatformFolders {
    // Replaces the drive list (std::nullopt: the mounted file systems again).
    static void setDriveRoots(std::optional<QStringList> roots);
    // Makes every read of `folder` fail with run-time error `number`; a 68 also fails the
    // drive probe of a drive root.
    static void setFolderFailure(const QString& folder, int number);
    // Drops every hook and the cached listings.
    static void reset();
};

} // namespace corvane
