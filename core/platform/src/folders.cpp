// Drives and folder listings on POSIX systems.

#include "platform/folders.h"

#include "io/fd.h"
#include "io/tree.h"
#include "platform/drives.h"
#include "platform/error.h"
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace corvane {

namespace {

// Which mount a folder lies on.
struct Mount {
    quint64 id = 0; // 0 where the kernel does not tell mount ids
    quint64 device = 0;
};

// Deep walks keep only the upper folders open, within a share of the open-file limit.
size_t maxOpenFolders() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 64;
    return std::clamp<size_t>(size_t(limit.rlim_cur) / 4, 1, 64);
}

} // namespace

// A listing is read once and kept while the walk is inside the folder; it is read again only
// when opening one of its sub-folders failed, which tells that it changed (or vanished).
struct DiskFolders::Listing {
    enum class State { Read, Changed, Vanished };
    QString key;
    Mount mount;
    State state = State::Read;
    QStringList folders;            // in byte order
    std::vector<std::string> files; // ordinary files, in byte order, as on disk
    std::vector<std::string> links; // symbolic links: files when they lead to one
    io::Fd open;                    // kept open while the walk is inside the folder
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

bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
}

// The bytes of a name or path: most are plain text, which needs none of encodePath's care.
std::string bytesOf(QStringView text) {
    const bool plain = std::none_of(text.begin(), text.end(), [](QChar c) {
        return c.isSurrogate(); // bytes that are no UTF-8 travel as lone surrogates
    });
    return plain ? text.toUtf8().toStdString() : encodePath(text.toString());
}

// `name` as text; false for names that are not valid UTF-8: they could not be shown.
bool decoded(const std::string& name, QString& text) {
    if (isAscii(name))
        text = QString::fromLatin1(name.data(), qsizetype(name.size()));
    else if (isUtf8(name))
        text = QString::fromUtf8(name.data(), qsizetype(name.size()));
    else
        return false;
    return true;
}

bool examine(int dirFd, const char* name, int flags, unsigned mask, struct statx& info) {
    return statx(dirFd, name, flags | AT_NO_AUTOMOUNT, mask, &info) == 0;
}

Mount mountOf(const struct statx& info) {
    return {(info.stx_mask & STATX_MNT_ID) ? info.stx_mnt_id : 0,
            makedev(info.stx_dev_major, info.stx_dev_minor)};
}

// Same mount: where the kernel tells mount ids, by id (so bind mounts count as other mounts);
// elsewhere by device.
bool onSameMount(const Mount& entry, const Mount& folder) {
    if (entry.id != 0 && folder.id != 0)
        return entry.id == folder.id;
    return entry.device == folder.device;
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Hands each entry of the open folder `fd` but "." and ".." to `visit`; 0, or the errno that
// cut the listing short (a listing cut short is an error, never a shorter folder).
template <typename Visit> int forEachEntry(int fd, Visit&& visit) {
    alignas(dirent64) char buffer[32768];
    for (;;) {
        const ssize_t got = getdents64(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0 ? 0 : errno;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            if (!isDotOrDotDot(entry->d_name))
                visit(*entry);
        }
    }
}

// Sorts an entry of `listing` (open as `fd`) into its folders, files or links. Folders of other
// mounts and everything that is neither folder, file nor link are left out.
void sortEntry(Listing& listing, int fd, const dirent64& entry, std::vector<std::string>& folders) {
    struct statx info;
    const unsigned mask = STATX_TYPE | STATX_MNT_ID;
    switch (entry.d_type) {
    case DT_REG:
        listing.files.emplace_back(entry.d_name);
        return;
    case DT_LNK:
        listing.links.emplace_back(entry.d_name);
        return;
    case DT_DIR:
    case DT_UNKNOWN:
        if (!examine(fd, entry.d_name, AT_SYMLINK_NOFOLLOW, mask, info))
            return;
        if (S_ISDIR(info.stx_mode) && onSameMount(mountOf(info), listing.mount))
            folders.emplace_back(entry.d_name);
        else if (S_ISREG(info.stx_mode))
            listing.files.emplace_back(entry.d_name);
        else if (S_ISLNK(info.stx_mode))
            listing.links.emplace_back(entry.d_name);
        return;
    default:
        return;
    }
}

// Opens `key`, through `parent` (the listing of the folder above it) when there is one. A
// sub-folder that is not there tells that its parent changed, or vanished with it.
io::Fd openFolder(const QString& key, Listing* parent) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    io::Fd folder;
    if (parent && parent->open) {
        const QStringView name = QStringView(key).mid(key.lastIndexOf(QChar(kSep)) + 1);
        folder.reset(openat(parent->open.get(), bytesOf(name).c_str(), flags));
    } else {
        folder.reset(open(bytesOf(key).c_str(), flags));
    }
    if (!folder && errno == ENOENT && parent) {
        struct stat info;
        const bool examined = parent->open ? fstat(parent->open.get(), &info) == 0
                                           : stat(bytesOf(parent->key).c_str(), &info) == 0;
        const bool vanished = !examined || info.st_nlink == 0;
        parent->state = vanished ? Listing::State::Vanished : Listing::State::Changed;
        errno = ENOENT;
    }
    return folder;
}

