#include "pak_tool.h"

#include "pak_format.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace pak {
namespace {

constexpr std::size_t bufferSize = 256 * 1024;

void complain(const std::string& text) {
    std::fprintf(stderr, "pak: %s\n", text.c_str());
}

std::string errorText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Closes the descriptor when the object goes.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

bool readAt(int fd, unsigned char* to, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, to, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENODATA;
        if (n <= 0)
            return false;
        to += n;
        size -= std::size_t(n);
        offset += std::uint64_t(n);
    }
    return true;
}

bool writeAll(int fd, const unsigned char* from, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, from, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        from += n;
        size -= std::size_t(n);
    }
    return true;
}

// Copies `length` bytes at `offset` of `in` to the current position of `out`. The kernel copies
// when it can; otherwise a fixed buffer keeps memory bounded.
bool copyData(int in, std::uint64_t offset, int out, std::uint64_t length,
              std::vector<unsigned char>& buffer) {
    bool kernelCopy = true;
    while (length > 0) {
        if (kernelCopy) {
            loff_t from = loff_t(offset);
            const ssize_t n = ::copy_file_range(in, &from, out, nullptr,
                                                std::min<std::uint64_t>(length, 1 << 30), 0);
            if (n > 0) {
                offset += std::uint64_t(n);
                length -= std::uint64_t(n);
                continue;
            }
            if (n == 0) {
                errno = ENODATA; // the source ended early
                return false;
            }
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
                errno != EBADF && errno != EPERM)
                return false;
            kernelCopy = false;
        }
        buffer.resize(bufferSize);
        const std::size_t chunk = std::min<std::uint64_t>(length, buffer.size());
        if (!readAt(in, buffer.data(), chunk, offset) || !writeAll(out, buffer.data(), chunk))
            return false;
        offset += chunk;
        length -= chunk;
    }
    return true;
}

// An opened pack with its checked directory.
struct OpenPak {
    Fd fd;
    std::vector<Entry> entries;
};

// Opens and checks `archive`; complains and returns false when the whole archive is refused.
bool openPak(const std::string& archive, OpenPak& pak) {
    pak.fd.reset(::open(archive.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (pak.fd.get() < 0 || ::fstat(pak.fd.get(), &st) != 0) {
        complain(errorText(archive));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        complain(archive + ": not a regular file");
        return false;
    }
    const std::uint64_t fileSize = std::uint64_t(st.st_size);
    unsigned char head[headerSize] = {};
    const std::size_t headRead = fileSize < headerSize ? 0 : headerSize;
    if (!readAt(pak.fd.get(), head, headRead, 0)) {
        complain(errorText(archive));
        return false;
    }
    Header header;
    if (const std::string why = parseHeader(head, headRead, fileSize, header); !why.empty()) {
        complain(archive + ": " + why);
        return false;
    }
    std::vector<unsigned char> dir(header.dirLength);
    if (!readAt(pak.fd.get(), dir.data(), dir.size(), header.dirOffset)) {
        complain(errorText(archive));
        return false;
    }
    pak.entries = parseDirectory(dir.data(), dir.size(), fileSize);
    return true;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](unsigned char x, unsigned char y) { return lower(x) == lower(y); });
}

// Index of the member called `name`: an exact match first, else one ignoring ASCII case.
std::optional<std::size_t> findMember(const std::vector<Entry>& entries, const std::string& name) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].name == name)
            return i;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (equalIgnoringCase(entries[i].name, name))
            return i;
    return std::nullopt;
}

