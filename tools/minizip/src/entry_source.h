#pragma once

// The files of a run as libzip sources whose data is deflated already, so that libzip writes
// it as it is.
//
// A first pass deflates every file once, on every core, to learn each entry's method (deflated,
// or stored when deflate does not make it smaller), length and CRC, which the sources report
// to libzip before it writes the entry. Files of at most 8 MiB are read whole and deflated by
// libdeflate in parts of at most 24 MiB, and the part libzip writes comes into memory when
// libzip opens its first entry: the first part stays in memory from the first pass, later ones
// are deflated again then. Larger files are deflated by zlib a piece at a time, once to
// measure and once while libzip writes them. Memory use stays that of one part.

#include "io/fd.h"
#include "packer.h"

#include <cstdint>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <zip.h>

namespace minizip {

// An Input::error for a file whose bytes changed between the two passes.
inline constexpr int kChanged = -1;

struct Input {
    std::string file; // as given
    std::string name; // of its entry
    corvane::io::Fd fd;
    struct stat st {};
    std::uint64_t size() const { return std::uint64_t(st.st_size); }

    int error = 0; // errno, or kChanged, once it cannot be added
    bool deflated = false;
    std::uint32_t crc = 0;
    std::uint64_t length = 0; // of the entry's data
    std::size_t part = 0;
    const unsigned char* data = nullptr; // the entry's data while its part is in memory
};

// Why an input could not be added, for a message.
std::string inputError(int error);

class Parts {
public:
    explicit Parts(unsigned threads);

    // Deflates `inputs`, given in the order libzip writes them, for the first time. Sets the
    // error of each that cannot be read.
    void prepare(const std::vector<Input*>& inputs);
    // Brings the data of part `part` into memory.
    void load(std::size_t part);

private:
    void pack(std::size_t part, bool first);

    Packer m_packer;
    std::vector<std::vector<Input*>> m_parts;
    std::size_t m_loaded = SIZE_MAX;
};

// The source of the entry of `input`, whose data comes from `parts` or, for a large file, is
// deflated while libzip reads it. It reports the file's mode and modification time. Null when
// libzip refuses it; `zip` then says why.
zip_source_t* entrySource(zip_t* zip, Input& input, Parts& parts);

} // namespace minizip
