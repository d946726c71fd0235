#include "io/folder.h"

#include <cerrno>
#include <random>

#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::io {

namespace {

constexpr std::size_t kRandomLength = 6;
constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace

FolderReader::FolderReader(int folder) {
    Fd readable(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    m_dir = readable ? ::fdopendir(readable.get()) : nullptr;
    if (m_dir)
        readable.release();
    else
        m_error = errno;
}

FolderReader::~FolderReader() {
    if (m_dir) // a folder only read: nothing is lost when closing it fails
        (void)::closedir(m_dir);
}

int FolderReader::fd() const {
    return m_dir ? ::dirfd(m_dir) : -1;
}

const dirent* FolderReader::next() {
    if (!m_dir)
        return nullptr;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(m_dir);
        if (!entry) {
            m_error = errno;
            return nullptr;
        }
        if (!isDotOrDotDot(entry->d_name))
            return entry;
    }
}

Result<std::vector<std::string>> listNames(int folder) {
    std::vector<std::string> names;
    FolderReader reader(folder);
    while (const dirent* entry = reader.next())
        names.emplace_back(entry->d_name);
    if (reader.error() != 0)
        return Failure{reader.error(), {}};
    return names;
}

namespace {

// openPath, with errno set when the Fd is invalid.
Fd openLongPath(const std::string& path, int flags, mode_t mode) {
    Fd whole(::open(path.c_str(), flags | O_CLOEXEC, mode));
    if (whole || errno != ENAMETOOLONG)
        return whole;
    const bool absolute = path.front() == '/';
    Fd folder(::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (std::size_t at = absolute ? 1 : 0; folder;) {
        if (path.size() - at < PATH_MAX)
            return Fd(::openat(folder.get(), path.c_str() + at, flags | O_CLOEXEC, mode));
        // The longest stretch of whole names that the system takes.
        const std::size_t end = path.rfind('/', at + PATH_MAX - 2);
        if (end == std::string::npos || end <= at) {
            errno = ENAMETOOLONG;
            return Fd();
        }
        folder.reset(::openat(folder.get(), path.substr(at, end - at).c_str(),
                              O_PATH | O_DIRECTORY | O_CLOEXEC));
        at = end + 1;
    }
    return Fd();
}

} // namespace

Result<Fd> openPath(const std::string& path, int flags, mode_t mode) {
    Fd file = openLongPath(path, flags, mode);
    if (!file)
        return lastFailure(path);
    return file;
}

Result<void> removeTree(int parent, const std::string& name) {
    struct stat info;
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Result<void>() : lastFailure(name);
    if (!S_ISDIR(info.st_mode))
        return ::unlinkat(parent, name.c_str(), 0) == 0 || errno == ENOENT ? Result<void>()
                                                                           : lastFailure(name);
    Result<void> first;
    {
        const Fd folder(
            ::openat(parent, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder)
            return lastFailure(name);
        // A folder of one's own that may not be read or changed is made so first (through the
        // descriptor: the name might lead elsewhere by now). Its failure needs no report of its
        // own: what then cannot be listed or removed below fails.
        if ((info.st_mode & S_IRWXU) != S_IRWXU)
            (void)::chmod(("/proc/self/fd/" + std::to_string(folder.get())).c_str(), S_IRWXU);
        // What could be listed goes even when the listing was cut short.
        FolderReader reader(folder.get());
        std::vector<std::string> names;
        while (const dirent* entry = reader.next())
            names.emplace_back(entry->d_name);
        if (reader.error() != 0)
            first = Failure{reader.error(), name};
        for (const std::string& entry : names)
            if (Result<void> removed = removeTree(folder.get(), entry); !removed && first)
                first = Failure{removed.failure().error, name + "/" + removed.failure().what};
    }
    if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT && first)
        first = lastFailure(name);
    return first;
}

std::string randomLetters(std::size_t count) {
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string letters;
    for (std::size_t i = 0; i < count; ++i)
        letters += kLetters[pick(random)];
    return letters;
}

Result<Fd> makeFolder(int parent, const std::string& name, mode_t mode) {
    if (::mkdirat(parent, name.c_str(), mode) != 0)
        return lastFailure(name);
    // mkdir applies the umask; the folder gets `mode` as it is.
    Fd made(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (made && ::fchmod(made.get(), mode) == 0)
        return made;
    const Failure failure = lastFailure(name);
    // The empty folder just made goes again; should that fail too, the first failure is the
    // one to tell.
    (void)::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
    return failure;
}

std::string uniqueName(const std::string& prefix) {
    return prefix + randomLetters(kRandomLength);
}

bool isUniqueName(const std::string& name, const std::string& prefix) {
    if (name.size() != prefix.size() + kRandomLength || name.compare(0, prefix.size(), prefix))
        return false;
    return name.find_first_not_of(kLetters, prefix.size()) == std::string::npos;
}

} // namespace corvane::io