// The listing of `key`, opened through `parent` when there is one.
std::unique_ptr<Listing> listFolder(const QString& key, Listing* parent) {
    io::Fd folder = openFolder(key, parent);
    if (!folder)
        raiseFor(errno, key);
    auto listing = std::make_unique<Listing>();
    listing->key = key;
    if (parent) {
        listing->mount = parent->mount; // its folders are all on the parent's mount
    } else {
        struct statx self;
        if (!examine(folder.get(), "", AT_EMPTY_PATH, STATX_TYPE | STATX_MNT_ID, self))
            raiseFor(errno, key);
        listing->mount = mountOf(self);
    }
    try {
        std::vector<std::string> folders;
        const int error = forEachEntry(folder.get(), [&](const dirent64& entry) {
            sortEntry(*listing, folder.get(), entry, folders);
        });
        if (error != 0)
            raiseFor(error, key);
        std::sort(folders.begin(), folders.end());
        for (const std::string& name : folders)
            if (QString text; decoded(name, text))
                listing->folders << text;
        std::sort(listing->files.begin(), listing->files.end());
    } catch (const std::bad_alloc&) {
        throw Error(kOutOfMemory, key);
    }
    listing->open = std::move(folder);
    return listing;
}

// Whether the link `name` in `listing` leads to an ordinary file.
bool leadsToFile(const Listing& listing, const std::string& name) {
    struct statx info;
    const bool examined =
        listing.open
            ? examine(listing.open.get(), name.c_str(), 0, STATX_TYPE, info)
            : examine(AT_FDCWD, (bytesOf(listing.key) + '/' + name).c_str(), 0, STATX_TYPE, info);
    return examined && S_ISREG(info.stx_mode);
}

// The literal end of `pattern` after its last '*' when the rest is a '*' and plain ASCII: a
// name must end so to match, and most names are told apart by that alone.
std::optional<std::string> literalTail(const QString& pattern) {
    if (!pattern.startsWith(u'*') || pattern.indexOf(u'*', 1) >= 0 || pattern.contains(u'?'))
        return std::nullopt;
    const QString tail = pattern.mid(1);
    if (!std::all_of(tail.begin(), tail.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return std::nullopt;
    return io::lowerAscii(tail.toStdString());
}

bool endsWithIgnoringAsciiCase(const std::string& name, const std::string& lowerTail) {
    if (name.size() < lowerTail.size())
        return false;
    const size_t from = name.size() - lowerTail.size();
    for (size_t i = 0; i < lowerTail.size(); ++i) {
        const char c = name[from + i];
        if ((c >= 'A' && c <= 'Z' ? char(c + 32) : c) != lowerTail[i])
            return false;
    }
    return true;
}

} // namespace

DiskFolders::DiskFolders(std::optional<QStringList> roots)
    : m_roots(std::move(roots)), m_maxOpen(maxOpenFolders()) {}
DiskFolders::~DiskFolders() = default;

const DiskFolders::Listing& DiskFolders::read(const QString& folder) {
    const QString key = folderKey(folder);
    if (!key.startsWith(QChar(kSep)))
        throw Error(kPathNotFound, folder);
    while (!m_chain.empty() && !isAncestorOrSelf(m_chain.back()->key, key))
        m_chain.pop_back();
    if (!m_chain.empty() && m_chain.back()->key == key) {
        switch (m_chain.back()->state) {
        case Listing::State::Read:
            return *m_chain.back();
        case Listing::State::Vanished:
            m_chain.pop_back();
            raiseFor(ENOENT, key);
        case Listing::State::Changed:
            m_chain.pop_back();
            break;
        }
    }
    const bool belowLast = !m_chain.empty() && isChildOf(key, m_chain.back()->key);
    auto listing = listFolder(key, belowLast ? m_chain.back().get() : nullptr);
    if (m_chain.size() >= m_maxOpen)
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
    const Listing& listing = read(folder);
    const std::optional<std::string> tail = literalTail(pattern);
    std::vector<std::string> names;
    auto consider = [&](const std::string& name, bool link) {
        QString text;
        if ((tail && !endsWithIgnoringAsciiCase(name, *tail)) || !decoded(name, text) ||
            !matchesPattern(text, pattern) || (link && !leadsToFile(listing, name)))
            return;
        names.push_back(name);
    };
    for (const std::string& name : listing.files)
        consider(name, false);
    for (const std::string& name : listing.links)
        consider(name, true);
    std::sort(names.begin(), names.end());
    QStringList matching;
    for (const std::string& name : names) {
        QString text;
        decoded(name, text);
        matching << text;
    }
    return matching;
}

void DiskFolders::release() {
    m_chain.clear();
}

} // namespace corvane
