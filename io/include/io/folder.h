#pragma once

// Folders read, made and removed through descriptors, never through a symbolic link.
//
// A folder's entries are read through FolderReader, which tells a failed read from the end of
// the folder: a listing cut short by an error is an error, never a shorter folder.

#include "fd.h"
#include "result.h"

#include <string>
#include <vector>

#include <dirent.h>
#include <sys/types.h>

namespace corvane::io {

class FolderReader {
public:
    // Reads the folder `folder` (any descriptor of it, O_PATH included); valid() tells whether
    // it could be opened for reading, error() why not.
    explicit FolderReader(int folder);
    ~FolderReader();
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    bool valid() const { return m_dir != nullptr; }
    // The descriptor of the folder being read (for *at calls on its entries).
    int fd() const;
    // The next entry other than "." and "..": nullptr at the end of the folder and when
    // reading fails; error() then tells which (0 at the end).
    const dirent* next();
    int error() const { return m_error; }

private:
    DIR* m_dir = nullptr;
    int m_error = 0;
};

// The names in `folder`, other than "." and "..", in the order the folder gives them; a
// listing cut short fails.
Result<std::vector<std::string>> listNames(int folder);

// Opens `path` with `flags` (O_CLOEXEC is added) as open() does, also when it is longer than
// the system takes in one call: then a stretch of folders at a time, each through the last.
// Fails with `path`.
Result<Fd> openPath(const std::string& path, int flags, mode_t mode = 0);

// Removes `name` in `parent` with everything below it; a link is removed, never followed. A
// folder in it that may not be read is given its owner's rights first (only its owner can).
// Succeeds also when nothing has the name; fails with the first failure (and the name below
// `parent` that failed), whatever could be removed being gone then.
Result<void> removeTree(int parent, const std::string& name);

// `count` random ASCII letters or digits, for names no one else has.
std::string randomLetters(std::size_t count);

// Makes the new folder `name` in `parent` with `mode` as it is and opens it (O_RDONLY). Fails
// with `name` (EEXIST when the name is taken) when it cannot.
Result<Fd> makeFolder(int parent, const std::string& name, mode_t mode = 0700);
// `prefix` followed by six random letters or digits: a name no one else has.
std::string uniqueName(const std::string& prefix);
// Whether `name` is one that uniqueName gives for `prefix`.
bool isUniqueName(const std::string& name, const std::string& prefix);

} // namespace corvane::io