// Opens (creating as needed) the folders of `name` below `root`, never following a symbolic
// link; returns the folder that will hold the file, or -1 after complaining.
int openParentFolder(int root, const std::string& name) {
    Fd folder(::dup(root));
    std::size_t start = 0;
    for (std::size_t slash; (slash = name.find('/', start)) != std::string::npos;
         start = slash + 1) {
        const std::string part = name.substr(start, slash - start);
        if (::mkdirat(folder.get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
            complain(errorText(name + ": cannot create folder " + name.substr(0, slash)));
            return -1;
        }
        const int next =
            ::openat(folder.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            const bool link = errno == ELOOP || errno == ENOTDIR;
            complain(name + ": " + name.substr(0, slash) +
                     (link ? " is a symbolic link or not a folder, member skipped"
                           : std::string(": ") + std::strerror(errno)));
            return -1;
        }
        folder.reset(next);
    }
    return folder.release();
}

// The folder of the previous member stays open: members of one folder usually follow each
// other, and walking the path again for each costs more than the copy of a small file.
struct FolderCache {
    std::string path;
    Fd fd;

    // The open folder that holds `name`, or -1 after complaining.
    int folderOf(int root, const std::string& name) {
        const std::size_t slash = name.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
        if (fd.get() < 0 || folder != path) {
            fd.reset(openParentFolder(root, name));
            path = fd.get() < 0 ? "" : folder;
        }
        return fd.get();
    }
};

// Writes one member through a temporary file beside its final name, so an interrupted run never
// leaves a half-written member.
bool extractMember(int archive, int folder, const Entry& entry,
                   std::vector<unsigned char>& buffer) {
    const std::size_t slash = entry.name.rfind('/');
    const std::string baseName =
        slash == std::string::npos ? entry.name : entry.name.substr(slash + 1);
    static unsigned counter = 0;
    const std::string temp =
        "." + baseName + ".pak-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    Fd out(
        ::openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (out.get() < 0) {
        complain(errorText(entry.name + ": cannot create a file"));
        return false;
    }
    bool ok = copyData(archive, entry.offset, out.get(), entry.length, buffer);
    if (!ok)
        complain(errorText(entry.name + ": cannot copy the data"));
    if (ok && ::close(out.release()) != 0) {
        complain(errorText(entry.name + ": cannot write"));
        ok = false;
    }
    if (ok && ::renameat(folder, temp.c_str(), folder, baseName.c_str()) != 0) {
        complain(errorText(entry.name + ": cannot replace the file"));
        ok = false;
    }
    if (!ok)
        ::unlinkat(folder, temp.c_str(), 0);
    return ok;
}

} // namespace

int extract(const std::string& archive, const std::vector<std::string>& members,
            const std::string& destination) {
    OpenPak pak;
    if (!openPak(archive, pak))
        return exitRefused;
    Fd root(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.get() < 0) {
        complain(errorText(destination));
        return exitRefused;
    }
    int result = exitOk;
    std::vector<std::size_t> chosen;
    if (members.empty()) {
        for (std::size_t i = 0; i < pak.entries.size(); ++i)
            chosen.push_back(i);
    }
    for (const std::string& name : members) {
        if (const auto index = findMember(pak.entries, name)) {
            chosen.push_back(*index);
        } else {
            complain(archive + ": no member " + printable(name));
            result = exitPartial;
        }
    }
    // Quake 2 reads the first of two members with one name, so that one is extracted.
    std::unordered_set<std::string> done;
    std::vector<unsigned char> buffer;
    FolderCache folders;
    for (const std::size_t index : chosen) {
        const Entry& entry = pak.entries[index];
        if (!entry.problem.empty()) {
            complain(archive + ": " + printable(entry.name) + ": " + entry.problem +
                     ", member skipped");
            result = exitPartial;
            continue;
        }
        if (!done.insert(entry.name).second) {
            if (members.empty()) {
                complain(archive + ": " + entry.name + ": second member of this name skipped");
                result = exitPartial;
            }
            continue;
        }
        const int folder = folders.folderOf(root.get(), entry.name);
        if (folder < 0 || !extractMember(pak.fd.get(), folder, entry, buffer))
            result = exitPartial;
    }
    return result;
}

int list(const std::string& archive) {
    OpenPak pak;
    if (!openPak(archive, pak))
        return exitRefused;
    int result = exitOk;
    for (const Entry& entry : pak.entries) {
        if (entry.problem.empty()) {
            std::printf("%s\t%u\n", entry.name.c_str(), unsigned(entry.length));
        } else {
            complain(archive + ": " + printable(entry.name) + ": " + entry.problem);
            result = exitPartial;
        }
    }
    return result;
}

