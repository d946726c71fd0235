#pragma once

#include <QString>
#include <QStringList>

namespace corvane {

// The roots of the mounted file systems that can hold user files, each with a trailing
// separator: "/" first, then the mount points of block-device, network and FUSE file systems
// in byte order; never pseudo file systems, and never files mounted over files.
QStringList mountedDriveRoots();

// Whether `path` is a folder that can be reached now.
bool isMountedFolder(const QString& path);

} // namespace corvane
