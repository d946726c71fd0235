// The archive as libzip reads and writes it. Over 300 lines: one state machine (reading the old
// archive, the journal, writing in place or beside it) driven by one libzip callback, which
// would only be harder to follow spread over several files.

#include "archive_source.h"

#include "io/atomic_file.h"
#include "io/fd.h"
#include "io/journal.h"
#include "io/rw.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace minizip {
namespace {

using corvane::io::Fd;
using corvane::io::Result;

// A file that ended early while it was read shrank under the reader: an input/output error.
int shrankIsIo(int error) {
    return error == ENODATA ? EIO : error;
}

// Past this, the end of the archive is not saved to a journal: a new archive is written.
constexpr zip_uint64_t kMaxSaved = zip_uint64_t(4) << 20;
// Big enough that writing costs few system calls, small next to the archive.
constexpr std::size_t kBufferSize = std::size_t(1) << 20;
constexpr zip_uint64_t kCacheSize = zip_uint64_t(128) << 10;
// An archive longer than this needs ZIP64 records, which Quake 3-engine readers refuse.
constexpr zip_uint64_t kMaxLength = 0xffffffff;

// libzip's writes, gathered so that they reach the file in large pieces. libzip goes back to
// fill in each entry's header after its data; while that header is still here it is only
// changed here, so each byte goes to the file once.
class WriteBuffer {
public:
    void start(int fd, zip_uint64_t at) {
        m_fd = fd;
        m_base = m_cursor = m_end = at;
        m_data.clear();
        m_data.reserve(kBufferSize);
    }
    zip_uint64_t tell() const { return m_cursor; }
    zip_uint64_t end() const { return m_end; }
    void seek(zip_uint64_t at) { m_cursor = at; }

    Result<void> write(const void* data, std::size_t length) {
        if (m_cursor + length > kMaxLength)
            return corvane::io::Failure{EFBIG, {}};
        const auto* bytes = static_cast<const unsigned char*>(data);
        if (m_cursor < m_base || m_cursor > m_base + m_data.size() ||
            m_cursor + length > m_base + kBufferSize) {
            if (Result<void> flushed = flush(); !flushed)
                return flushed;
            m_base = m_cursor;
        }
        if (length >= kBufferSize) {
            if (Result<void> written = corvane::io::writeAllAt(m_fd, bytes, length, m_cursor);
                !written)
                return written;
            m_base = m_cursor += length;
        } else {
            const std::size_t at = std::size_t(m_cursor - m_base);
            if (at + length > m_data.size())
                m_data.resize(at + length);
            std::memcpy(m_data.data() + at, bytes, length);
            m_cursor += length;
        }
        m_end = std::max(m_end, m_cursor);
        return {};
    }

    Result<void> flush() {
        if (Result<void> written =
                corvane::io::writeAllAt(m_fd, m_data.data(), m_data.size(), m_base);
            !written)
            return written;
        m_base += m_data.size();
        m_data.clear();
        return {};
    }

private:
    int m_fd = -1;
    zip_uint64_t m_base = 0, m_cursor = 0, m_end = 0;
    std::vector<unsigned char> m_data; // bytes from m_base on, not yet in the file
};

enum class Writing { No, InPlace, Beside };

struct Archive {
    Fd folder;
    std::string name;
    zip_error_t error{};
    bool trace = false;

    Fd readFd;             // the archive as it was; invalid when there is none
    zip_uint64_t size = 0; // its length
    zip_uint64_t readAt = 0;
    std::vector<unsigned char> cache; // of the archive as it was, from cacheAt on
    zip_uint64_t cacheAt = 0;

    Writing writing = Writing::No;
    Fd inPlace; // the archive itself, open for writing
    corvane::io::Journal journal;
    corvane::io::AtomicFile beside;
    WriteBuffer out;

    zip_int64_t fail(int zipError, int systemError) {
        zip_error_set(&error, zipError, systemError);
        return -1;
    }

    void say(const char* way, zip_uint64_t kept) const {
        if (trace)
            // A trace that cannot be written is lost, nothing more.
            (void)std::fprintf(stderr, "minizip: %s after the first %llu bytes\n", way,
                               static_cast<unsigned long long>(kept));
    }

