#include "work_folder.h"

#include "io/folder.h"
#include "platform/files.h"
#include "run_folder.h"

#include <QDir>

#include <array>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

// Folders of the system, where installed programs live: nothing of the user's is made there.
bool isSystemFolder(const QString& path) {
    static const std::array<QString, 11> systemFolders = {
        QStringLiteral("/usr"),     QStringLiteral("/opt"), QStringLiteral("/bin"),
        QStringLiteral("/sbin"),    QStringLiteral("/lib"), QStringLiteral("/lib32"),
        QStringLiteral("/lib64"),   QStringLiteral("/etc"), QStringLiteral("/snap"),
        QStringLiteral("/var/lib"), QStringLiteral("/app")};
    for (const QString& folder : systemFolders)
        if (path == folder || path.startsWith(folder + u'/'))
            return true;
    return false;
}

// Why a folder on the way to the cache's work folder cannot be used: for the user's eyes, or
// empty when it cannot be written (the caller says that in its own words).
struct Refusal {
    bool refused = false;
    QString why;
};

// Opens the folder `name` in `parent` (AT_FDCWD for a path), making it with `mode` when it is
// missing, and noting it in `made` then. Refuses a link, anything but a folder, and a folder
// of another user.
io::Fd openOwnFolder(int parent, const std::string& name, mode_t mode, Refusal& refusal,
                     std::vector<WorkFolder::Made>& made) {
    refusal = {true, {}};
    if (::mkdirat(parent, name.c_str(), mode) == 0)
        made.push_back(
            {io::Fd(parent == AT_FDCWD ? -1 : ::fcntl(parent, F_DUPFD_CLOEXEC, 0)), name});
    else if (errno != EEXIST) {
        if (errno != EACCES && errno != EPERM && errno != EROFS)
            refusal.why = QString::fromLocal8Bit(strerror(errno));
        return io::Fd();
    }
    io::Fd folder(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info;
    if (!folder || ::fstat(folder.get(), &info) != 0) {
        const int error = errno;
        const bool link = ::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISLNK(info.st_mode);
        refusal.why = link ? QStringLiteral("it is a symbolic link")
                      : error == ENOTDIR || error == ELOOP
                          ? QStringLiteral("it is no folder")
                          : QString::fromLocal8Bit(strerror(error));
        return io::Fd();
    }
    if (info.st_uid != ::geteuid()) {
        refusal.why = QStringLiteral("it belongs to another user");
        return io::Fd();
    }
    refusal = {};
    return folder;
}

} // namespace

void WorkFolder::keep() {
    m_kept = true;
    for (const io::Fd& folder : m_private)
        ::fchmod(folder.get(), 0700);
}

WorkFolder::~WorkFolder() {
    m_lock.release();
    m_folder.reset();
    // A run that did not start leaves no folder it made (those still empty).
    if (!m_kept)
        for (auto made = m_made.rbegin(); made != m_made.rend(); ++made)
            ::unlinkat(made->parent ? made->parent.get() : AT_FDCWD, made->name.c_str(),
                       AT_REMOVEDIR);
}

std::optional<Notice> WorkFolder::open(const QString& programFolder) {
    io::Fd program(::open(encodePath(programFolder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info;
    // A folder that others may change is no place to work in, even the user's own.
    if (program && ::fstat(program.get(), &info) == 0 && info.st_uid == ::geteuid() &&
        (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
        ::faccessat(program.get(), ".", W_OK, AT_EACCESS) == 0 && !isSystemFolder(programFolder)) {
        m_path = programFolder;
        m_folder = std::move(program);
        return {};
    }
    return openInCache(programFolder);
}

std::optional<Notice> WorkFolder::openInCache(const QString& programFolder) {
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache)) {
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty())
            return Notice{.kind = Notice::Kind::NoCacheFolder, .path = programFolder};
        cache = home + QStringLiteral("/.cache");
    }
    QString path = QDir::cleanPath(cache);
    Refusal refusal;
    // The cache folder as the user named it; below it, the program's own folders alone.
    io::Fd folder = openOwnFolder(AT_FDCWD, encodePath(path), 0700, refusal, m_made);
    for (const char* name : {"corvane", "work"}) {
        if (!folder)
            break;
        path += QChar(kSep) + QLatin1String(name);
        folder = openOwnFolder(folder.get(), name, 0700, refusal, m_made);
        if (folder)
            m_private.emplace_back(::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
    }
    if (folder && ::faccessat(folder.get(), ".", W_OK, AT_EACCESS) != 0)
        refusal = {true, {}};
    if (!refusal.refused) {
        m_path = path;
        m_folder = std::move(folder);
        return {};
    }
    if (!refusal.why.isEmpty())
        return Notice{.kind = Notice::Kind::WorkFolderRefused, .path = path, .detail = refusal.why};
    return Notice{.kind = Notice::Kind::NoWritableFolder, .subject = programFolder, .path = path};
}

void WorkFolder::removeLeftovers() {
    std::vector<std::string> names;
    io::listNames(m_folder.get(), names);
    for (const std::string& name : names) {
        // A run's folder, or its lock file alone (the run was killed before it made the folder,
        // or after it removed it); either goes only with the lock, which a run holds throughout.
        const std::string run = name.ends_with(RunFolder::kLockSuffix)
                                    ? name.substr(0, name.size() - RunFolder::kLockSuffix.size())
                                    : name;
        struct stat info;
        if (!io::isUniqueName(run, RunFolder::kPrefix) ||
            ::fstatat(m_folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            info.st_uid != ::geteuid() ||
            (name == run ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)))
            continue;
        Lock lock;
        if (lock.take(m_folder.get(), run + RunFolder::kLockSuffix) != Lock::Result::Taken)
            continue;
        if (::fstatat(m_folder.get(), run.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(info.st_mode) && info.st_uid == ::geteuid())
            io::removeTree(m_folder.get(), run);
    }
}

} // namespace corvane
