#pragma once

// A file that appears under its name only once it is complete, replacing what had the name.
//
// The data goes to an unnamed file in the target folder (O_TMPFILE), which vanishes by itself
// if the process dies; commit() links it in under a temporary name and renames that over the
// final name. Where the file system has no unnamed files it is written under the temporary
// name from the start. Temporary names are ".NAME.tmp-XXXXXX", which no other file has.

#include "fd.h"
#include "result.h"

#include <string>
#include <string_view>

#include <sys/types.h>

namespace corvane::io {

// A fresh temporary name for `name`: ".NAME.tmp-" and six random letters or digits.
std::string temporaryName(const std::string& name);

class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile() { discard(); }

    // Starts the file `name` in the open folder `folder`, which must stay open until commit()
    // or discard(). The file gets `mode` as it is (no umask applied). Fails with `name`.
    Result<void> create(int folder, std::string name, mode_t mode);
    int fd() const { return m_fd.get(); }

    // Puts the file in place under its name, with Flush after writing its data to the disk
    // first. A file already under the name is replaced: Atomic renames over it, so that one or
    // the other is always there, but a process killed at that moment can leave the temporary
    // name; RemoveFirst deletes it first, so that a kill leaves no temporary name, but may
    // leave neither file. Fails with the name when that fails; the old file is then untouched.
    enum class Durability { Flush, NoFlush };
    enum class Replace { Atomic, RemoveFirst };
    Result<void> commit(Durability durability = Durability::Flush,
                        Replace replace = Replace::Atomic);
    // Drops the file; the old file of that name is untouched.
    void discard();

private:
    bool linkUnder(const std::string& temporary);

    int m_folder = -1;
    std::string m_name;
    std::string m_temporary; // the name it has on disk already; empty while unnamed
    Fd m_fd;
};

} // namespace corvane::io
