#include "zip_format.h"

#include "io/rw.h"

#include <algorithm>
#include <cstring>

namespace minizip {
namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50, kCentralSignature = 0x02014b50,
                        kEndSignature = 0x06054b50, kZip64LocatorSignature = 0x07064b50;
constexpr std::size_t kCentralSize = 46;
// Made by: Unix, format 3.0, as zip writes.
constexpr std::uint16_t kMadeBy = 3 << 8 | 30;
// Bit 11: the name is UTF-8.
constexpr std::uint16_t kUtf8Name = 1 << 11;

std::uint16_t get16(const unsigned char* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}

std::uint32_t get32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void put16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void put32(Bytes& out, std::uint64_t value) {
    put16(out, std::uint32_t(value & 0xffff));
    put16(out, std::uint32_t(value >> 16 & 0xffff));
}

// MS-DOS date and time in local time, as zip stores them; 1980 at the earliest.
void dosTime(std::time_t when, std::uint16_t& time, std::uint16_t& date) {
    std::tm local{};
    if (!::localtime_r(&when, &local) || local.tm_year < 80) {
        time = 0, date = 1 << 5 | 1;
        return;
    }
    time = std::uint16_t(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    date = std::uint16_t((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
}

bool isUtf8Beyond7Bits(const std::string& name) {
    bool wide = false;
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const std::size_t length = c < 0x80       ? 1
                                   : c >> 5 == 6  ? 2
                                   : c >> 4 == 14 ? 3
                                   : c >> 3 == 30 ? 4
                                                  : 0;
        if (length == 0 || i + length > name.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(name[i + k]) & 0xc0) != 0x80)
                return false;
        wide = wide || length > 1;
        i += length;
    }
    return wide;
}

// The fields local headers and central records share, from "version needed" to the name's
// length.
void putCommon(Bytes& out, const NewEntry& entry) {
    std::uint16_t time = 0, date = 0;
    dosTime(entry.mtime, time, date);
    put16(out, entry.method == kDeflated ? 20 : 10);
    put16(out, isUtf8Beyond7Bits(entry.name) ? kUtf8Name : 0);
    put16(out, entry.method);
    put16(out, time);
    put16(out, date);
    put32(out, entry.crc);
    put32(out, entry.compressedSize);
    put32(out, entry.size);
    put16(out, std::uint32_t(entry.name.size()));
}

} // namespace

std::string readDirectory(int fd, std::uint64_t size, Directory& directory) {
    if (size < kEndSize)
        return "not a zip archive";
    // The end record, then a comment of up to 65535 bytes; most archives have none, so the
    // last few kilobytes are read first.
    Bytes tail;
    std::uint64_t tailAt = 0;
    std::size_t end = 0;
    for (const std::uint64_t wanted : {std::uint64_t(4096), std::uint64_t(kEndSize + 0xffff)}) {
        tail.resize(std::size_t(std::min(size, wanted)));
        tailAt = size - tail.size();
        if (!corvane::io::readAllAt(fd, tail.data(), tail.size(), tailAt))
            return std::strerror(errno);
        end = tail.size() - kEndSize + 1;
        do {
            --end;
            if (get32(&tail[end]) == kEndSignature &&
                end + kEndSize + get16(&tail[end + 20]) == tail.size())
                break;
        } while (end > 0);
        if (get32(&tail[end]) == kEndSignature || tail.size() == size)
            break;
    }
    const unsigned char* e = &tail[end];
    if (get32(e) != kEndSignature || end + kEndSize + get16(e + 20) != tail.size())
        return "not a zip archive";
    if (end >= 20 && get32(&tail[end - 20]) == kZip64LocatorSignature)
        return "a ZIP64 archive, which Quake 3 cannot read";
    if (get16(e + 4) != 0 || get16(e + 6) != 0 || get16(e + 8) != get16(e + 10))
        return "an archive spread over several disks";
    const std::size_t count = get16(e + 10);
    const std::uint64_t cdSize = get32(e + 12), cdOffset = get32(e + 16);
    if (cdOffset + cdSize != tailAt + end)
        return "damaged: the central directory is not where the end record says";
    directory.offset = cdOffset;
    directory.comment.assign(reinterpret_cast<const char*>(e + kEndSize), get16(e + 20));
    Bytes cd(cdSize);
    if (!corvane::io::readAllAt(fd, cd.data(), cd.size(), cdOffset))
        return std::strerror(errno);
    directory.entries.reserve(count);
    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (at + kCentralSize > cd.size() || get32(&cd[at]) != kCentralSignature)
            return "damaged: a central directory record is cut short";
        const unsigned char* r = &cd[at];
        const std::size_t length = kCentralSize + get16(r + 28) + get16(r + 30) + get16(r + 32);
        if (at + length > cd.size())
            return "damaged: a central directory record is cut short";
        if (get32(r + 20) == 0xffffffff || get32(r + 24) == 0xffffffff ||
            get32(r + 42) == 0xffffffff)
            return "a ZIP64 archive, which Quake 3 cannot read";
        CentralEntry entry;
        entry.name.assign(reinterpret_cast<const char*>(r + kCentralSize), get16(r + 28));
        entry.localOffset = get32(r + 42);
        if (entry.localOffset + kLocalHeaderSize > cdOffset)
            return "damaged: an entry lies past its data";
        entry.record.assign(r, r + length);
        directory.entries.push_back(std::move(entry));
        at += length;
    }
    if (at != cd.size())
        return "damaged: the central directory holds more than its records";
    return {};
}

Bytes localHeader(const NewEntry& entry) {
    Bytes out;
    out.reserve(kLocalHeaderSize + entry.name.size());
    put32(out, kLocalSignature);
    putCommon(out, entry);
    put16(out, 0); // no extra field
    out.insert(out.end(), entry.name.begin(), entry.name.end());
    return out;
}

Bytes centralRecord(const NewEntry& entry, std::uint64_t localOffset) {
    Bytes out;
    out.reserve(kCentralSize + entry.name.size());
    put32(out, kCentralSignature);
    put16(out, kMadeBy);
    putCommon(out, entry);
    put16(out, 0);                                                  // extra field
    put16(out, 0);                                                  // comment
    put16(out, 0);                                                  // disk
    put16(out, 0);                                                  // internal attributes
    put32(out, std::uint64_t(0100000 | (entry.mode & 0777)) << 16); // a regular file, Unix mode
    put32(out, localOffset);
    out.insert(out.end(), entry.name.begin(), entry.name.end());
    return out;
}

void moveRecord(Bytes& record, std::uint64_t localOffset) {
    for (int i = 0; i < 4; ++i)
        record[42 + std::size_t(i)] = static_cast<unsigned char>(localOffset >> (8 * i));
}

Bytes endRecord(std::size_t entries, std::uint64_t directorySize, std::uint64_t directoryOffset,
                const std::string& comment) {
    Bytes out;
    put32(out, kEndSignature);
    put16(out, 0);
    put16(out, 0);
    put16(out, std::uint32_t(entries));
    put16(out, std::uint32_t(entries));
    put32(out, directorySize);
    put32(out, directoryOffset);
    put16(out, std::uint32_t(comment.size()));
    out.insert(out.end(), comment.begin(), comment.end());
    return out;
}

} // namespace minizip
