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

// Why a folder on the way to the cache's work folder cannot be used: kPermissionDenied when
// it cannot be written (the caller says that in its own words), else plain() says why, for the
// user's eyes.
Error refused(const QString& why) {
    return Error(kPathFileAccessError, {}, 0, why);
}

Error unwritable(int cause) {
    return Error(kPermissionDenied, {}, cause);
}

// Opens the folder `name` in `parent` (AT_FDCWD for a path), making it with `mode` when it is
// missing, and noting it in `made` then. Refuses a link, anything but a folder, and a folder
// of another user.
Result<io::Fd> openOwnFolder(int parent, const std::string& name, mode_t mode,
                             std::vector<WorkFolder::Made>& made) {
    if (::mkdirat(parent, name.c_str(), mode) == 0)
        made.push_back(
            {io::Fd(parent == AT_FDCWD ? -1 : ::fcntl(parent, F_DUPFD_CLOEXEC, 0)), name});
    else if (errno == EACCES || errno == EPERM || errno == EROFS)
        return unwritable(errno);
    else if (errno != EEXIST)
        return refused(QString::fromLocal8Bit(strerror(errno)));
    io::Fd folder(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info;
    if (!folder || ::fstat(folder.get(), &info) != 0) {
        const int error = errno;
        const bool link = ::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISLNK(info.st_mode);
        return refused(link ? QStringLiteral("it is a symbolic link")
                       : error == ENOTDIR || error == ELOOP
                           ? QStringLiteral("it is no folder")
                           : QString::fromLocal8Bit(strerror(error)));
    }
    if (info.st_uid != ::geteuid())
        return refused(QStringLiteral("it belongs to another user"));
    return folder;
}

} // namespace

void WorkFolder::keep() {
    m_kept = true;
    for (const Private& folder : m_private)
        if (::fchmod(folder.fd.get(), 0700) != 0)
            throw Error::fromSystem(errno, kPathNotFound, folder.path);
}

WorkFolder::~WorkFolder() {
    m_lock.release();
    m_folder.reset();
    // A run that did not start leaves no folder it made (those still empty). One that cannot
    // be removed had something put in it since (ENOTEMPTY), which is not ours to remove.
    if (!m_kept)
        for (auto made = m_made.rbegin(); made != m_made.rend(); ++made)
            (void)::unlinkat(made->parent ? made->parent.get() : AT_FDCWD, made->name.c_str(),
                             AT_REMOVEDIR);
}

io::Result<void, Notice> WorkFolder::open(const QString& programFolder) {
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

io::Result<void, Notice> WorkFolder::openInCache(const QString& programFolder) {
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache)) {
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty())
            return Notice{.kind = Notice::Kind::NoCacheFolder, .path = programFolder};
        cache = home + QStringLiteral("/.cache");
    }
    QString path = QDir::cleanPath(cache);
    // The cache folder as the user named it; below it, the program's own folders alone.
    Result<io::Fd> folder = openOwnFolder(AT_FDCWD, encodePath(path), 0700, m_made);
    for (const char* name : {"corvane", "work"}) {
        if (!folder)
            break;
        path += QChar(kSep) + QLatin1String(name);
        folder = openOwnFolder(folder->get(), name, 0700, m_made);
        if (folder)
            m_private.push_back({io::Fd(::fcntl(folder->get(), F_DUPFD_CLOEXEC, 0)), path});
    }
    if (folder && ::faccessat(folder->get(), ".", W_OK, AT_EACCESS) != 0)
        folder = unwritable(errno);
    if (folder) {
        m_path = path;
        m_folder = std::move(folder).value();
        return {};
    }
    if (folder.failure().number() != kPermissionDenied)
        return Notice{.kind = Notice::Kind::WorkFolderRefused,
                      .path = path,
                      .detail = folder.failure().plain()};
    return Notice{.kind = Notice::Kind::NoWritableFolder, .subject = programFolder, .path = path};
}

void WorkFolder::removeLeftovers() {
    // Leftovers that cannot be listed or removed stay for a later run to try again: this run
    // works in a folder of its own and does not depend on them.
    const io::Result<std::vector<std::string>> listed = io::listNames(m_folder.get());
    if (!listed)
        return;
    for (const std::string& name : *listed) {
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
        if (const io::Result<Lock::State> locked =
                lock.take(m_folder.get(), run + RunFolder::kLockSuffix);
            !locked || *locked != Lock::State::Taken)
            continue;
        if (::fstatat(m_folder.get(), run.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(info.st_mode) && info.st_uid == ::geteuid())
            (void)io::removeTree(m_folder.get(), run); // see above
    }
}

} // namespace corvane
