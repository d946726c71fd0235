#pragma once

// The libzip source over the archive file, for zip_open_from_source.
//
// libzip reads the archive through it and, in zip_close, writes the new archive through it.
// It asks to keep the archive's unchanged start (ZIP_SOURCE_BEGIN_WRITE_CLONING: the entries
// before the first one replaced, or all of them when only adding). When few bytes follow that
// start, the source updates the archive in place behind a journal (io/journal.h): it saves those
// bytes and the old length to the journal, flushes it, and then lets libzip write the new
// entries and central directory over them, reading anything libzip still needs of them from
// the saved copy. Otherwise, or for a new archive, it writes a new file beside the archive that
// replaces it only when complete (io/atomic_file.h), with the unchanged start copied in the
// kernel and the old archive's mode (a new archive gets 0666 less the umask). Either way a
// failed or killed run leaves the archive as it was, once its journal is recovered.

#include <string>
#include <zip.h>

namespace minizip {

// A source over the archive `name` in the open folder `folder`; `archive` is the archive open
// for reading, or -1 when there is none yet. Both descriptors are duplicated. With
// CORVANE_MINIZIP_TRACE set it says on stderr which way it writes. Null with `error` set when
// it cannot be made.
zip_source_t* archiveSource(int folder, const std::string& name, int archive, zip_error_t* error);

} // namespace minizip
