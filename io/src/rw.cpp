#include "io/rw.h"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

namespace corvane::io {

namespace {

constexpr std::size_t kBufferSize = std::size_t(1) << 20;
constexpr std::uint64_t kKernelChunk = std::uint64_t(1) << 30;

// Errors of copy_file_range that only say this pair of files cannot be copied in the kernel.
bool kernelCopyUnsupported(int error) {
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP ||
           error == EBADF || error == EPERM;
}

} // namespace

Result<void> writeAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            return n == 0 ? Failure{ENOSPC, {}} : lastFailure();
        }
        bytes += n;
        size -= std::size_t(n);
    }
    return {};
}

Result<void> writeAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, bytes, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            return n == 0 ? Failure{ENOSPC, {}} : lastFailure();
        }
        bytes += n;
        size -= std::size_t(n);
        offset += std::uint64_t(n);
    }
    return {};
}

Result<void> readAllAt(int fd, void* data, std::size_t size, std::uint64_t offset) {
    auto* bytes = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, bytes, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            return n == 0 ? Failure{ENODATA, {}} : lastFailure();
        }
        bytes += n;
        size -= std::size_t(n);
        offset += std::uint64_t(n);
    }
    return {};
}

Result<void> copyRange(int in, std::uint64_t offset, int out, std::uint64_t length,
                       std::vector<unsigned char>& buffer) {
    bool inKernel = true;
    while (length > 0) {
        if (inKernel) {
            loff_t from = loff_t(offset);
            const ssize_t n = ::copy_file_range(in, &from, out, nullptr,
                                                std::size_t(std::min(length, kKernelChunk)), 0);
            if (n > 0) {
                offset += std::uint64_t(n);
                length -= std::uint64_t(n);
                continue;
            }
            if (n == 0)
                return Failure{ENODATA, {}};
            if (errno == EINTR)
                continue;
            if (!kernelCopyUnsupported(errno))
                return lastFailure();
            inKernel = false;
        }
        const std::size_t wanted = std::size_t(std::min<std::uint64_t>(length, kBufferSize));
        if (buffer.size() < wanted)
            buffer.resize(wanted);
        const std::size_t chunk = std::size_t(std::min<std::uint64_t>(length, buffer.size()));
        if (Result<void> read = readAllAt(in, buffer.data(), chunk, offset); !read)
            return read;
        if (Result<void> written = writeAll(out, buffer.data(), chunk); !written)
            return written;
        offset += chunk;
        length -= chunk;
    }
    return {};
}

} // namespace corvane::io
