#pragma once

// A libzip source over an archive file, for zip_open_from_source.

#include <string>
#include <zip.h>

namespace minizip {

// A read/write source over the archive `name` in the open folder `folder` (which it keeps
// open; the archive need not exist yet). The archive is never reached through a link.
//
// On zip_close libzip asks it to keep the archive's unchanged start
// (ZIP_SOURCE_BEGIN_WRITE_CLONING). Then, when what follows that start is small, the source
// updates the archive in place behind a journal (io/journal.h): it saves those bytes, writes
// the new entries and central directory over them, and reads whatever libzip still needs from
// the saved copy. Otherwise, or for a new archive, it writes a new file that replaces the old
// one only when complete (io/atomic_file.h), with the old one's mode (a new archive gets 0666
// less the umask). Either way a failed or killed run leaves the archive as it was, once the
// journal has been recovered. With CORVANE_MINIZIP_TRACE set it says on stderr which way it
// writes. Returns null and sets `error` on failure.
zip_source_t* archiveSource(int folder, const std::string& name, zip_error_t* error);

} // namespace minizip