namespace {

struct SourceFile {
    std::string name; // relative, with '/'
    std::filesystem::path path;
    std::uint64_t size = 0;
};

// Every regular file below `folder`; complains and returns false on anything that cannot be
// stored, so that no incomplete pack is written.
bool collectFiles(const std::filesystem::path& folder, std::vector<SourceFile>& files) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec), end;
    bool ok = !ec;
    if (ec)
        complain(folder.string() + ": " + ec.message());
    for (; ok && it != end; it.increment(ec)) {
        const fs::file_status status = it->symlink_status(ec);
        const std::string name = it->path().lexically_relative(folder).generic_string();
        if (ec) {
            complain(it->path().string() + ": " + ec.message());
            ok = false;
        } else if (fs::is_directory(status)) {
            continue;
        } else if (!fs::is_regular_file(status)) {
            complain(printable(name) + ": not a regular file");
            ok = false;
        } else if (name.size() >= nameSize) {
            complain(printable(name) + ": name longer than 55 bytes");
            ok = false;
        } else if (const std::string why = nameProblem(name); !why.empty()) {
            complain(printable(name) + ": " + why);
            ok = false;
        } else {
            files.push_back({name, it->path(), fs::file_size(it->path(), ec)});
        }
    }
    if (ok && ec) {
        complain(folder.string() + ": " + ec.message());
        ok = false;
    }
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
    return ok;
}

// Writes the pack to the open file `out`.
bool writePak(int out, const std::vector<SourceFile>& files) {
    std::vector<unsigned char> dir(files.size() * entrySize);
    std::vector<unsigned char> buffer;
    unsigned char head[headerSize] = {'P', 'A', 'C', 'K'};
    if (!writeAll(out, head, headerSize))
        return false;
    std::uint64_t offset = headerSize;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const SourceFile& file = files[i];
        if (offset + file.size > UINT32_MAX) {
            complain(file.name + ": the pack would pass 4 GiB");
            return false;
        }
        Fd in(::open(file.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (in.get() < 0 || !copyData(in.get(), 0, out, file.size, buffer)) {
            complain(errorText(file.name));
            return false;
        }
        unsigned char* raw = dir.data() + i * entrySize;
        std::memcpy(raw, file.name.data(), file.name.size());
        writeLe32(raw + nameSize, std::uint32_t(offset));
        writeLe32(raw + nameSize + 4, std::uint32_t(file.size));
        offset += file.size;
    }
    if (offset + dir.size() > UINT32_MAX) {
        complain("the pack would pass 4 GiB");
        return false;
    }
    writeLe32(head + 4, std::uint32_t(offset));
    writeLe32(head + 8, std::uint32_t(dir.size()));
    if (!writeAll(out, dir.data(), dir.size()) ||
        ::pwrite(out, head, headerSize, 0) != headerSize) {
        complain(errorText("cannot write the pack"));
        return false;
    }
    return true;
}

} // namespace

int create(const std::string& archive, const std::string& folder) {
    std::vector<SourceFile> files;
    if (!collectFiles(folder, files))
        return exitPartial;
    if (files.size() > maxEntries) {
        complain(folder + ": more than " + std::to_string(maxEntries) + " files");
        return exitPartial;
    }
    std::string temp = archive + ".XXXXXX";
    Fd out(::mkstemp(temp.data()));
    if (out.get() < 0) {
        complain(errorText(temp));
        return exitPartial;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = ::fchmod(out.get(), 0666 & ~mask) == 0 && writePak(out.get(), files);
    if (ok && (::close(out.release()) != 0 || ::rename(temp.c_str(), archive.c_str()) != 0)) {
        complain(errorText(archive));
        ok = false;
    }
    if (!ok)
        ::unlink(temp.c_str());
    return ok ? exitOk : exitPartial;
}

} // namespace pak
