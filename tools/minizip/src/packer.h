#pragma once

// Files deflated on every core: small ones read whole into memory that is reused for each part
// of a run's files, large ones a piece at a time.

#include "io/result.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include <zlib.h>

struct libdeflate_compressor;

namespace minizip {

// Memory mapped, by default with its pages in place at once: on virtual machines each first
// touch of a page can cost more than reading the page from a file. Memory used only in part is
// better left to fill as it is touched.
class Arena {
public:
    explicit Arena(bool populate = true) : m_populate(populate) {}
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena();
    // Makes at least `size` bytes available; false when memory is short.
    bool reserve(std::size_t size);
    unsigned char* data() const { return m_data; }

private:
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_populate;
};

struct PackJob {
    int fd; // read from its start
    std::uint64_t size;
};

struct Packed {
    int error = 0;         // errno when the file could not be read; nothing else is set then
    bool deflated = false; // else the bytes are the file as it is: deflate did not shrink it
    std::uint32_t crc = 0; // of the file's bytes
    const unsigned char* data = nullptr; // valid until the next pack(); null from measure()
    std::size_t length = 0;              // of the entry's bytes
};

// Reads a file a piece at a time from its start, deflated with zlib at `level` or as it is.
class FileDeflater {
public:
    FileDeflater(int fd, std::uint64_t size, bool deflate, int level);
    FileDeflater(const FileDeflater&) = delete;
    FileDeflater& operator=(const FileDeflater&) = delete;
    ~FileDeflater();

    // The next bytes of the entry, none at the end. Fails when the file cannot be read or
    // ends early (EIO).
    corvane::io::Result<void> next(const unsigned char*& data, std::size_t& length);
    std::uint32_t crc() const { return std::uint32_t(m_crc); }
    std::uint64_t produced() const { return m_produced; }

private:
    int m_fd;
    std::uint64_t m_size, m_read = 0, m_produced = 0;
    bool m_deflate, m_finished = false;
    z_stream m_z{};
    uLong m_crc;
    std::vector<unsigned char> m_in, m_out;
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
    // Deflates the files a piece at a time with FileDeflater, on up to `threads` threads, to
    // learn their entries' method, length and CRC; the bytes are not kept.
    std::vector<Packed> measure(const std::vector<PackJob>& jobs);

private:
    struct Worker {
        libdeflate_compressor* compressor = nullptr;
        Arena scratch;
    };
    // Runs `work` for each job index on every worker.
    template <class Work> void spread(std::size_t jobs, Work work);

    int m_level;
    std::vector<Worker> m_workers;
    Arena m_files;
};

} // namespace minizip
