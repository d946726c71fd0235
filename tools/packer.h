#pragma once

// Files read whole and deflated on every core, into memory that is reused for each part of a
// run's files.

#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_compressor;

namespace minizip {

// Memory mapped with its pages in place at once: on virtual machines each first touch of a
// page can cost more than reading the page from a file.
class Arena {
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena();
    // Makes at least `size` bytes available; false when memory is short.
    bool reserve(std::size_t size);
    unsigned char* data() const { return m_data; }

private:
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
};

struct PackJob {
    int fd; // read from its start
    std::uint64_t size;
};

struct Packed {
    int error = 0;         // errno when the file could not be read; nothing else is set then
    bool deflated = false; // else the bytes are the file as it is: deflate did not shrink it
    std::uint32_t crc = 0; // of the file's bytes
    const unsigned char* data = nullptr; // valid until the next pack()
    std::size_t length = 0;
};

class Packer {
public:
    Packer(int level, unsigned threads);
    Packer(const Packer&) = delete;
    Packer& operator=(const Packer&) = delete;
    ~Packer();

    // Reads and deflates the files on up to `threads` threads at once. Memory use is the files'
    // sizes and one more of the largest per thread.
    std::vector<Packed> pack(const std::vector<PackJob>& jobs);

private:
    struct Worker {
        libdeflate_compressor* compressor = nullptr;
        Arena scratch;
    };
    std::vector<Worker> m_workers;
    Arena m_files;
};

} // namespace minizip
