#include "search/folder_walk.h"

#include "io/fd.h"
#include "io/folder.h"
#include "platform/error.h"
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace corvane {

namespace {

// What a failed open or read of a folder means for the walk.
enum class Failure {
    PassedOver, // vanished, no folder any more, another file system, may not be entered or read
    OutOfMemory,
    DriveLost, // the drive cannot be reached any more
    Other,
};

Failure failureOf(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP: // a link now where a folder was
    case EXDEV: // a mount point
    case ENAMETOOLONG:
    case EACCES:
    case EPERM:
        return Failure::PassedOver;
    case ENOMEM:
        return Failure::OutOfMemory;
    default:
        return meansDriveLost(error) ? Failure::DriveLost : Failure::Other;
    }
}

bool isText(const char* name) {
    for (const char* c = name; *c; ++c)
        if (static_cast<unsigned char>(*c) >= 0x80)
            return isUtf8(name);
    return true;
}

// Deep walks keep descriptors of the upper folders only, within a share of the open-file limit.
std::size_t openBudget() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 64;
    return std::clamp<std::size_t>(static_cast<std::size_t>(limit.rlim_cur) / 4, 1, 64);
}

// The mount a folder lies on: by mount id where the kernel tells it (so a bind mount is another
// mount), else by device.
struct Mount {
    std::uint64_t id = 0;
    dev_t device = 0;
    bool operator==(const Mount& other) const {
        return id != 0 && other.id != 0 ? id == other.id : device == other.device;
    }
};

bool examine(int at, const char* name, int flags, struct statx& info) {
    return statx(at, name, flags | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_MNT_ID, &info) == 0;
}

Mount mountOf(const struct statx& info) {
    return {(info.stx_mask & STATX_MNT_ID) ? info.stx_mnt_id : 0,
            makedev(info.stx_dev_major, info.stx_dev_minor)};
}

// Opens sub-folders for the walk of one root: a name that is a link, or the mount point of
// another file system, fails. Through openat2, which refuses both in the same call; where the
// kernel lacks it (or a sandbox forbids it), after a look at each name. Never with O_DIRECTORY,
// which would mount what an automount point stands for before it is refused: a name that is no
// folder any more opens, and fails to be read.
constexpr int kOpenFlags = O_PATH | O_CLOEXEC;
constexpr std::uint64_t kResolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV;

class Opener {
public:
    explicit Opener(int root) {
        if (s_openat2) {
            open_how how{};
            how.flags = kOpenFlags;
            how.resolve = kResolve;
            const long fd = syscall(SYS_openat2, root, ".", &how, sizeof how);
            if (fd >= 0)
                close(static_cast<int>(fd));
            else if (errno == ENOSYS || errno == EPERM)
                s_openat2 = false;
        }
        struct statx info;
        if (!s_openat2 && examine(root, "", AT_EMPTY_PATH, info))
            m_mount = mountOf(info);
    }

    // Opens `relative` (names separated by '/') below the folder `at`, a stretch at a time
    // when it is longer than the system takes at once.
    io::Fd open(int at, std::string_view relative) const {
        io::Fd stretch;
        while (relative.size() >= PATH_MAX) {
            const std::size_t end = relative.rfind('/', PATH_MAX - 2);
            if (end == std::string_view::npos || end == 0) {
                errno = ENAMETOOLONG;
                return {};
            }
            stretch = openStretch(stretch ? stretch.get() : at, relative.substr(0, end));
            if (!stretch)
                return {};
            relative.remove_prefix(end + 1);
        }
        return openStretch(stretch ? stretch.get() : at, relative);
    }

private:
    io::Fd openStretch(int at, std::string_view relative) const {
        if (s_openat2) {
            open_how how{};
            how.flags = kOpenFlags;
            how.resolve = kResolve;
            const std::string path(relative);
            return io::Fd(
                static_cast<int>(syscall(SYS_openat2, at, path.c_str(), &how, sizeof how)));
        }
        io::Fd folder;
        for (std::size_t from = 0; from <= relative.size();) {
            std::size_t end = relative.find('/', from);
            end = end == std::string_view::npos ? relative.size() : end;
            const std::string name(relative.substr(from, end - from));
            const int parent = folder ? folder.get() : at;
            struct statx info;
            if (!examine(parent, name.c_str(), AT_SYMLINK_NOFOLLOW, info))
                return {};
            if (!S_ISDIR(info.stx_mode) || !(mountOf(info) == m_mount)) {
                errno = S_ISLNK(info.stx_mode) ? ELOOP : S_ISDIR(info.stx_mode) ? EXDEV : ENOTDIR;
                return {};
            }
            folder.reset(openat(parent, name.c_str(), kOpenFlags | O_NOFOLLOW));
            if (!folder)
                return {};
            from = end + 1;
        }
        return folder;
    }

