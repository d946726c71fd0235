// The drives of a POSIX system: its mounted file systems that can hold user files.

#include "platform/drives.h"

#include "platform/files.h"

#include <QStorageInfo>

#include <algorithm>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace corvane {

namespace {

bool isPseudoFileSystem(const QByteArray& type) {
    static const QList<QByteArray> pseudo = {
        "proc",       "sysfs",   "devtmpfs",  "devpts",   "tmpfs",       "ramfs",    "cgroup",
        "cgroup2",    "mqueue",  "debugfs",   "tracefs",  "securityfs",  "pstore",   "bpf",
        "configfs",   "fusectl", "hugetlbfs", "autofs",   "binfmt_misc", "efivarfs", "nsfs",
        "rpc_pipefs", "overlay", "squashfs",  "selinuxfs"};
    return pseudo.contains(type);
}

bool isNetworkFileSystem(const QByteArray& type) {
    static const QList<QByteArray> network = {"nfs", "nfs4", "cifs", "smb3",      "smbfs",
                                              "9p",  "afs",  "ceph", "glusterfs", "lustre"};
    return network.contains(type);
}

bool holdsUserFiles(const QStorageInfo& volume) {
    const QByteArray type = volume.fileSystemType();
    if (isPseudoFileSystem(type))
        return false;
    return volume.device().startsWith("/dev/") || isNetworkFileSystem(type) ||
           type.startsWith("fuse");
}

} // namespace

bool isMountedFolder(const QString& path) {
    struct stat info;
    return stat(encodePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

QStringList mountedDriveRoots() {
    std::vector<std::string> mountPoints;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        QString mountPoint = volume.rootPath();
        while (mountPoint.size() > 1 && mountPoint.endsWith(QChar(kSep)))
            mountPoint.chop(1);
        // Files mounted over files (as containers do) are no drives.
        if (mountPoint == QString(kSep) || !holdsUserFiles(volume) || !isMountedFolder(mountPoint))
            continue;
        mountPoints.push_back(encodePath(mountPoint));
    }
    std::sort(mountPoints.begin(), mountPoints.end());
    mountPoints.erase(std::unique(mountPoints.begin(), mountPoints.end()), mountPoints.end());
    QStringList roots{QString(kSep)};
    for (const std::string& mountPoint : mountPoints)
        roots << decodePath(mountPoint) + kSep;
    return roots;
}

} // namespace corvane
