// Over 300 lines: every operation of Tree goes through the same listing cache and the folder
// kept open, so the class stays in one file.

#include "io/tree.h"

#include "io/folder.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

namespace corvane::io {

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The components of `relative`; false (errno EINVAL) for a "." or ".." component.
bool split(std::string_view relative, std::vector<std::string>& parts) {
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos)
            end = relative.size();
        const std::string_view part = relative.substr(start, end - start);
        if (part == "." || part == "..") {
            errno = EINVAL;
            return false;
        }
        if (!part.empty())
            parts.emplace_back(part);
        start = end + 1;
    }
    return true;
}

Kind kindOf(mode_t mode) {
    if (S_ISREG(mode))
        return Kind::File;
    if (S_ISDIR(mode))
        return Kind::Folder;
    if (S_ISLNK(mode))
        return Kind::Link;
    return Kind::Other;
}

// The folder that holds `onDisk`, the path of an entry as written on disk.
std::string parentKey(const std::string& onDisk) {
    const std::size_t slash = onDisk.rfind('/');
    return slash == std::string::npos ? std::string() : onDisk.substr(0, slash);
}

} // namespace

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = lowerAscii(c);
    return lower;
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

Result<Tree> Tree::open(const std::string& path, Links links) {
    Result<Fd> root = openPath(path, O_PATH | O_DIRECTORY);
    if (!root)
        return root.failure();
    return Tree(std::move(root).value(), links);
}

int Tree::folderFlags() const {
    return O_DIRECTORY | O_CLOEXEC | (m_links == Links::Refuse ? O_NOFOLLOW : 0);
}

bool Tree::match(int folder, const std::string& key, const std::string& part, std::string& name,
                 std::optional<struct stat>* examined) {
    name = part;
    struct stat info;
    if (::fstatat(folder, part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (examined)
            *examined = info;
        return true;
    }
    if (errno != ENOENT)
        return true;
    auto listing = m_listings.find(key);
    if (listing == m_listings.end()) {
        FolderReader reader(folder);
        // A folder that may be searched but not read: only the exact name can be found.
        if (!reader.valid())
            return true;
        Listing names;
        while (const dirent* entry = reader.next())
            note(names, entry->d_name);
        if (reader.error() != 0) {
            errno = reader.error();
            return false;
        }
        listing = m_listings.emplace(key, std::move(names)).first;
    }
    const auto found = listing->second.find(lowerAscii(part));
    if (found != listing->second.end())
        name = found->second.smallest;
    return true;
}

void Tree::note(Listing& listing, const std::string& name) {
    auto [it, inserted] = listing.try_emplace(lowerAscii(name), Spellings{name, 1});
    if (!inserted && name != it->second.smallest) {
        ++it->second.count;
        it->second.smallest = std::min(it->second.smallest, name);
    }
}

void Tree::added(const std::string& key, const std::string& name) {
    const auto listing = m_listings.find(key);
    if (listing != m_listings.end())
        note(listing->second, name);
}

void Tree::removed(const std::string& key, const std::string& name) {
    const auto listing = m_listings.find(key);
    if (listing == m_listings.end())
        return;
    const auto entry = listing->second.find(lowerAscii(name));
    if (entry == listing->second.end())
        return;
    // Which of several spellings remain is only known by reading the folder again.
    if (entry->second.count > 1 || entry->second.smallest != name)
        m_listings.erase(listing);
    else
        listing->second.erase(entry);
}

Fd Tree::walk(const std::vector<std::string>& parts, std::string& onDisk, bool create,
              mode_t mode) {
    Fd folder(::fcntl(m_root.get(), F_DUPFD_CLOEXEC, 0));
    onDisk.clear();
    for (std::size_t i = 0; folder && i + 1 < parts.size(); ++i) {
        std::string part;
        if (!match(folder.get(), onDisk, parts[i], part))
            return Fd();
        int next = ::openat(folder.get(), part.c_str(), O_PATH | folderFlags());
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(folder.get(), part.c_str(), mode) == 0)
                added(onDisk, part);
            else if (errno != EEXIST)
                return Fd();
            next = ::openat(folder.get(), part.c_str(), O_PATH | folderFlags());
        }
        if (next < 0) {
            // A link or a file where a folder is needed counts as a missing folder.
            if (errno == ELOOP || errno == ENOTDIR)
                errno = ENOENT;
            return Fd();
        }
        folder.reset(next);
        onDisk += onDisk.empty() ? part : "/" + part;
    }
    return folder;
}

int Tree::locate(std::string_view relative, std::string& name, std::string& onDisk, bool create,
                 mode_t mode, std::optional<struct stat>* examined) {
    std::vector<std::string> parts;
    if (!split(relative, parts))
        return -1;
    if (parts.empty()) {
        errno = EINVAL;
        return -1;
    }
    std::string key;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
        key += (i ? "/" : "") + parts[i];
    // Paths of one folder usually follow each other: its folder is reached once for all.
    if (!m_last.folder || key != m_last.key) {
        m_last.folder = walk(parts, m_last.path, create, mode);
        m_last.key = m_last.folder ? key : std::string();
        if (!m_last.folder)
            return -1;
    }
    onDisk = m_last.path;
    if (!match(m_last.folder.get(), onDisk, parts.back(), name, examined))
        return -1;
    onDisk += onDisk.empty() ? name : "/" + name;
    return m_last.folder.get();
}

