#pragma once

// The constant tables generated from the text files (manifest_gen.cmake), one string per line.

#include "conversion/manifests.h"

namespace corvane::pakinfo::detail {

extern const char* const kPak0Entries[kPak0ManifestSize];
extern const char* const kTempFolderEntries[kTempFolderCount];

} // namespace corvane::pakinfo::detail