    mode_t newMode() const {
        struct stat st {};
        if (readFd && ::fstat(readFd.get(), &st) == 0)
            return st.st_mode & 07777;
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return 0666 & ~mask;
    }

    // Reads the archive as it was. Once it is being updated in place, the bytes from the
    // journal's offset on may be written over already: they come from the saved copy.
    Result<void> readOld(unsigned char* data, zip_uint64_t length, zip_uint64_t at) {
        const zip_uint64_t saved = writing == Writing::InPlace ? journal.offset() : size;
        const std::size_t fromFile = std::size_t(std::min(length, saved - std::min(saved, at)));
        if (Result<void> read = corvane::io::readAllAt(readFd.get(), data, fromFile, at); !read)
            return read;
        if (length > fromFile)
            std::memcpy(data + fromFile, journal.saved().data() + (at + fromFile - saved),
                        std::size_t(length - fromFile));
        return {};
    }

    // Reads at the read position. libzip reads a large central directory a few bytes at a
    // time, so small reads come from a buffer.
    zip_int64_t read(void* data, zip_uint64_t length) {
        const zip_uint64_t wanted = std::min(length, size - std::min(size, readAt));
        auto* bytes = static_cast<unsigned char*>(data);
        if (readAt < cacheAt || readAt + wanted > cacheAt + cache.size()) {
            const bool direct = wanted >= kCacheSize;
            if (!direct)
                cache.resize(std::size_t(std::min(kCacheSize, size - readAt)));
            if (const Result<void> old =
                    readOld(direct ? bytes : cache.data(), direct ? wanted : cache.size(), readAt);
                !old)
                return fail(ZIP_ER_READ, shrankIsIo(old.failure().error));
            if (direct) {
                readAt += wanted;
                return zip_int64_t(wanted);
            }
            cacheAt = readAt;
        }
        if (wanted > 0)
            std::memcpy(bytes, cache.data() + (readAt - cacheAt), std::size_t(wanted));
        readAt += wanted;
        return zip_int64_t(wanted);
    }

