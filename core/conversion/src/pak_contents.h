#pragma once

// What a Quake 2 pack holds, read from its directory before anything is unpacked, so that a
// pack the tool would refuse, or one made to fill the disk, stops the conversion before it
// starts, and the room the members will take is known.

#include "conversion/packs.h"
#include "io/fd.h"
#include "pak_format/format.h"
#include "platform/error.h"

#include <QString>

#include <string>
#include <vector>

namespace corvane {

struct PakContents {
    std::vector<pak::Entry> members;
    // The pack as it was checked, open for the tool that unpacks it: a file put under its
    // name after the check is not the one unpacked.
    io::Fd file;

    // The bytes on disk that the members `pack` unpacks take once unpacked, counting whole
    // blocks of 4 KiB.
    qint64 unpackedBytes(const packs::Pack& pack) const;
};

// Opens the pack at `path` (a path for the system) and reads its directory; fails with why the
// pack cannot be unpacked, whose plain() is for the user's eyes.
Result<PakContents> readPakContents(const std::string& path);

} // namespace corvane
