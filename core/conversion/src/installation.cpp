#include "installation.h"

#include "io/folder.h"
#include "io/rw.h"
#include "platform/error.h"
#include "platform/files.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

const std::string kPrefix = ".corvane-install-";
// What a swap emulated without RENAME_EXCHANGE keeps of the old archive meanwhile.
const std::string kAside = ".old";

struct Swap {
    std::string name;
    unsigned long long file; // the new archive's inode number
};

bool exists(int folder, const std::string& name, struct stat* info = nullptr) {
    struct stat own;
    return ::fstatat(folder, name.c_str(), info ? info : &own, AT_SYMLINK_NOFOLLOW) == 0;
}

// A regular file of this user: the only kind of name the installation removes, but for what
// it swapped out of a target's place itself (a link, say).
bool isOwnFile(int folder, const std::string& name, bool anyKind = false) {
    struct stat info;
    return exists(folder, name, &info) &&
           (anyKind ? !S_ISDIR(info.st_mode) : S_ISREG(info.st_mode)) && info.st_uid == ::geteuid();
}

// Swaps the files under `staged` and `target`: at every moment each name holds one of them.
// Fails with the errno and `target`. Where the file system cannot exchange names, the old file
// is linked aside first, then the new one renamed over it, then the old one renamed to `staged`.
io::Result<void> exchange(int folder, const std::string& staged, const std::string& target) {
    if (::renameat2(folder, staged.c_str(), folder, target.c_str(), RENAME_EXCHANGE) == 0)
        return {};
    if (errno != EINVAL)
        return io::lastFailure(target);
    const std::string aside = staged + kAside;
    if (::linkat(folder, target.c_str(), folder, aside.c_str(), 0) != 0)
        return io::lastFailure(target);
    if (::renameat(folder, staged.c_str(), folder, target.c_str()) != 0) {
        const io::Failure failure = io::lastFailure(target);
        // A second name of the old archive, under a name of the run's that recover() removes
        // should this fail.
        (void)::unlinkat(folder, aside.c_str(), 0);
        return failure;
    }
    if (::renameat(folder, aside.c_str(), folder, staged.c_str()) != 0)
        return io::lastFailure(target);
    return {};
}

// Renames `from` to `to`, where nothing may be; fails with the errno and `to`.
io::Result<void> moveNew(int folder, const std::string& from, const std::string& to) {
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL || ::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0)
        return io::lastFailure(to);
    // Not moved while `from` still holds the file.
    if (::unlinkat(folder, from.c_str(), 0) != 0)
        return io::lastFailure(to);
    return {};
}

// Puts back, last first, every target of `swaps` that holds its new archive: the old one from
// under the run's name, or, where there was none, the new one moved there. Fails with the
// errno and the target that could not be put back.
io::Result<void> undoSwaps(int folder, const std::string& id, const std::vector<Swap>& swaps) {
    for (auto swap = swaps.rbegin(); swap != swaps.rend(); ++swap) {
        struct stat target;
        if (!exists(folder, swap->name, &target) || target.st_ino != swap->file)
            continue;
        const std::string staged = id + "." + swap->name, aside = staged + kAside;
        io::Result<void> undone;
        if (exists(folder, staged))
            undone = exchange(folder, staged, swap->name);
        else if (!exists(folder, aside)) // there was no old one: the new one goes aside
            undone = moveNew(folder, swap->name, staged);
        else if (::renameat(folder, aside.c_str(), folder, swap->name.c_str()) != 0)
            undone = io::lastFailure(); // killed inside an emulated exchange: the old one back
        if (!undone)
            return io::Failure{undone.failure().error, swap->name};
    }
    return {};
}

// The swaps a journal lists, one "inode name" a line.
std::vector<Swap> readJournal(int folder, const std::string& name) {
    std::vector<Swap> swaps;
    const io::Fd file(
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    char text[4096];
    const ssize_t length = file ? ::read(file.get(), text, sizeof text - 1) : -1;
    if (length <= 0)
        return swaps;
    text[length] = '\0';
    unsigned long long inode = 0;
    char archive[256];
    int used = 0;
    for (const char* at = text; std::sscanf(at, "%llu %255s%n", &inode, archive, &used) == 2;
         at += used)
        swaps.push_back({archive, inode});
    return swaps;
}

} // namespace

Installation::Installation(int runFolder, int qfbastion, const QString& qfbastionPath)
    : m_run(runFolder), m_qfbastion(qfbastion), m_path(qfbastionPath) {
    do
        m_id = io::uniqueName(kPrefix);
    while (exists(m_qfbastion, m_id));
}

Installation::~Installation() {
    // What could not be put back stays, with its journal, for the next run.
    if (!m_putBack)
        return;
    for (const std::string& name : m_placed)
        for (const std::string& left : {staged(name), staged(name) + kAside})
            if (isOwnFile(m_qfbastion, left, m_done)) // else the next run's recover() tries
                (void)::unlinkat(m_qfbastion, left.c_str(), 0);
}

void Installation::raise(int error, const std::string& name) const {
    throw Error::fromSystem(error, kPathNotFound, m_path + QChar(kSep) + decodePath(name));
}

