#pragma once

// The pak command: extract, list and create Quake 2 pack files. Each function writes its
// messages to stderr and returns the exit code of the command.

#include <string>
#include <vector>

namespace pak {

enum ExitCode { kExitOk = 0, kExitPartial = 1, kExitRefused = 2 };

// Writes every member of `archive`, or only those in `members`, below the folder
// `destination` at their stored paths. With `fd`, the pack is read from that open descriptor,
// and `archive` only names it.
int extract(const std::string& archive, const std::vector<std::string>& members,
            const std::string& destination = ".", int fd = -1);

// Prints "name<TAB>size" for every member, in directory order.
int list(const std::string& archive);

// Writes a pack of every regular file below `folder`, in byte order of their paths.
int create(const std::string& archive, const std::string& folder);

} // namespace pak
