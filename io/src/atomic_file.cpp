#include "io/atomic_file.h"

#include "io/folder.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::io {

namespace {

constexpr std::string_view kMarker = ".tmp-";
constexpr std::size_t kRandomLength = 6;

} // namespace

std::string temporaryName(const std::string& name) {
    return "." + name + std::string(kMarker) + randomLetters(kRandomLength);
}

Result<void> AtomicFile::create(int folder, std::string name, mode_t mode) {
    discard();
    m_folder = folder;
    m_name = std::move(name);
    // An unnamed file is linked in through /proc: without it, none is made.
    static const bool linkable = ::access("/proc/self/fd", X_OK) == 0;
    if (linkable)
        m_fd.reset(::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    else
        errno = EOPNOTSUPP;
    if (!m_fd) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return lastFailure(m_name);
        // No unnamed files here: write under the temporary name from the start.
        for (int attempt = 0; attempt < 100 && !m_fd; ++attempt) {
            m_temporary = temporaryName(m_name);
            m_fd.reset(::openat(folder, m_temporary.c_str(),
                                O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, mode));
            if (!m_fd && errno != EEXIST)
                break;
        }
        if (!m_fd) {
            m_temporary.clear();
            return lastFailure(m_name);
        }
    }
    // O_TMPFILE and O_CREAT apply the umask; the caller asked for `mode` as it is. (The umask
    // is read once: nothing here changes it.)
    static const mode_t mask = [] {
        const mode_t current = ::umask(0);
        ::umask(current);
        return current;
    }();
    if ((mode & mask) != 0 && ::fchmod(m_fd.get(), mode) != 0) {
        const Failure failure = lastFailure(m_name);
        discard();
        return failure;
    }
    return {};
}

bool AtomicFile::linkUnder(const std::string& temporary) {
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd.get());
    return ::linkat(AT_FDCWD, self.c_str(), m_folder, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

Result<void> AtomicFile::commit(Durability durability, Replace replace) {
    if (!m_fd)
        return Failure{EBADF, m_name};
    if (durability == Durability::Flush && ::fsync(m_fd.get()) != 0)
        return lastFailure(m_name);
    if (m_temporary.empty()) {
        // Linked straight under its name when nothing has it: no temporary name at all.
        if (replace == Replace::RemoveFirst && ::unlinkat(m_folder, m_name.c_str(), 0) != 0 &&
            errno != ENOENT)
            return lastFailure(m_name);
        if (linkUnder(m_name)) {
            m_fd.reset();
            return {};
        }
        if (errno != EEXIST)
            return lastFailure(m_name);
    }
    while (m_temporary.empty()) {
        const std::string temporary = temporaryName(m_name);
        if (linkUnder(temporary)) {
            m_temporary = temporary;
        } else if (errno != EEXIST) {
            return lastFailure(m_name);
        }
    }
    if (::renameat(m_folder, m_temporary.c_str(), m_folder, m_name.c_str()) != 0)
        return lastFailure(m_name);
    m_temporary.clear();
    m_fd.reset();
    return {};
}

void AtomicFile::discard() {
    // A temporary name that cannot be removed stays; it is one no other file has, and the
    // caller is already reporting why the file was dropped.
    if (!m_temporary.empty())
        (void)::unlinkat(m_folder, m_temporary.c_str(), 0);
    m_temporary.clear();
    m_fd.reset();
}

} // namespace corvane::io
