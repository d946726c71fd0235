#pragma once

// Where conversions work. The work folder is the program folder when it belongs to the user,
// the user may write there, no one else may, and it is none of the system's folders: an installed
// program never works where it is installed, not even for root. Otherwise it is "corvane/work" in
// the user's cache ($XDG_CACHE_HOME, else ~/.cache), and every folder on the way down from the
// cache must be the user's own and no symbolic link; the program's own folders there are kept for
// the user alone (mode 0700). Names are taken exactly as they are, never ignoring case.
//
// A conversion locks the work folder for its whole run, so that one conversion at a time works
// there, and works in a folder of its own inside it (RunFolder).

#include "conversion/notice.h"
#include "io/fd.h"
#include "lock.h"
#include "platform/error.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace corvane {

class WorkFolder {
public:
    WorkFolder() = default;
    // Removes the folders that open() made, unless the run started (keep()).
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // Chooses and opens the work folder for the program in `programFolder`; fails with the
    // notice that says why no folder can be used.
    io::Result<void, Notice> open(const QString& programFolder);

    const QString& path() const { return m_path; }
    int fd() const { return m_folder.get(); }
    // The run starts: the folders made for it stay, and the program's own folders in the cache
    // are made the user's alone (mode 0700); raises the error when one cannot be.
    void keep();
    // A folder open() made: its parent (none: a path) and its name.
    struct Made {
        io::Fd parent;
        std::string name;
    };
    // The lock of the work folder, held for the conversion as long as the object lives.
    Lock& lock() { return m_lock; }
    // Removes the folders of earlier runs that were killed before they could remove their own:
    // those whose lock can be taken.
    void removeLeftovers();

private:
    // Opens the cache's work folder, making what is missing; the notice when it cannot.
    io::Result<void, Notice> openInCache(const QString& programFolder);

    QString m_path;
    io::Fd m_folder;
    Lock m_lock; // let go before the folder is closed
    std::vector<Made> m_made;
    struct Private {
        io::Fd fd;
        QString path;
    };
    std::vector<Private> m_private; // the program's own folders in the cache
    bool m_kept = false;
};

} // namespace corvane
