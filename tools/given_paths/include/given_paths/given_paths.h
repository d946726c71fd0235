#pragma once

// Paths named on a tool's command line. One below the current folder (relative, with no "."
// or ".." component) is reached through a tree of the current folder that refuses links, so
// that no link is followed on the way or at the end; any other path is the user's own choice
// and is used as given.

#include "io/fd.h"
#include "io/result.h"
#include "io/tree.h"

#include <string>

namespace corvane::tools {

// Opens the path with `flags` (O_CLOEXEC is added).
io::Result<io::Fd> openGiven(const std::string& path, int flags);
// Where the path is; for a path not below, its folder as given and its last component.
io::Result<io::Tree::Place> placeGiven(const std::string& path);

} // namespace corvane::tools