Result<void> Installation::checkReplaceable(int qfbastion, const std::string& name) {
    const auto refused = [](const QString& why) { return Error(kPathFileAccessError, {}, 0, why); };
    struct stat target, folder;
    if (!exists(qfbastion, name, &target))
        return {};
    if (S_ISDIR(target.st_mode))
        return refused(QStringLiteral("is a folder"));
    if (S_ISREG(target.st_mode) && isReadOnly(target))
        return refused(QStringLiteral("is read-only"));
    const io::Fd file(
        S_ISREG(target.st_mode)
            ? ::openat(qfbastion, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
            : -1);
    int flags = 0;
    if (file && ::ioctl(file.get(), FS_IOC_GETFLAGS, &flags) == 0 &&
        (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)))
        return refused(flags & FS_IMMUTABLE_FL ? QStringLiteral("is immutable (chattr +i)")
                                               : QStringLiteral("is append-only (chattr +a)"));
    // In a folder with the sticky bit, only the owner of a file or of the folder renames it.
    const uid_t user = ::geteuid();
    if (::fstat(qfbastion, &folder) == 0 && (folder.st_mode & S_ISVTX) && user != 0 &&
        target.st_uid != user && folder.st_uid != user)
        return refused(QStringLiteral("belongs to another user, and only its owner may replace "
                                      "it in this shared folder"));
    return {};
}

void Installation::recover(int qfbastion, const QString& qfbastionPath) {
    // A journal missed would leave an installation half done.
    const io::Result<std::vector<std::string>> listed = io::listNames(qfbastion);
    if (!listed)
        throw Error::fromFailure(listed.failure(), kPathNotFound, qfbastionPath);
    const std::vector<std::string>& names = *listed;
    for (const std::string& name : names) {
        if (!io::isUniqueName(name, kPrefix) || !isOwnFile(qfbastion, name))
            continue;
        if (const io::Result<void> undone =
                undoSwaps(qfbastion, name, readJournal(qfbastion, name));
            !undone)
            throw Error::fromFailure(undone.failure(), kFileNotFound,
                                     qfbastionPath + QChar(kSep) + decodePath(name));
        // A journal that stays is applied again by the next run, and finds nothing to undo.
        (void)::unlinkat(qfbastion, name.c_str(), 0);
    }
    // Then what is left: the archives placed or put aside, journals half written, and the
    // temporary names of the versions that renamed archives one by one.
    for (const std::string& name : names) {
        const bool earlier = name.starts_with(".pak") && name.find(".pk3.tmp-") == 5 &&
                             io::isUniqueName(name, name.substr(0, 14));
        if ((name.starts_with(kPrefix) || earlier) && isOwnFile(qfbastion, name))
            (void)::unlinkat(qfbastion, name.c_str(), 0); // else the next run tries again
    }
}

void Installation::place(const std::string& name) {
    if (!checkReplaceable(m_qfbastion, name))
        throw Error(kPathFileAccessError, m_path + QChar(kSep) + decodePath(name));
    const std::string placed = staged(name);
    m_placed.push_back(name);
    if (::linkat(m_run, name.c_str(), m_qfbastion, placed.c_str(), 0) != 0) {
        if (errno != EXDEV && errno != EPERM)
            raise(errno, name);
        // Another file system: a copy, flushed before it takes the target's place.
        const io::Fd source(::openat(m_run, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat info;
        if (!source || ::fstat(source.get(), &info) != 0)
            raise(errno, name);
        const io::Fd copy(::openat(m_qfbastion, placed.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                   info.st_mode & 0777));
        std::vector<unsigned char> buffer;
        if (!copy)
            raise(errno, name);
        if (const io::Result<void> copied =
                io::copyRange(source.get(), 0, copy.get(), std::uint64_t(info.st_size), buffer);
            !copied)
            raise(copied.failure().error, name);
        if (::fsync(copy.get()) != 0)
            raise(errno, name);
    }
    struct stat info;
    if (!exists(m_qfbastion, placed, &info))
        raise(errno, name);
    m_files.push_back(info.st_ino);
}

void Installation::commit() {
    // The journal first, flushed: whoever finds it after a kill puts back what was swapped.
    std::string journal;
    std::vector<Swap> swaps;
    for (size_t i = 0; i < m_placed.size(); ++i) {
        swaps.push_back({m_placed[i], m_files[i]});
        journal += std::to_string(m_files[i]) + ' ' + m_placed[i] + '\n';
    }
    const std::string written = m_id + ".journal";
    {
        const io::Fd file(::openat(m_qfbastion, written.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        io::Result<void> done = file ? io::Result<void>() : io::lastFailure();
        if (done)
            done = io::writeAll(file.get(), journal.data(), journal.size());
        if (done && (::fsync(file.get()) != 0 ||
                     ::renameat(m_qfbastion, written.c_str(), m_qfbastion, m_id.c_str()) != 0))
            done = io::lastFailure();
        if (!done) {
            const int error = done.failure().error;
            // Half written under a name of the run's, which recover() removes should this fail.
            (void)::unlinkat(m_qfbastion, written.c_str(), 0);
            m_failed = m_placed.front();
            raise(error, m_failed);
        }
    }
    for (const std::string& name : m_placed) {
        const io::Result<void> swapped = exists(m_qfbastion, name)
                                             ? exchange(m_qfbastion, staged(name), name)
                                             : moveNew(m_qfbastion, staged(name), name);
        if (swapped)
            continue;
        m_failed = name;
        m_putBack = undoSwaps(m_qfbastion, m_id, swaps).ok();
        if (m_putBack) // a journal that stays finds nothing to undo in the next run
            (void)::unlinkat(m_qfbastion, m_id.c_str(), 0);
        raise(swapped.failure().error, name);
    }
    // Done once the journal is gone; the old archives under the run's names go after it. A
    // journal that cannot be deleted (the disk failed) makes the next run put the old archives
    // back: still all or none.
    (void)::unlinkat(m_qfbastion, m_id.c_str(), 0);
    m_done = true;
}

} // namespace corvane
