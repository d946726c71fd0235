#pragma once

// A folder tree reached one component at a time from an open root folder.
//
// Paths are relative, with '/' separators; runs of separators count as one, and "." or ".."
// components are refused (EINVAL), so nothing above the root is ever reached. With
// Links::Refuse a symbolic link anywhere on the way, or at the end, is never followed: a link
// where a folder is needed fails with ELOOP, and one at the end is reported as Kind::Link
// (unlinking it removes the link itself). A component that does not exist exactly is looked up
// ignoring ASCII case (the smallest matching name in byte order wins), and each folder is
// listed at most once until forget(): call it after something else changed the tree.
//
// Functions that can fail give a Result, failing with the errno and the path asked for.

#include "fd.h"
#include "result.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

namespace corvane::io {

enum class Links { Refuse, Follow };
enum class Kind { Missing, File, Folder, Link, Other };

// ASCII letters compared without case; every other byte as it is.
bool equalIgnoringAsciiCase(std::string_view a, std::string_view b);
// `text` with its ASCII letters in lower case: the key of a name ignoring case.
std::string lowerAscii(std::string_view text);

class Tree {
public:
    Tree() = default;
    // The tree below the folder `root`, which the tree keeps open.
    Tree(Fd root, Links links) : m_root(std::move(root)), m_links(links) {}
    // Opens the folder at `path` (following links to it: the caller chose it) as a tree root.
    static Result<Tree> open(const std::string& path, Links links);

    bool valid() const { return m_root.valid(); }
    int root() const { return m_root.get(); }

    struct Entry {
        Kind kind = Kind::Missing;
        int error = 0;    // why the entry could not be examined; kind is Missing then
        std::string path; // as written on disk, where it was found
    };
    // What stands at `relative`. A folder on the way that is missing gives Missing; one that
    // cannot be entered gives its error.
    Entry find(std::string_view relative);

    // Opens the file at `relative` with `flags` (O_CLOEXEC is added; O_NOFOLLOW too when links
    // are refused). Creating (O_CREAT) uses the name as given when no name matches.
    Result<Fd> openFile(std::string_view relative, int flags, mode_t mode = 0666);
    // Opens the folder at `relative` for listing ("" is the root itself).
    Result<Fd> openFolder(std::string_view relative);
    // Opens the folder at `relative`, creating the missing folders on the way with `mode`.
    Result<Fd> makeFolders(std::string_view relative, mode_t mode = 0777);

    // Deletes the file (or link) at `relative`; ENOENT when there is none, EISDIR for a folder.
    Result<void> removeFile(std::string_view relative);
    // Removes the empty folder at `relative`; ENOENT when there is none, ENOTDIR for a file or
    // link, ENOTEMPTY when something is still in it.
    Result<void> removeFolder(std::string_view relative);

    // Forgets the folder listings read so far and the folder kept open.
    void forget() {
        m_listings.clear();
        m_last = {};
    }

    // Where `relative` is: the open folder (O_PATH) that holds its last component, reached like
    // the rest of the tree and with the missing folders on the way made with `mode` when
    // `create`; that component's name as on disk (as given when nothing matches); and the
    // folder's path on disk. Fails when the folder cannot be reached.
    struct Place {
        Fd folder;
        std::string name;
        std::string folderPath;
    };
    Result<Place> place(std::string_view relative, bool create = false, mode_t mode = 0777);
    // The place of `name`, one component, in the folder of `place`, without walking to it again.
    Result<Place> sibling(const Place& place, std::string_view name);
    // Keeps the listings true after `place.name` was made in `place.folder` by other means.
    void created(const Place& place) { added(place.folderPath, place.name); }

private:
    // The open folder that holds the last component of `relative` (kept by the tree until the
    // next call), and that component's name as it is on disk (as given when nothing matches).
    // -1 with errno when it cannot be reached. `create` makes missing folders.
    // `examined`, when given, receives what the look-up learnt of the entry, not following a link,
    // when it examined it.
    int locate(std::string_view relative, std::string& name, std::string& onDisk, bool create,
               mode_t mode, std::optional<struct stat>* examined = nullptr);
    // Walks from the root to the folder holding the last of `parts`; its path on disk in
    // `onDisk`.
    Fd walk(const std::vector<std::string>& parts, std::string& onDisk, bool create, mode_t mode);
    // The name in `folder` (known as `key`) that matches `part`, exactly or ignoring case, in
    // `name`; false with errno when the folder could not be read to its end.
    bool match(int folder, const std::string& key, const std::string& part, std::string& name,
               std::optional<struct stat>* examined = nullptr);
    int folderFlags() const;
    // Keeps the listing of the folder `key` true after the tree itself added or removed `name`.
    void added(const std::string& key, const std::string& name);
    void removed(const std::string& key, const std::string& name);

    Fd m_root;
    Links m_links = Links::Refuse;
    // The names of one folder by their lower-cased form: the smallest spelling in byte order,
    // and how many spellings there are (at least; a name added again counts twice).
    struct Spellings {
        std::string smallest;
        int count;
    };
    using Listing = std::unordered_map<std::string, Spellings>;
    static void note(Listing& listing, const std::string& name);

    // Per folder, by its path on disk.
    std::unordered_map<std::string, Listing> m_listings;
    // The folder located last: its path as asked for, its path on disk, and the folder.
    struct {
        std::string key;
        std::string path;
        Fd folder;
    } m_last;
};

// Whether `path` lies below the folder it is relative to: relative, with no "." or ".."
// component.
bool isBelow(std::string_view path);

} // namespace corvane::io