    static inline bool s_openat2 = true;
    Mount m_mount;
};

class Walk {
public:
    explicit Walk(FolderVisitor& visitor) : m_visitor(visitor), m_budget(openBudget()) {}

    // Walks the root `path`; false when the visitor ended the walk.
    bool root(const std::string& path);

private:
    struct Level {
        WalkedFolder folder;
        io::Fd fd;            // none past the budget
        std::size_t next = 0; // folder.folders[0, next) are still to be walked, the last first
        bool leftOut = false; // some of folder.folders were emptied: passed over
    };

    // Goes one step: into the next sub-folder of the deepest folder, or visits it.
    bool step();
    // Opens the sub-folder `name` of the deepest folder.
    io::Fd openSubFolder(const std::string& name) const;
    // Whether the deepest folder vanished.
    bool deepestVanished() const;
    // Reads the folder of `level` through `fd`: 0, or the errno of the failure.
    static int read(Level& level, int fd);
    // Ends the visit of the deepest folder, which failed to be read with `error`.
    void readFailed(int error);
    // The sub-folder of the deepest folder at `index` failed with `error`.
    void subFolderFailed(std::size_t index, int error);
    void reportFailure(const std::string& path, int error);

    FolderVisitor& m_visitor;
    std::size_t m_budget;
    std::vector<Level> m_levels;
    const Opener* m_opener = nullptr;
};

bool Walk::root(const std::string& path) {
    io::Result<io::Fd> opened = io::openPath(path, O_PATH | O_DIRECTORY);
    if (!opened)
        return true;
    io::Fd fd = std::move(opened).value();
    const Opener opener(fd.get());
    m_opener = &opener;
    m_levels.clear();
    m_levels.emplace_back();
    m_levels.back().folder.path = path;
    if (const int error = read(m_levels.back(), fd.get()); error != 0) {
        readFailed(error);
    } else {
        m_levels.back().fd = std::move(fd);
    }
    bool goOn = true;
    while (!m_levels.empty() && goOn) {
        try {
            goOn = step();
        } catch (const std::bad_alloc&) {
            readFailed(ENOMEM);
        }
    }
    m_levels.clear();
    m_opener = nullptr;
    return goOn;
}

bool Walk::step() {
    Level& deepest = m_levels.back();
    if (deepest.next == 0) {
        if (deepest.leftOut)
            std::erase(deepest.folder.folders, std::string());
        deepest.folder.fd = deepest.fd.get();
        const bool goOn = m_visitor.visit(deepest.folder);
        m_levels.pop_back();
        return goOn;
    }
    const std::size_t index = --deepest.next;
    const std::string& name = deepest.folder.folders[index];
    io::Fd fd = openSubFolder(name);
    if (!fd) {
        subFolderFailed(index, errno);
        return true;
    }
    Level child;
    child.folder.path = deepest.folder.path + name + '/';
    const int error = read(child, fd.get());
    if (m_levels.size() < m_budget)
        child.fd = std::move(fd);
    m_levels.push_back(std::move(child));
    if (error != 0)
        readFailed(error);
    return true;
}

