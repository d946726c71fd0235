#pragma once

// A libzip source over an archive file, for zip_open_from_source.

#include <string>
#include <zip.h>

namespace minizip {

// A read/write source over the archive at `path`, which need not exist yet. On zip_close it
// writes the new archive to `path.XXXXXX` (the old archive's mode, or 0666 less the umask) and
// renames it over `path`; a failed or killed run leaves `path` as it was. It supports
// ZIP_SOURCE_BEGIN_WRITE_CLONING, so libzip starts the new archive as an in-kernel copy of the
// unchanged start of the old one and writes only what follows. With CORVANE_MINIZIP_TRACE set
// it says on stderr which of the two ways it writes. Returns null and sets `error` on failure.
zip_source_t* archiveSource(const std::string& path, zip_error_t* error);

} // namespace minizip
