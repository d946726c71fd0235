#include "pak_format/format.h"

#include <algorithm>
#include <cstring>

namespace pak {

std::uint32_t readLe32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void writeLe32(unsigned char* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}

Checked<Header> parseHeader(const unsigned char* bytes, std::size_t size, std::uint64_t fileSize) {
    if (size < kHeaderSize || std::memcmp(bytes, "PACK", 4) != 0)
        return Problem{"not a pack file"};
    const Header h{readLe32(bytes + 4), readLe32(bytes + 8)};
    if (h.dirLength % kEntrySize != 0)
        return Problem{"directory length " + std::to_string(h.dirLength) +
                       " is not a multiple of 64"};
    if (h.dirLength / kEntrySize > kMaxEntries)
        return Problem{"directory claims " + std::to_string(h.dirLength / kEntrySize) + " members"};
    if (std::uint64_t(h.dirOffset) + h.dirLength > fileSize)
        return Problem{"directory lies past the end of the file"};
    if (h.dirLength != 0 && h.dirOffset < kHeaderSize)
        return Problem{"directory overlaps the header"};
    return h;
}

std::vector<Entry> parseDirectory(const unsigned char* bytes, std::size_t size,
                                  std::uint64_t fileSize) {
    std::vector<Entry> entries;
    entries.reserve(size / kEntrySize);
    for (std::size_t at = 0; at + kEntrySize <= size; at += kEntrySize) {
        const unsigned char* raw = bytes + at;
        const auto* end = static_cast<const unsigned char*>(std::memchr(raw, 0, kNameSize));
        Entry e;
        e.name.assign(reinterpret_cast<const char*>(raw), end ? size_t(end - raw) : kNameSize);
        e.offset = readLe32(raw + kNameSize);
        e.length = readLe32(raw + kNameSize + 4);
        if (!end)
            e.problem = "name has no terminating NUL";
        else if (const Checked<void> named = checkName(e.name); !named)
            e.problem = named.failure().why;
        if (e.problem.empty() && std::uint64_t(e.offset) + e.length > fileSize)
            e.problem = "data lies past the end of the archive";
        entries.push_back(std::move(e));
    }
    return entries;
}

Checked<void> checkLayout(const std::vector<Entry>& entries, const Header& header,
                          std::uint64_t fileSize) {
    std::vector<const Entry*> byOffset;
    for (const Entry& entry : entries)
        if (entry.length > 0)
            byOffset.push_back(&entry);
    std::sort(byOffset.begin(), byOffset.end(),
              [](const Entry* a, const Entry* b) { return a->offset < b->offset; });
    const std::uint64_t dirStart = header.dirOffset, dirEnd = dirStart + header.dirLength;
    const Entry* reaching = nullptr; // of the members before, the one whose bytes reach furthest
    for (const Entry* entry : byOffset) {
        const std::uint64_t start = entry->offset, end = start + entry->length;
        const std::string name = "member " + printable(entry->name);
        if (end > fileSize)
            return Problem{name + " lies past the end of the file"};
        if (start < kHeaderSize)
            return Problem{name + " lies over the header"};
        if (start < dirEnd && dirStart < end)
            return Problem{name + " lies over the directory"};
        if (reaching && start < std::uint64_t(reaching->offset) + reaching->length)
            return Problem{"members " + printable(reaching->name) + " and " +
                           printable(entry->name) + " share their bytes"};
        if (!reaching || end > std::uint64_t(reaching->offset) + reaching->length)
            reaching = entry;
    }
    return {};
}

Checked<void> checkName(std::string_view name) {
    if (name.empty())
        return Problem{"empty name"};
    for (const char byte : name) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x20 || c == 0x7f)
            return Problem{"control character in name"};
        // Pack names always use '/'; a backslash is a separator on some systems.
        if (c == '\\')
            return Problem{"backslash in name"};
        // Drive letters and alternate data streams.
        if (c == ':')
            return Problem{"colon in name"};
    }
    if (name.front() == '/')
        return Problem{"absolute path"};
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = name.find('/', start);
        const std::string_view part = name.substr(start, slash - start);
        if (part.empty())
            return Problem{"empty path component"};
        if (part == "." || part == "..")
            return Problem{"'.' or '..' path component"};
        if (slash == std::string_view::npos)
            return {};
        start = slash + 1;
    }
}

std::string printable(std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x20 || c >= 0x7f) {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

} // namespace pak
