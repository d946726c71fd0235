#pragma once

// Reading, writing and copying whole ranges of bytes, retrying where the system returns early.
// Every function fails with the errno of the system call (the caller knows the path).

#include "result.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane::io {

// Writes all `size` bytes at the descriptor's position.
Result<void> writeAll(int fd, const void* data, std::size_t size);
// Writes all `size` bytes at `offset`, leaving the position alone.
Result<void> writeAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset);
// Reads exactly `size` bytes at `offset`; a file that ends before gives ENODATA.
Result<void> readAllAt(int fd, void* data, std::size_t size, std::uint64_t offset);

// Copies `length` bytes at `offset` of `in` to the position of `out`: in the kernel
// (copy_file_range) where the file systems allow it, else through `buffer`, which is grown to
// at most 1 MiB, so memory use does not depend on `length`. A source that ends early gives
// ENODATA.
Result<void> copyRange(int in, std::uint64_t offset, int out, std::uint64_t length,
                       std::vector<unsigned char>& buffer);

} // namespace corvane::io
