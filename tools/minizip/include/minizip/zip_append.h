#pragma once

// The minizip command: adds files to a zip archive, replacing entries of the same name.

#include <string>
#include <vector>

namespace minizip {

enum ExitCode { kExitOk = 0, kExitPartial = 1, kExitRefused = 2 };

// Adds each of `files` (relative paths, '\' or '/' separated) to `archive`, creating it when
// needed. Messages go to stderr; returns the exit code of the command.
int addFiles(const std::string& archive, const std::vector<std::string>& files);

} // namespace minizip
