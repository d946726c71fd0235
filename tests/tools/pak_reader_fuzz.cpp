// libFuzzer target for the pack reader: any bytes must parse without a fault, and every member
// the reader accepts must lie inside the archive under a safe name.

#include "pak_format/format.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// An independent statement of a safe name: relative, '/' separated, no '.', '..' or empty
// parts, printable ASCII or UTF-8 bytes only.
bool safeName(const std::string& name) {
    std::string part;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        const unsigned char c = i < name.size() ? name[i] : '/';
        if (c < 0x20 || c == 0x7f || c == '\\' || c == ':')
            return false;
        if (c != '/') {
            part += char(c);
            continue;
        }
        if (part.empty() || part == "." || part == "..")
            return false;
        part.clear();
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pak::Checked<pak::Header> parsed = pak::parseHeader(data, size, size);
    if (!parsed)
        return 0;
    const pak::Header& header = *parsed;
    if (std::uint64_t(header.dirOffset) + header.dirLength > size)
        std::abort();
    for (const pak::Entry& e :
         pak::parseDirectory(data + header.dirOffset, header.dirLength, size)) {
        if (!e.problem.empty())
            continue;
        if (std::uint64_t(e.offset) + e.length > size || !safeName(e.name))
            std::abort();
        (void)pak::printable(e.name);
    }
    return 0;
}
