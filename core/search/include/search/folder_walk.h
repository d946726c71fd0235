#pragma once

// A plain walk of folder trees, as find makes it: each root depth first, sub-folders from the
// last in byte order to the first, each folder handed to a visitor after everything below it,
// so a root comes last. Paths and names are bytes; a folder's path ends with '/'.
//
// The walk never follows a symbolic link and never leaves the file system of its root: a mount
// point, a bind mount's too, is passed over as if it were no folder. Names that are not UTF-8
// are left out, as the rest of the program can neither show nor open them.
//
// A folder the user may not enter or read, and one that vanished, are passed over without a
// word; when the folder holding it vanished too, that folder's visit ends there, so its other
// sub-folders are not tried one by one. A drive that can no longer be reached (an I/O error, a
// stale network mount) is said once, and the rest of that root is left. Any other failure is
// said, and the walk goes on. Running out of memory ends a folder's visit quietly, and its
// parent's further sub-folders.

#include <string>
#include <vector>

namespace corvane {

// A folder of the walk, as its visitor sees it: everything it needs is read already.
struct WalkedFolder {
    std::string path; // absolute, ending with '/'
    // Its sub-folders in byte order, those it may not read included; a name that turned out to
    // be a link, a mount point or gone when the walk opened it is not among them.
    std::vector<std::string> folders;
    std::vector<std::string> files; // its ordinary files, in the order read
    std::vector<std::string> links; // its symbolic links, whatever they lead to
    // An O_PATH descriptor of the folder during the visit; -1 for a folder deeper than the
    // descriptors the walk keeps open.
    int fd = -1;

    // Whether the link `name` of the folder leads to an ordinary file.
    bool leadsToFile(const std::string& name) const;
};

class FolderVisitor {
public:
    virtual ~FolderVisitor() = default;
    // Looks at `folder`; false ends the whole walk.
    virtual bool visit(const WalkedFolder& folder) = 0;
    // The folder `path` could not be read for the system's reason `error` (an errno); once per
    // root for a drive that cannot be reached any more.
    virtual void failed(const std::string& path, int error) = 0;
};

// Walks `roots` (absolute, ending with '/'; links on the way to a root are followed) in order.
// A root that cannot be opened is passed over without a word.
void walkFolders(const std::vector<std::string>& roots, FolderVisitor& visitor);

} // namespace corvane
