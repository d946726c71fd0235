#pragma once

// Updating the end of a file in place with a way back.
//
// Before a file's bytes from some offset on are overwritten, they are saved, with the offset,
// the file's old length and which file it is (device and inode), to a journal beside it
// ("NAME-journal"), flushed to disk first. The update ends by flushing the file and deleting
// the journal. Whoever finds a journal puts the old bytes back first (recover), so a file whose
// update was cut short is always as it was before, or complete. A journal is checked whole
// before it is used: one cut short itself was written before the file was touched, and is only
// deleted; one written for another file than the one now under the name (the file was
// replaced since) is deleted without touching that file.

#include "result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::io {

// The journal's name for the file `name`, and whether a name is a journal's.
std::string journalName(std::string_view name);
bool isJournalName(std::string_view name);

class Journal {
public:
    Journal() = default;
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Saves the bytes of `file` (open for reading and writing; `name` in the open folder
    // `folder`, which must stay open) from `offset` to its end in a flushed journal. Fails with
    // the journal's name when that fails; the file is then untouched.
    Result<void> begin(int folder, std::string name, int file, std::uint64_t offset);
    // The saved bytes, which start at offset() of the file as it was.
    const std::vector<unsigned char>& saved() const { return m_saved; }
    std::uint64_t offset() const { return m_offset; }

    // Cuts the file at `length`, flushes it and deletes the journal: the update is done.
    Result<void> commit(std::uint64_t length);
    // Puts the saved bytes and the old length back, flushes the file, deletes the journal.
    Result<void> rollback();

private:
    int m_folder = -1;
    int m_file = -1;
    std::string m_name;
    std::uint64_t m_offset = 0;
    std::vector<unsigned char> m_saved;
};

// Puts `name` in `folder` back as its journal says, when there is one, and deletes the journal.
// Fails with the errno of what failed (the journal is then kept for the next try): ELOOP when
// a symbolic link has the journal's name, EISDIR a folder, EINVAL anything else that is not a
// file.
Result<void> recover(int folder, const std::string& name);

} // namespace corvane::io