    // Updates the archive in place after its first `kept` bytes; false when that is not
    // possible (a read-only archive, another file now under its name) or not worth it.
    bool beginInPlace(zip_uint64_t kept) {
        if (!readFd || kept > size || size - kept > kMaxSaved)
            return false;
        struct stat reading {
        }, writingTo{};
        inPlace.reset(
            ::openat(folder.get(), name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!inPlace || ::fstat(readFd.get(), &reading) != 0 ||
            ::fstat(inPlace.get(), &writingTo) != 0 || reading.st_dev != writingTo.st_dev ||
            reading.st_ino != writingTo.st_ino ||
            !journal.begin(folder.get(), name, inPlace.get(), kept).ok()) {
            inPlace.reset();
            return false;
        }
        writing = Writing::InPlace;
        out.start(inPlace.get(), kept);
        say("updating in place", kept);
        return true;
    }

    // Writes a new archive beside the old one, starting with a copy of its first `kept` bytes.
    zip_int64_t beginBeside(zip_uint64_t kept) {
        std::vector<unsigned char> buffer;
        Result<void> started = beside.create(folder.get(), name, newMode());
        if (started && kept > 0)
            started = corvane::io::copyRange(readFd.get(), 0, beside.fd(), kept, buffer);
        if (!started) {
            beside.discard();
            return fail(ZIP_ER_TMPOPEN, shrankIsIo(started.failure().error));
        }
        writing = Writing::Beside;
        out.start(beside.fd(), kept);
        say("writing a new archive", kept);
        return 0;
    }

    zip_int64_t commit() {
        Result<void> done = out.flush();
        if (done)
            done = writing == Writing::InPlace ? journal.commit(out.end()) : beside.commit();
        if (!done) {
            rollback();
            return fail(ZIP_ER_WRITE, done.failure().error);
        }
        writing = Writing::No;
        inPlace.reset();
        return 0;
    }

    void rollback() {
        // On failure the journal stays, for the next run to recover (which minizip does first).
        if (writing == Writing::InPlace)
            (void)journal.rollback();
        beside.discard();
        inPlace.reset();
        writing = Writing::No;
    }

    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
        switch (command) {
        case ZIP_SOURCE_OPEN: {
            struct stat st {};
            if (!readFd)
                return fail(ZIP_ER_OPEN, ENOENT);
            if (::fstat(readFd.get(), &st) != 0)
                return fail(ZIP_ER_OPEN, errno);
            size = zip_uint64_t(st.st_size);
            readAt = 0;
            cache.clear();
            return 0;
        }
        case ZIP_SOURCE_READ:
            return read(data, length);
        case ZIP_SOURCE_CLOSE:
            return 0;
        case ZIP_SOURCE_STAT: {
            zip_stat_t* zs = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error);
            struct stat st {};
            if (!zs)
                return -1;
            // ENOENT tells libzip to start a new archive.
            if (!readFd || ::fstat(readFd.get(), &st) != 0)
                return fail(ZIP_ER_READ, readFd ? errno : ENOENT);
            zip_stat_init(zs);
            zs->size = zip_uint64_t(st.st_size);
            zs->mtime = st.st_mtime;
            zs->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            return sizeof(*zs);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error, data, length);
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t at =
                zip_source_seek_compute_offset(readAt, size, data, length, &error);
            if (at < 0)
                return -1;
            readAt = zip_uint64_t(at);
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return zip_int64_t(readAt);
        case ZIP_SOURCE_ACCEPT_EMPTY:
            return 0; // an empty file is someone's, not an archive to add to
        case ZIP_SOURCE_BEGIN_WRITE:
            return beginBeside(0);
        case ZIP_SOURCE_BEGIN_WRITE_CLONING:
            return beginInPlace(length) ? 0 : beginBeside(length);
        case ZIP_SOURCE_WRITE:
            if (const Result<void> written = out.write(data, std::size_t(length)); !written)
                return fail(ZIP_ER_WRITE, written.failure().error);
            return zip_int64_t(length);
        case ZIP_SOURCE_SEEK_WRITE: {
            const zip_int64_t at =
                zip_source_seek_compute_offset(out.tell(), out.end(), data, length, &error);
            if (at < 0)
                return -1;
            out.seek(zip_uint64_t(at));
            return 0;
        }
        case ZIP_SOURCE_TELL_WRITE:
            return zip_int64_t(out.tell());
        case ZIP_SOURCE_COMMIT_WRITE:
            return commit();
        case ZIP_SOURCE_ROLLBACK_WRITE:
            rollback();
            return 0;
        case ZIP_SOURCE_REMOVE:
            if (::unlinkat(folder.get(), name.c_str(), 0) != 0)
                return fail(ZIP_ER_REMOVE, errno);
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return ZIP_SOURCE_SUPPORTS_WRITABLE |
                   ZIP_SOURCE_MAKE_COMMAND_BITMASK(ZIP_SOURCE_BEGIN_WRITE_CLONING) |
                   ZIP_SOURCE_MAKE_COMMAND_BITMASK(ZIP_SOURCE_ACCEPT_EMPTY);
        default:
            return fail(ZIP_ER_OPNOTSUPP, 0);
        }
    }

    ~Archive() {
        rollback(); // only left to do when libzip neither committed nor rolled back
        zip_error_fini(&error);
    }
};

zip_int64_t callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto* archive = static_cast<Archive*>(state);
    const zip_int64_t result = archive->handle(data, length, command);
    if (command == ZIP_SOURCE_FREE)
        delete archive;
    return result;
}

} // namespace

zip_source_t* archiveSource(int folder, const std::string& name, int archive, zip_error_t* error) {
    auto* state = new Archive;
    state->folder.reset(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (archive >= 0)
        state->readFd.reset(::fcntl(archive, F_DUPFD_CLOEXEC, 0));
    state->name = name;
    zip_error_init(&state->error);
    state->trace = std::getenv("CORVANE_MINIZIP_TRACE") != nullptr;
    if (!state->folder || (archive >= 0 && !state->readFd)) {
        zip_error_set(error, ZIP_ER_OPEN, errno);
        delete state;
        return nullptr;
    }
    zip_source_t* source = zip_source_function_create(callback, state, error);
    if (!source)
        delete state;
    return source;
}

} // namespace minizip