io::Fd Walk::openSubFolder(const std::string& name) const {
    const Level& deepest = m_levels.back();
    if (deepest.fd)
        return m_opener->open(deepest.fd.get(), name);
    // Past the budget: below the deepest folder that is still open.
    const Level& anchor = m_levels[m_budget - 1];
    const std::string relative = deepest.folder.path.substr(anchor.folder.path.size()) + name;
    return m_opener->open(anchor.fd.get(), relative);
}

bool Walk::deepestVanished() const {
    const Level& deepest = m_levels.back();
    if (deepest.fd) {
        struct stat info;
        return fstat(deepest.fd.get(), &info) != 0 || info.st_nlink == 0;
    }
    if (m_levels.size() == 1)
        return false;
    const Level& anchor = m_levels[m_budget - 1];
    const std::string relative = deepest.folder.path.substr(anchor.folder.path.size());
    return !m_opener->open(anchor.fd.get(), relative) && errno == ENOENT;
}

int Walk::read(Level& level, int fd) {
    io::FolderReader reader(fd);
    if (!reader.valid())
        return reader.error();
    WalkedFolder& folder = level.folder;
    while (const dirent* entry = reader.next()) {
        if (!isText(entry->d_name))
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct statx info;
            if (!examine(reader.fd(), entry->d_name, AT_SYMLINK_NOFOLLOW, info))
                continue;
            type = S_ISDIR(info.stx_mode)   ? DT_DIR
                   : S_ISREG(info.stx_mode) ? DT_REG
                   : S_ISLNK(info.stx_mode) ? DT_LNK
                                            : DT_UNKNOWN;
        }
        if (type == DT_DIR)
            folder.folders.emplace_back(entry->d_name);
        else if (type == DT_REG)
            folder.files.emplace_back(entry->d_name);
        else if (type == DT_LNK)
            folder.links.emplace_back(entry->d_name);
    }
    if (reader.error() != 0)
        return reader.error();
    std::sort(folder.folders.begin(), folder.folders.end());
    level.next = folder.folders.size();
    return 0;
}

void Walk::readFailed(int error) {
    const std::string path = m_levels.back().folder.path;
    m_levels.pop_back();
    switch (failureOf(error)) {
    case Failure::PassedOver:
        return;
    case Failure::OutOfMemory:
        if (!m_levels.empty())
            m_levels.back().next = 0;
        return;
    case Failure::DriveLost:
    case Failure::Other:
        reportFailure(path, error);
        return;
    }
}

void Walk::subFolderFailed(std::size_t index, int error) {
    Level& deepest = m_levels.back();
    const std::string path = deepest.folder.path + deepest.folder.folders[index] + '/';
    switch (failureOf(error)) {
    case Failure::PassedOver:
        // No folder of this walk any more: its parent does not show it.
        deepest.folder.folders[index].clear();
        deepest.leftOut = true;
        // Gone with its parent: the parent's visit ends, without trying the others.
        if (error == ENOENT && deepestVanished())
            m_levels.pop_back();
        return;
    case Failure::OutOfMemory:
        deepest.next = 0;
        return;
    case Failure::DriveLost:
    case Failure::Other:
        reportFailure(path, error);
        return;
    }
}

void Walk::reportFailure(const std::string& path, int error) {
    m_visitor.failed(path, error);
    // A drive gone ends the walk of its root: said once, not for every folder left.
    if (failureOf(error) == Failure::DriveLost)
        m_levels.clear();
}

} // namespace

bool WalkedFolder::leadsToFile(const std::string& name) const {
    struct stat info;
    if (fd >= 0)
        return fstatat(fd, name.c_str(), &info, 0) == 0 && S_ISREG(info.st_mode);
    const io::Result<io::Fd> file = io::openPath(path + name, O_PATH);
    return file && fstat(file->get(), &info) == 0 && S_ISREG(info.st_mode);
}

void walkFolders(const std::vector<std::string>& roots, FolderVisitor& visitor) {
    Walk walk(visitor);
    for (const std::string& root : roots)
        if (!walk.root(root))
            return;
}

} // namespace corvane
