#include "io/journal.h"

#include "io/fd.h"
#include "io/rw.h"

#include <cerrno>
#include <cstring>

#include <endian.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace corvane::io {

namespace {

constexpr std::string_view kSuffix = "-journal";
constexpr char kMagic[8] = {'C', 'O', 'R', 'V', 'J', 'R', 'N', '2'};
// Magic, offset, old length, the file's device and inode, then the CRC-32 of the header
// before it and of the saved bytes.
constexpr std::size_t kHeaderSize = 48;
constexpr std::size_t kCrcAt = 40;
// A journal beyond this is no journal of ours.
constexpr std::uint64_t kMaxSaved = std::uint64_t(1) << 30;

// Numbers in the header are little-endian, whatever the machine.
void put64(unsigned char* p, std::uint64_t value) {
    const std::uint64_t stored = htole64(value);
    std::memcpy(p, &stored, sizeof stored);
}

std::uint64_t get64(const unsigned char* p) {
    std::uint64_t stored;
    std::memcpy(&stored, p, sizeof stored);
    return le64toh(stored);
}

std::uint32_t checksum(const unsigned char* header, const std::vector<unsigned char>& saved) {
    uLong crc = ::crc32(0, header, kCrcAt);
    for (std::size_t at = 0; at < saved.size(); at += 1u << 30)
        crc = ::crc32(crc, saved.data() + at,
                      uInt(std::min<std::size_t>(saved.size() - at, 1u << 30)));
    return std::uint32_t(crc);
}

// Puts the saved bytes back at `offset`, restores the length and flushes.
Result<void> restore(int file, const std::string& name, std::uint64_t offset, std::uint64_t length,
                     const std::vector<unsigned char>& saved) {
    if (Result<void> written = writeAllAt(file, saved.data(), saved.size(), offset); !written)
        return Failure{written.failure().error, name};
    if (::ftruncate(file, off_t(length)) != 0 || ::fsync(file) != 0)
        return lastFailure(name);
    return {};
}

Result<void> removeJournal(int folder, const std::string& name) {
    const std::string journal = journalName(name);
    if (::unlinkat(folder, journal.c_str(), 0) == 0 || errno == ENOENT)
        return {};
    return lastFailure(journal);
}

} // namespace

std::string journalName(std::string_view name) {
    return std::string(name) + std::string(kSuffix);
}

bool isJournalName(std::string_view name) {
    if (name.size() <= kSuffix.size())
        return false;
    const std::string_view tail = name.substr(name.size() - kSuffix.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? char(tail[i] - 'A' + 'a') : tail[i];
        if (c != kSuffix[i])
            return false;
    }
    return true;
}

Result<void> Journal::begin(int folder, std::string name, int file, std::uint64_t offset) {
    struct stat info;
    if (::fstat(file, &info) != 0)
        return lastFailure(name);
    const std::uint64_t length = std::uint64_t(info.st_size);
    if (offset > length || length - offset > kMaxSaved)
        return Failure{EFBIG, name};
    m_saved.resize(length - offset);
    if (Result<void> read = readAllAt(file, m_saved.data(), m_saved.size(), offset); !read)
        return Failure{read.failure().error, name};
    unsigned char header[kHeaderSize] = {};
    std::memcpy(header, kMagic, sizeof kMagic);
    put64(header + 8, offset);
    put64(header + 16, length);
    put64(header + 24, std::uint64_t(info.st_dev));
    put64(header + 32, std::uint64_t(info.st_ino));
    const std::uint32_t crc = checksum(header, m_saved);
    const std::uint32_t storedCrc = htole32(crc);
    std::memcpy(header + kCrcAt, &storedCrc, sizeof storedCrc);

    const std::string journal = journalName(name);
    // A stale one was already recovered or is garbage; one that cannot be removed makes the
    // exclusive creation below fail, which is reported.
    (void)::unlinkat(folder, journal.c_str(), 0);
    Fd out(::openat(folder, journal.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0600));
    if (!out)
        return lastFailure(journal);
    // Flushed before the file is touched. (Journalling file systems put a new file's name on
    // the disk with its first flush; a separate flush of the folder would double the cost.)
    Result<void> written = writeAll(out.get(), header, kHeaderSize);
    if (written)
        written = writeAll(out.get(), m_saved.data(), m_saved.size());
    if (written && ::fsync(out.get()) != 0)
        written = lastFailure();
    if (!written) {
        // The file is untouched, so a journal left behind (should this fail too) is only
        // deleted by the next recover.
        (void)::unlinkat(folder, journal.c_str(), 0);
        return Failure{written.failure().error, journal};
    }
    m_folder = folder;
    m_file = file;
    m_name = std::move(name);
    m_offset = offset;
    return {};
}

Result<void> Journal::commit(std::uint64_t length) {
    if (::ftruncate(m_file, off_t(length)) != 0 || ::fdatasync(m_file) != 0)
        return lastFailure(m_name);
    return removeJournal(m_folder, m_name);
}

Result<void> Journal::rollback() {
    if (Result<void> restored =
            restore(m_file, m_name, m_offset, m_offset + m_saved.size(), m_saved);
        !restored)
        return restored;
    return removeJournal(m_folder, m_name);
}

Result<void> recover(int folder, const std::string& name) {
    const std::string journalPath = journalName(name);
    Fd journal(
        ::openat(folder, journalPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!journal) // ELOOP: a link has the journal's name
        return errno == ENOENT ? Result<void>() : lastFailure(journalPath);
    struct stat info;
    if (::fstat(journal.get(), &info) != 0)
        return lastFailure(journalPath);
    if (!S_ISREG(info.st_mode)) // not ours: leave it to its owner
        return Failure{S_ISDIR(info.st_mode) ? EISDIR : EINVAL, journalPath};
    unsigned char header[kHeaderSize] = {};
    const std::uint64_t size = std::uint64_t(info.st_size);
    bool whole = size >= kHeaderSize && size - kHeaderSize <= kMaxSaved &&
                 readAllAt(journal.get(), header, kHeaderSize, 0).ok() &&
                 std::memcmp(header, kMagic, sizeof kMagic) == 0;
    std::vector<unsigned char> saved;
    const std::uint64_t offset = get64(header + 8), length = get64(header + 16);
    if (whole) {
        saved.resize(size - kHeaderSize);
        std::uint32_t crc;
        std::memcpy(&crc, header + kCrcAt, sizeof crc);
        crc = le32toh(crc);
        whole = offset <= length && length - offset == saved.size() &&
                readAllAt(journal.get(), saved.data(), saved.size(), kHeaderSize).ok() &&
                checksum(header, saved) == crc;
    }
    if (whole) {
        // A journal written whole: the file may have been changed after it, so it goes back,
        // if it is still the file the journal was written for. A file that now has the name
        // in its place, or one shorter than the part the update kept, is not touched.
        Fd file(::openat(folder, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!file && errno != ENOENT && errno != ELOOP)
            return lastFailure(name);
        struct stat now;
        if (file && ::fstat(file.get(), &now) != 0)
            return lastFailure(name);
        const bool same =
            file && S_ISREG(now.st_mode) && std::uint64_t(now.st_dev) == get64(header + 24) &&
            std::uint64_t(now.st_ino) == get64(header + 32) && std::uint64_t(now.st_size) >= offset;
        if (same)
            if (Result<void> restored = restore(file.get(), name, offset, length, saved); !restored)
                return restored;
    }
    // A journal cut short was written before the file was touched, and one of another file
    // is of no use: either only goes.
    return removeJournal(folder, name);
}

} // namespace corvane::io
