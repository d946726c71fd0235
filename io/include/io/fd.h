#pragma once

// An owned file descriptor, closed when the object goes.

#include <unistd.h>

#include <utility>

namespace corvane::io {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    explicit operator bool() const { return valid(); }

    // Closes the descriptor held and takes `fd` instead. A failed close is not reported: the
    // descriptor is gone either way (Linux frees it even on EINTR), and data that must reach
    // the disk is flushed (fsync) and checked before its file is closed.
    void reset(int fd = -1) {
        if (m_fd >= 0)
            (void)::close(m_fd);
        m_fd = fd;
    }
    // Gives up ownership without closing.
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd = -1;
};

} // namespace corvane::io
