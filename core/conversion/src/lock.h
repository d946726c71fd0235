#pragma once

// Locks that only a writer can hold: an open file description lock (F_OFD_SETLK) on a lock
// file of the user's own, opened for writing. Whoever may only read the folder can neither
// make the file nor open it for writing, so cannot block a conversion; a lock file that is not
// a regular file of the user is refused. The lock goes with its holder, also when the process
// is killed; the holder deletes the file when it lets go, and whoever takes a lock checks that
// the name still leads to the file it locked.

#include "io/fd.h"
#include "io/result.h"

#include <string>

namespace corvane {

class Lock {
public:
    enum class State { Taken, Busy };

    Lock() = default;
    ~Lock() { release(); }
    Lock(Lock&& other) noexcept;
    Lock& operator=(Lock&& other) noexcept;

    // Takes the lock file `name` in the open folder `folder`, which must stay open while the
    // lock is held; made (mode 0600) when missing, and with `fresh` only when it was not there
    // before. Taken, or Busy when someone else holds it; fails with the lock call's own errno
    // (ENOLCK, EINTR...), or EPERM for a file that is not a regular file of the user, or EEXIST
    // when `fresh` and the name is taken, and the name.
    io::Result<State> take(int folder, std::string name, bool fresh = false);
    bool held() const { return m_file.valid(); }
    // Deletes the lock file, if its name still leads to it, and lets go.
    void release();

private:
    int m_folder = -1;
    std::string m_name;
    io::Fd m_file;
};

// The name of the lock file of the work folder and of qfbastion for this user.
std::string folderLockName();

} // namespace corvane
