#pragma once

// Files read whole and deflated on every core, so that libzip can write them as they are.

#include <cstdint>
#include <vector>

namespace minizip {

struct Packed {
    int error = 0;         // errno when the file could not be read; nothing else is set then
    bool deflated = false; // else `data` is the file as it is: deflate did not make it smaller
    std::uint32_t crc = 0; // of the file's bytes
    std::uint64_t size = 0;
    std::vector<unsigned char> data;
};

// Reads each open file (of the size given beside it) from its start and deflates it at `level`
// on up to `threads` threads at once. Memory use is the files' size and at most one more file
// per thread.
struct PackJob {
    int fd;
    std::uint64_t size;
};
std::vector<Packed> packAll(const std::vector<PackJob>& jobs, int level, unsigned threads);

} // namespace minizip