Tree::Entry Tree::find(std::string_view relative) {
    Entry entry;
    std::string name;
    // The look-up examined the entry already when it found its name as given, without links.
    std::optional<struct stat> known;
    const int folder = locate(relative, name, entry.path, false, 0, &known);
    struct stat info;
    const int flags = m_links == Links::Refuse ? AT_SYMLINK_NOFOLLOW : 0;
    if (folder >= 0 && known && m_links == Links::Refuse) {
        info = *known;
    } else if (folder < 0 || ::fstatat(folder, name.c_str(), &info, flags) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            entry.error = errno;
        return entry;
    }
    entry.kind = kindOf(info.st_mode);
    return entry;
}

namespace {

// `fd`, or the failure of the call that gave the invalid one, with `relative`.
Result<Fd> opened(Fd fd, std::string_view relative) {
    if (!fd)
        return lastFailure(std::string(relative));
    return fd;
}

} // namespace

Result<Fd> Tree::openFile(std::string_view relative, int flags, mode_t mode) {
    std::string name, onDisk;
    const int folder = locate(relative, name, onDisk, false, 0);
    if (folder < 0)
        return lastFailure(std::string(relative));
    const int nofollow = m_links == Links::Refuse ? O_NOFOLLOW : 0;
    Fd file(::openat(folder, name.c_str(), flags | O_CLOEXEC | nofollow, mode));
    if (file && (flags & O_CREAT))
        added(parentKey(onDisk), name);
    return opened(std::move(file), relative);
}

Result<Fd> Tree::openFolder(std::string_view relative) {
    std::string name, onDisk;
    std::vector<std::string> parts;
    if (!split(relative, parts))
        return lastFailure(std::string(relative));
    if (parts.empty())
        return opened(Fd(::openat(m_root.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
                      relative);
    const int folder = locate(relative, name, onDisk, false, 0);
    if (folder < 0)
        return lastFailure(std::string(relative));
    return opened(Fd(::openat(folder, name.c_str(), O_RDONLY | folderFlags())), relative);
}

Result<Fd> Tree::makeFolders(std::string_view relative, mode_t mode) {
    std::string name, onDisk;
    std::vector<std::string> parts;
    if (!split(relative, parts))
        return lastFailure(std::string(relative));
    if (parts.empty())
        return opened(Fd(::openat(m_root.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
                      relative);
    const int folder = locate(relative, name, onDisk, true, mode);
    if (folder < 0)
        return lastFailure(std::string(relative));
    if (::mkdirat(folder, name.c_str(), mode) == 0)
        added(parentKey(onDisk), name);
    else if (errno != EEXIST)
        return lastFailure(std::string(relative));
    Fd made(::openat(folder, name.c_str(), O_RDONLY | folderFlags()));
    if (!made && (errno == ELOOP || errno == ENOTDIR)) // something else holds the name
        return Failure{EEXIST, std::string(relative)};
    return opened(std::move(made), relative);
}

Result<Tree::Place> Tree::place(std::string_view relative, bool create, mode_t mode) {
    Place place;
    std::string onDisk;
    const int folder = locate(relative, place.name, onDisk, create, mode);
    if (folder < 0)
        return lastFailure(std::string(relative));
    place.folder.reset(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!place.folder)
        return lastFailure(std::string(relative));
    place.folderPath = parentKey(onDisk);
    return place;
}

Result<Tree::Place> Tree::sibling(const Place& place, std::string_view name) {
    Place next;
    const std::string relative =
        place.folderPath.empty() ? std::string(name) : place.folderPath + "/" + std::string(name);
    next.folder.reset(::fcntl(place.folder.get(), F_DUPFD_CLOEXEC, 0));
    next.folderPath = place.folderPath;
    if (!next.folder || !match(next.folder.get(), next.folderPath, std::string(name), next.name))
        return lastFailure(relative);
    return next;
}

bool isBelow(std::string_view path) {
    std::vector<std::string> parts;
    return !path.empty() && path.front() != '/' && split(path, parts) && !parts.empty();
}

Result<void> Tree::removeFile(std::string_view relative) {
    std::string name, onDisk;
    const int folder = locate(relative, name, onDisk, false, 0);
    struct stat info;
    if (folder < 0 || ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return lastFailure(std::string(relative));
    if (S_ISDIR(info.st_mode))
        return Failure{EISDIR, std::string(relative)};
    if (::unlinkat(folder, name.c_str(), 0) != 0)
        return lastFailure(std::string(relative));
    removed(parentKey(onDisk), name);
    return {};
}

Result<void> Tree::removeFolder(std::string_view relative) {
    std::string name, onDisk;
    const int folder = locate(relative, name, onDisk, false, 0);
    if (folder < 0 || ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) != 0)
        return lastFailure(std::string(relative));
    removed(parentKey(onDisk), name);
    // The folder kept open may have been this one or below it.
    m_last = {};
    return {};
}

} // namespace corvane::io
