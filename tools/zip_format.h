#pragma once

// The parts of the zip format minizip reads and writes: the central directory of an existing
// archive, and the headers of new entries (stored or deflated, no ZIP64 and no extra fields,
// which Quake 3-engine readers do not accept).

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace minizip {

using Bytes = std::vector<unsigned char>;

inline constexpr std::uint16_t kStored = 0, kDeflated = 8;
inline constexpr std::size_t kLocalHeaderSize = 30, kEndSize = 22;
// Past these a zip archive needs ZIP64 records.
inline constexpr std::uint64_t kMaxOffset = 0xfffffffe;
inline constexpr std::size_t kMaxEntries = 0xfffe;

struct CentralEntry {
    std::string name;
    std::uint64_t localOffset = 0;
    Bytes record; // the whole central directory record, as stored
};

struct Directory {
    std::vector<CentralEntry> entries; // in directory order
    std::uint64_t offset = 0;          // of the central directory, where the entries' data ends
    std::string comment;
};

// Reads the central directory of the archive of `size` bytes open at `fd`. Returns why the
// archive cannot be used (not a zip archive, damaged, ZIP64, spread over disks), or an empty
// text after filling `directory`.
std::string readDirectory(int fd, std::uint64_t size, Directory& directory);

struct NewEntry {
    std::string name;
    std::uint16_t method = kStored;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::time_t mtime = 0;
    std::uint32_t mode = 0644; // permission bits, for unzip
};

Bytes localHeader(const NewEntry& entry);
Bytes centralRecord(const NewEntry& entry, std::uint64_t localOffset);
// Points a central directory record at the local header at `localOffset`.
void moveRecord(Bytes& record, std::uint64_t localOffset);
Bytes endRecord(std::size_t entries, std::uint64_t directorySize, std::uint64_t directoryOffset,
                const std::string& comment);

} // namespace minizip
