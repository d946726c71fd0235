// Drives and folder listings on POSIX systems.

#include "platform/folders.h"

#include "drives.h"
#include "io/folder.h"
#include "platform/error.h"
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

namespace corvane {

namespace {

// What tells an unchanged folder from a changed one, and which mount it lies on.
struct Stamp {
    quint64 mountId = 0;
    quint64 device = 0;
    quint64 inode = 0;
    quint64 links = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    bool operator==(const Stamp&) const = default;
};

// File systems stamp changes with a clock that may lag the real one by a tick; a folder
// changed that recently may change again without a new stamp, so its listing is not reused.
constexpr qint64 kStampGranularityNs = 50'000'000;

constexpr size_t kMaxOpenFolders = 64;

} // namespace

struct DiskFolders::Listing {
    QString key;
    Stamp stamp;
    bool reusable = false;
    QStringList folders;
    QStringList files;
    io::Fd open; // kept open while the walk is inside the folder
};

namespace {

using Listing = DiskFolders::Listing;

// A folder path without trailing separators ("/" stays "/").
QString folderKey(const QString& folder) {
    qsizetype end = folder.size();
    while (end > 1 && folder[end - 1] == QChar(kSep))
        --end;
    return folder.left(end);
}

bool isAncestorOrSelf(const QString& ancestor, const QString& key) {
    if (!key.startsWith(ancestor))
        return false;
    return key.size() == ancestor.size() || ancestor.endsWith(QChar(kSep)) ||
           key[ancestor.size()] == QChar(kSep);
}

// Whether `key` lies directly inside `ancestor`, a folder above it.
bool isChildOf(const QString& key, const QString& ancestor) {
    const qsizetype parentLength = ancestor == QString(kSep) ? 0 : ancestor.size();
    return key.lastIndexOf(QChar(kSep)) == parentLength;
}

[[noreturn]] void raiseFor(int error, const QString& folder) {
    throw Error::fromSystem(error, kPathNotFound, folder);
}

// statx of `name` under the folder `dirFd` (an empty name: the folder itself); false when
// the entry cannot be examined.
bool examine(int dirFd, const char* name, int flags, struct statx& info) {
    const unsigned mask =
        STATX_TYPE | STATX_INO | STATX_NLINK | STATX_MTIME | STATX_CTIME | STATX_MNT_ID;
    return statx(dirFd, name, flags | AT_NO_AUTOMOUNT, mask, &info) == 0;
}

Stamp stampOf(const struct statx& info) {
    Stamp stamp;
    stamp.mountId = (info.stx_mask & STATX_MNT_ID) ? info.stx_mnt_id : 0;
    stamp.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    stamp.inode = info.stx_ino;
    stamp.links = info.stx_nlink;
    stamp.modifiedNs = info.stx_mtime.tv_sec * 1'000'000'000LL + info.stx_mtime.tv_nsec;
    stamp.changedNs = info.stx_ctime.tv_sec * 1'000'000'000LL + info.stx_ctime.tv_nsec;
    return stamp;
}

qint64 nowNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

// Same mount as the folder: where the kernel tells mount ids, by id (so bind mounts count
// as other mounts); elsewhere by device.
bool onSameMount(const Stamp& entry, const Stamp& folder) {
    if (entry.mountId != 0 && folder.mountId != 0)
        return entry.mountId == folder.mountId;
    return entry.device == folder.device;
}

enum class EntryKind { Other, Folder, File };

EntryKind kindOf(int dirFd, const dirent& entry, const Stamp& folder) {
    struct statx info;
    switch (entry.d_type) {
    case DT_REG:
        return EntryKind::File;
    case DT_DIR:
    case DT_UNKNOWN:
        if (!examine(dirFd, entry.d_name, AT_SYMLINK_NOFOLLOW, info))
            return EntryKind::Other;
        if (S_ISDIR(info.stx_mode))
            return onSameMount(stampOf(info), folder) ? EntryKind::Folder : EntryKind::Other;
        if (S_ISREG(info.stx_mode))
            return EntryKind::File;
        if (!S_ISLNK(info.stx_mode))
            return EntryKind::Other;
        [[fallthrough]];
    case DT_LNK:
        // A link to a file lists as that file; a link to a folder is never entered.
        if (examine(dirFd, entry.d_name, 0, info) && S_ISREG(info.stx_mode))
            return EntryKind::File;
        return EntryKind::Other;
    default:
        return EntryKind::Other;
    }
}

// The names in byte order, without those that are not valid UTF-8: they could not be shown.
QStringList decodedInByteOrder(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end());
    QStringList decoded;
    decoded.reserve(qsizetype(names.size()));
    for (const std::string& name : names)
        if (isUtf8(name))
            decoded << decodePath(name);
    return decoded;
}

// The listing of `key`, opened through `parent` (the open folder above it) when there is one.
Listing listFolder(const QString& key, const io::Fd* parent) {
    const qint64 readStart = nowNs();
    io::Fd folder;
    if (parent && parent->valid()) {
        const std::string name = encodePath(key.mid(key.lastIndexOf(QChar(kSep)) + 1));
        folder.reset(openat(parent->get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    } else {
        folder.reset(open(encodePath(key).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    struct statx self;
    if (!folder || !examine(folder.get(), "", AT_EMPTY_PATH, self))
        raiseFor(errno, key);
    Listing listing{key, stampOf(self), false, {}, {}, std::move(folder)};
    listing.reusable = listing.stamp.changedNs + kStampGranularityNs < readStart;
    io::FolderReader reader(listing.open.get());
    if (!reader.valid())
        raiseFor(reader.error(), key);
    try {
        std::vector<std::string> folders, files;
        while (const dirent* entry = reader.next()) {
            switch (kindOf(reader.fd(), *entry, listing.stamp)) {
            case EntryKind::Folder:
                folders.emplace_back(entry->d_name);
                break;
            case EntryKind::File:
                files.emplace_back(entry->d_name);
                break;
            case EntryKind::Other:
                break;
            }
        }
        if (reader.error() != 0)
            raiseFor(reader.error(), key);
        listing.folders = decodedInByteOrder(folders);
        listing.files = decodedInByteOrder(files);
    } catch (const std::bad_alloc&) {
        throw Error(kOutOfMemory, key);
    }
    return listing;
}

bool isUnchanged(const Listing& listing) {
    if (!listing.reusable)
        return false;
    struct statx info;
    const bool examined = listing.open
                              ? examine(listing.open.get(), "", AT_EMPTY_PATH, info)
                              : examine(AT_FDCWD, encodePath(listing.key).c_str(), 0, info);
    return examined && stampOf(info) == listing.stamp;
}

} // namespace

DiskFolders::DiskFolders(std::optional<QStringList> roots) : m_roots(std::move(roots)) {}
DiskFolders::~DiskFolders() = default;

const DiskFolders::Listing& DiskFolders::read(const QString& folder) {
    const QString key = folderKey(folder);
    if (!key.startsWith(QChar(kSep)))
        throw Error(kPathNotFound, folder);
    while (!m_chain.empty() && !isAncestorOrSelf(m_chain.back()->key, key))
        m_chain.pop_back();
    if (!m_chain.empty() && m_chain.back()->key == key) {
        if (isUnchanged(*m_chain.back()))
            return *m_chain.back();
        m_chain.pop_back();
    }
    const bool belowLast = !m_chain.empty() && isChildOf(key, m_chain.back()->key);
    auto listing =
        std::make_unique<Listing>(listFolder(key, belowLast ? &m_chain.back()->open : nullptr));
    // Deep walks keep only the upper folders open, within the limit of open files.
    if (m_chain.size() >= kMaxOpenFolders)
        listing->open.reset();
    m_chain.push_back(std::move(listing));
    return *m_chain.back();
}

QStringList DiskFolders::driveRoots() {
    return m_roots ? *m_roots : mountedDriveRoots();
}

void DiskFolders::probeDrive(const QString& root) {
    if (!isMountedFolder(folderKey(root)))
        throw Error(kDeviceUnavailable, root);
}

QStringList DiskFolders::subFolders(const QString& folder) {
    return read(folder).folders;
}

QStringList DiskFolders::filesMatching(const QString& folder, const QString& pattern) {
    QStringList matching;
    for (const QString& name : read(folder).files)
        if (matchesPattern(name, pattern))
            matching << name;
    return matching;
}

void DiskFolders::release() {
    m_chain.clear();
}

} // namespace corvane
