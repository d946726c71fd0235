#pragma once

// The minizip command: adds files to a zip archive, replacing entries of the same name.

#include <string>
#include <string_view>
#include <vector>

namespace minizip {

enum ExitCode { kExitOk = 0, kExitPartial = 1, kExitRefused = 2 };

// Adds each of `files` (relative paths, '\' or '/' separated) to `archive`, creating it when
// needed. Messages go to stderr; returns the exit code of the command.
int addFiles(const std::string& archive, const std::vector<std::string>& files);

// The entry name for a FILE argument: '\' turned into '/', empty and '.' parts dropped. Sets
// `problem` and returns an empty name when the path is absolute or climbs with "..".
std::string entryName(std::string_view file, std::string& problem);

} // namespace minizip
