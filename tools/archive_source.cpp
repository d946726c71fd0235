#include "archive_source.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace minizip {
namespace {

// Big enough that writing and copying cost few system calls, small next to the archive.
constexpr std::size_t bufferSize = std::size_t(1) << 20;

struct Archive {
    std::string path;
    zip_error_t error{};
    bool trace = false;

    int readFd = -1;
    zip_uint64_t size = 0; // of the archive open for reading
    zip_uint64_t readAt = 0;

    std::string tempPath;
    int writeFd = -1;
    std::vector<char> pending; // written by libzip, not yet to the file; it goes at pendingAt
    zip_uint64_t pendingAt = 0;
    zip_uint64_t written = 0; // length of the new archive so far

    zip_uint64_t writeAt() const { return pendingAt + pending.size(); }

    zip_int64_t fail(int zipError, int systemError) {
        zip_error_set(&error, zipError, systemError);
        return -1;
    }

    bool writeAll(const char* data, std::size_t length, zip_uint64_t at) {
        while (length > 0) {
            const ssize_t n = ::pwrite(writeFd, data, length, off_t(at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                fail(ZIP_ER_WRITE, n < 0 ? errno : ENOSPC);
                return false;
            }
            data += n, length -= std::size_t(n), at += zip_uint64_t(n);
        }
        return true;
    }

    bool flush() {
        if (!writeAll(pending.data(), pending.size(), pendingAt))
            return false;
        pendingAt += pending.size();
        pending.clear();
        return true;
    }

    zip_int64_t write(const void* data, zip_uint64_t length) {
        const char* bytes = static_cast<const char*>(data);
        if (pending.size() + length > bufferSize) {
            if (!flush())
                return -1;
            if (length >= bufferSize) {
                if (!writeAll(bytes, length, pendingAt))
                    return -1;
                pendingAt += length;
                written = std::max(written, pendingAt);
                return zip_int64_t(length);
            }
        }
        pending.insert(pending.end(), bytes, bytes + length);
        written = std::max(written, writeAt());
        return zip_int64_t(length);
    }

    // Creates the temporary file beside the archive, with the mode the archive is to keep.
    bool createTemp() {
        struct stat st {};
        mode_t mode = 0;
        if (::stat(path.c_str(), &st) == 0) {
            mode = st.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        std::string name = path + ".XXXXXX";
        writeFd = ::mkostemp(name.data(), O_CLOEXEC);
        if (writeFd < 0) {
            fail(ZIP_ER_TMPOPEN, errno);
            return false;
        }
        tempPath = std::move(name);
        if (::fchmod(writeFd, mode) != 0) {
            fail(ZIP_ER_TMPOPEN, errno);
            discardTemp();
            return false;
        }
        pending.clear();
        pending.reserve(bufferSize);
        pendingAt = written = 0;
        return true;
    }

    void discardTemp() {
        if (writeFd >= 0)
            ::close(writeFd);
        writeFd = -1;
        if (!tempPath.empty())
            ::unlink(tempPath.c_str());
        tempPath.clear();
        pending.clear();
    }

    // Copies the first `length` bytes of the archive into the empty temporary file: in the
    // kernel where it can, else through the buffer.
    bool clone(zip_uint64_t length) {
        const int from = readFd >= 0 ? readFd : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (from < 0) {
            fail(ZIP_ER_OPEN, errno);
            return false;
        }
        loff_t in = 0, out = 0;
        bool inKernel = true;
        bool ok = true;
        pending.resize(bufferSize);
        while (ok && zip_uint64_t(in) < length) {
            const zip_uint64_t left = length - zip_uint64_t(in);
            if (inKernel) {
                const ssize_t n =
                    ::copy_file_range(from, &in, writeFd, &out,
                                      std::size_t(std::min(left, zip_uint64_t(1) << 30)), 0);
                if (n > 0 || (n < 0 && errno == EINTR))
                    continue;
                // Other file systems, old kernels: copy through the buffer instead.
                if (n < 0 &&
                    (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                    inKernel = false;
                    continue;
                }
                fail(n < 0 ? ZIP_ER_WRITE : ZIP_ER_READ, n < 0 ? errno : EIO);
                ok = false;
                continue;
            }
            const ssize_t n = ::pread(from, pending.data(),
                                      std::size_t(std::min(left, zip_uint64_t(bufferSize))), in);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                fail(ZIP_ER_READ, n < 0 ? errno : EIO); // the archive shrank under us
                ok = false;
                continue;
            }
            ok = writeAll(pending.data(), std::size_t(n), zip_uint64_t(out));
            in += n, out += n;
        }
        pending.clear();
        if (from != readFd)
            ::close(from);
        pendingAt = written = length;
        return ok;
    }

    zip_int64_t commit() {
        if (!flush()) {
            discardTemp();
            return -1;
        }
        const int fd = writeFd;
        writeFd = -1;
        if (::close(fd) != 0) {
            fail(ZIP_ER_WRITE, errno);
            discardTemp();
            return -1;
        }
        if (::rename(tempPath.c_str(), path.c_str()) != 0) {
            fail(ZIP_ER_RENAME, errno);
            discardTemp();
            return -1;
        }
        tempPath.clear();
        return 0;
    }

    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
        switch (command) {
        case ZIP_SOURCE_OPEN: {
            readFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat st {};
            if (readFd < 0 || ::fstat(readFd, &st) != 0)
                return fail(ZIP_ER_OPEN, errno);
            size = zip_uint64_t(st.st_size);
            readAt = 0;
            return 0;
        }
        case ZIP_SOURCE_READ: {
            const std::size_t wanted = std::size_t(std::min(length, size - std::min(size, readAt)));
            ssize_t n = 0;
            do
                n = ::pread(readFd, data, wanted, off_t(readAt));
            while (n < 0 && errno == EINTR);
            if (n < 0)
                return fail(ZIP_ER_READ, errno);
            readAt += zip_uint64_t(n);
            return n;
        }
        case ZIP_SOURCE_CLOSE:
            if (readFd >= 0)
                ::close(readFd);
            readFd = -1;
            return 0;
        case ZIP_SOURCE_STAT: {
            zip_stat_t* zs = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error);
            if (!zs)
                return -1;
            struct stat st {};
            if ((readFd >= 0 ? ::fstat(readFd, &st) : ::stat(path.c_str(), &st)) != 0)
                return fail(ZIP_ER_READ, errno); // ENOENT: libzip then creates the archive
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
            if (!createTemp())
                return -1;
            if (trace)
                std::fputs("minizip: writing the whole archive\n", stderr);
            return 0;
        case ZIP_SOURCE_BEGIN_WRITE_CLONING:
            if (!createTemp())
                return -1;
            if (!clone(length)) {
                discardTemp(); // libzip then writes the whole archive instead
                return -1;
            }
            if (trace)
                std::fprintf(stderr, "minizip: kept the first %llu bytes of the archive\n",
                             static_cast<unsigned long long>(length));
            return 0;
        case ZIP_SOURCE_WRITE:
            return write(data, length);
        case ZIP_SOURCE_SEEK_WRITE: {
            if (!flush())
                return -1;
            const zip_int64_t at =
                zip_source_seek_compute_offset(writeAt(), written, data, length, &error);
            if (at < 0)
                return -1;
            pendingAt = zip_uint64_t(at);
            return 0;
        }
        case ZIP_SOURCE_TELL_WRITE:
            return zip_int64_t(writeAt()); // known without writing the buffer out
        case ZIP_SOURCE_COMMIT_WRITE:
            return commit();
        case ZIP_SOURCE_ROLLBACK_WRITE:
            discardTemp();
            return 0;
        case ZIP_SOURCE_REMOVE:
            if (::unlink(path.c_str()) != 0)
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
        if (readFd >= 0)
            ::close(readFd);
        discardTemp(); // only left when libzip neither committed nor rolled back
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

zip_source_t* archiveSource(const std::string& path, zip_error_t* error) {
    auto* archive = new Archive;
    archive->path = path;
    zip_error_init(&archive->error);
    archive->trace = std::getenv("CORVANE_MINIZIP_TRACE") != nullptr;
    zip_source_t* source = zip_source_function_create(callback, archive, error);
    if (!source)
        delete archive;
    return source;
}

} // namespace minizip
