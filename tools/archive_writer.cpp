#include "archive_writer.h"

#include "io/rw.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace minizip {
namespace {

// Past this, the end of the archive is not saved to a journal: the whole archive is written.
constexpr std::uint64_t kMaxSaved = std::uint64_t(4) << 20;
constexpr std::size_t kBufferSize = std::size_t(1) << 20;

bool tracing() {
    static const bool trace = std::getenv("CORVANE_MINIZIP_TRACE") != nullptr;
    return trace;
}

mode_t modeFor(int old) {
    struct stat st {};
    if (old >= 0 && ::fstat(old, &st) == 0)
        return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

bool ArchiveWriter::begin(int folder, const std::string& name, int old, std::uint64_t oldSize,
                          std::uint64_t kept) {
    m_old = old;
    m_kept = kept;
    m_base = m_cursor = kept;
    m_buffer.reserve(kBufferSize);
    if (old >= 0 && kept > 0 && oldSize - kept <= kMaxSaved) {
        // A read-only archive, or another file now under its name, is written anew instead.
        struct stat reading {
        }, writing{};
        m_inPlace.reset(
            ::openat(folder, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (m_inPlace && ::fstat(old, &reading) == 0 && ::fstat(m_inPlace.get(), &writing) == 0 &&
            reading.st_dev == writing.st_dev && reading.st_ino == writing.st_ino &&
            m_journal.begin(folder, name, m_inPlace.get(), kept)) {
            m_writing = true;
            if (tracing())
                std::fprintf(stderr, "minizip: updating in place after the first %llu bytes\n",
                             static_cast<unsigned long long>(kept));
            return true;
        }
        m_inPlace.reset();
    }
    std::vector<unsigned char> buffer;
    if (!m_whole.create(folder, name, modeFor(old)) ||
        (kept > 0 && !corvane::io::copyRange(old, 0, m_whole.fd(), kept, buffer))) {
        const int error = errno;
        m_whole.discard();
        errno = error;
        return false;
    }
    m_writing = true;
    if (tracing())
        std::fprintf(stderr, "minizip: writing a new archive after the first %llu bytes\n",
                     static_cast<unsigned long long>(kept));
    return true;
}

bool ArchiveWriter::readOld(void* data, std::size_t size, std::uint64_t at) {
    if (!m_inPlace || at + size <= m_kept)
        return corvane::io::readAllAt(m_old, data, size, at);
    const auto& saved = m_journal.saved();
    if (at < m_kept || at - m_kept + size > saved.size()) {
        errno = EINVAL;
        return false;
    }
    std::memcpy(data, saved.data() + (at - m_kept), size);
    return true;
}

bool ArchiveWriter::flush() {
    if (!corvane::io::writeAllAt(fd(), m_buffer.data(), m_buffer.size(), m_base))
        return false;
    m_base += m_buffer.size();
    m_buffer.clear();
    return true;
}

bool ArchiveWriter::write(const void* data, std::size_t size) {
    // Only the buffered bytes after the write position are dropped by a rewind.
    if (m_cursor < m_base || m_cursor > m_base + m_buffer.size()) {
        if (!flush())
            return false;
        m_base = m_cursor;
    }
    m_buffer.resize(std::size_t(m_cursor - m_base));
    if (m_buffer.size() + size > kBufferSize) {
        if (!flush())
            return false;
        if (size >= kBufferSize) {
            if (!corvane::io::writeAllAt(fd(), data, size, m_cursor))
                return false;
            m_base = m_cursor += size;
            return true;
        }
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    m_buffer.insert(m_buffer.end(), bytes, bytes + size);
    m_cursor += size;
    return true;
}

bool ArchiveWriter::writeAt(const void* data, std::size_t size, std::uint64_t at) {
    // A header still in the buffer is changed there, so that it reaches the file once.
    if (at >= m_base && at + size <= m_base + m_buffer.size()) {
        std::memcpy(m_buffer.data() + (at - m_base), data, size);
        return true;
    }
    return flush() && corvane::io::writeAllAt(fd(), data, size, at);
}

bool ArchiveWriter::commit() {
    m_buffer.resize(std::size_t(std::max(m_cursor, m_base) - m_base));
    const bool done = flush() && (m_inPlace ? m_journal.commit(m_cursor)
                                            : ::ftruncate(m_whole.fd(), off_t(m_cursor)) == 0 &&
                                                  m_whole.commit());
    if (!done) {
        const int error = errno;
        rollback();
        errno = error;
        return false;
    }
    m_writing = false;
    m_inPlace.reset();
    return true;
}

void ArchiveWriter::rollback() {
    if (!m_writing)
        return;
    if (m_inPlace)
        m_journal.rollback(); // on failure the journal stays, for the next run to recover
    m_whole.discard();
    m_inPlace.reset();
    m_writing = false;
}

} // namespace minizip
