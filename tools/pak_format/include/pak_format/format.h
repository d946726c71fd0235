#pragma once

// The Quake 2 pack format, read without touching any file: header and directory parsing and
// the checks that decide whether a member may be written under the current folder.

#include "io/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pak {

inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kEntrySize = 64;
inline constexpr std::size_t kNameSize = 56;
// Quake 2 loads at most 4096 members from one pack; a directory far beyond that is garbage.
inline constexpr std::uint32_t kMaxEntries = 65536;

struct Header {
    std::uint32_t dirOffset = 0;
    std::uint32_t dirLength = 0;
};

// Why a pack or a name is refused, in words for a message.
struct Problem {
    std::string why;
};
template <typename T> using Checked = corvane::io::Result<T, Problem>;

struct Entry {
    std::string name; // as stored, up to the first NUL
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::string problem; // why the member must be skipped (listed with it); empty when fine
};

std::uint32_t readLe32(const unsigned char* p);
void writeLe32(unsigned char* p, std::uint32_t value);

// The header in the first `size` bytes of an archive of `fileSize` bytes, or why the archive
// is refused.
Checked<Header> parseHeader(const unsigned char* bytes, std::size_t size, std::uint64_t fileSize);

// Decodes a directory whose length parseHeader accepted; every entry gets its problem, if any.
std::vector<Entry> parseDirectory(const unsigned char* bytes, std::size_t size,
                                  std::uint64_t fileSize);

// Why the members' data cannot be unpacked as it stands: a member's bytes lie over the header,
// the directory or another member's bytes (unpacking would write them again and again), or
// past the end of the file. Succeeds when every member has bytes of its own.
Checked<void> checkLayout(const std::vector<Entry>& entries, const Header& header,
                          std::uint64_t fileSize);

// Succeeds when `name` is safe to create below the current folder; else says why not.
Checked<void> checkName(std::string_view name);

// `text` with control and non-ASCII bytes written as \xNN, for messages.
std::string printable(std::string_view text);

} // namespace pak
