#pragma once

// Writes the new end of an archive whose start stays as it is.
//
// When the old bytes after the kept start are few, the archive is updated in place behind a
// journal (io/journal.h): those bytes are saved first, and anything still needed from them is
// read from the saved copy. Otherwise, or for a new archive, a new file is written that replaces
// the old one only when complete (io/atomic_file.h), with the old one's mode (a new archive gets
// 0666 less the umask). Either way a failed or killed run leaves the archive as it was, once
// its journal is recovered.

#include "io/atomic_file.h"
#include "io/fd.h"
#include "io/journal.h"

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace minizip {

class ArchiveWriter {
public:
    // Starts after the first `kept` bytes of the archive `name` in the open folder `folder`,
    // open for reading at `old` (invalid for a new archive) and `oldSize` bytes long. False with
    // errno when nothing can be written.
    bool begin(int folder, const std::string& name, int old, std::uint64_t oldSize,
               std::uint64_t kept);
    bool inPlace() const { return m_inPlace.valid(); }

    // Reads old bytes of the archive, as they were before this update.
    bool readOld(void* data, std::size_t size, std::uint64_t at);

    // Writes at the write position and moves it on.
    bool write(const void* data, std::size_t size);
    // Writes at `at`, before the write position, leaving it alone.
    bool writeAt(const void* data, std::size_t size, std::uint64_t at);
    std::uint64_t tell() const { return m_cursor; }
    // Moves the write position back to `at`, dropping what was written after it.
    void rewind(std::uint64_t at) { m_cursor = at; }

    // Ends the archive at the write position and puts it in place.
    bool commit();
    // Leaves the archive as it was.
    void rollback();
    ~ArchiveWriter() { rollback(); }

private:
    bool flush();
    int fd() const { return m_inPlace ? m_inPlace.get() : m_whole.fd(); }

    int m_old = -1;
    std::uint64_t m_kept = 0;
    corvane::io::Fd m_inPlace; // the archive itself, open for writing
    corvane::io::Journal m_journal;
    corvane::io::AtomicFile m_whole;
    bool m_writing = false;
    // Written bytes not yet in the file, from m_base on; they reach it in large pieces.
    std::vector<unsigned char> m_buffer;
    std::uint64_t m_base = 0, m_cursor = 0;
};

} // namespace minizip
