#include "lock.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

std::string folderLockName() {
    // One a user: another user's lock file, left by a run that was killed, blocks no one.
    return ".corvane-lock-" + std::to_string(::geteuid());
}

Lock::Lock(Lock&& other) noexcept
    : m_folder(other.m_folder), m_name(std::move(other.m_name)), m_file(std::move(other.m_file)) {}

Lock& Lock::operator=(Lock&& other) noexcept {
    if (this != &other) {
        release();
        m_folder = other.m_folder;
        m_name = std::move(other.m_name);
        m_file = std::move(other.m_file);
    }
    return *this;
}

io::Result<Lock::State> Lock::take(int folder, std::string name, bool fresh) {
    release();
    // A holder that lets go deletes the file: a name that leads elsewhere by the time the lock
    // is taken is tried again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        bool made = true;
        io::Fd file(::openat(folder, name.c_str(), flags | O_EXCL, 0600));
        if (!file && errno == EEXIST && !fresh) {
            made = false;
            file.reset(::openat(folder, name.c_str(), flags, 0600));
        }
        struct stat info, named;
        if (!file || ::fstat(file.get(), &info) != 0) // ELOOP: a link under the name
            return io::Failure{errno == ELOOP ? EPERM : errno, name};
        if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
            return io::Failure{EPERM, name};
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        if (::fcntl(file.get(), F_OFD_SETLK, &whole) != 0) {
            const int error = errno;
            if (made) // a lock file left unlocked is taken by the next one who asks
                (void)::unlinkat(folder, name.c_str(), 0);
            if (error == EAGAIN || error == EACCES)
                return State::Busy;
            return io::Failure{error, name};
        }
        if (::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameFile(info, named))
            continue;
        m_folder = folder;
        m_name = std::move(name);
        m_file = std::move(file);
        return State::Taken;
    }
    return io::Failure{EAGAIN, name};
}

void Lock::release() {
    if (!m_file)
        return;
    struct stat info, named;
    if (::fstat(m_file.get(), &info) == 0 &&
        ::fstatat(m_folder, m_name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        sameFile(info, named))
        // One that stays is no lock once let go: the next run takes it (and the work folder's
        // leftovers go with their run's lock).
        (void)::unlinkat(m_folder, m_name.c_str(), 0);
    m_file.reset();
}

} // namespace corvane
