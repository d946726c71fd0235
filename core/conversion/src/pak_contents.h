#pragma once

// What a Quake 2 pack holds, read from its directory before anything is unpacked, so that a
// pack the tool would refuse, or one made to fill the disk, stops the conversion before it
// starts, and the room the members will take is known.

#include "conversion/packs.h"
#include "pak_format/format.h"

#include <QString>

#include <string>
#include <vector>

namespace corvane {

struct PakContents {
    std::vector<pak::Entry> members;

    // The bytes on disk that the members `pack` unpacks take once unpacked, counting whole
    // blocks of 4 KiB.
    qint64 unpackedBytes(const packs::Pack& pack) const;
};

// Reads the directory of the pack at `path` (a path for the system) into `contents`. Returns
// why the pack cannot be unpacked, for the user's eyes, or an empty text.
QString readPakContents(const std::string& path, PakContents& contents);

} // namespace corvane
