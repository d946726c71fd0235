#include "zip_append.h"

#include "archive_source.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <zip.h>

namespace minizip {
namespace {

// zip's own default, and what Quake 3-engine pk3 files have always used.
constexpr zip_uint32_t compressionLevel = 6;

void complain(const std::string& text) {
    std::fprintf(stderr, "minizip: %s\n", text.c_str());
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](unsigned char x, unsigned char y) { return lower(x) == lower(y); });
}

// The entry of `folder` named `part` ignoring ASCII case; the smallest in byte order when
// several match, so the choice does not depend on the folder's order. Empty when none.
std::string matchInFolder(const std::string& folder, const std::string& part) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return {};
    std::string found;
    while (const dirent* e = ::readdir(dir)) {
        if (equalIgnoringCase(e->d_name, part) && (found.empty() || e->d_name < found))
            found = e->d_name;
    }
    ::closedir(dir);
    return found;
}

// Where `path` is not readable as a regular file, why; otherwise empty and `st` filled.
std::string unreadable(const std::string& path, struct stat& st) {
    // Non-blocking, so that a FIFO without a writer cannot stall the run.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    const bool statted = ::fstat(fd, &st) == 0;
    const int statError = errno;
    ::close(fd);
    if (!statted)
        return std::strerror(statError);
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    return {};
}

// The index of every entry by name. Where an archive from elsewhere holds a name twice, the
// earlier copies are deleted: Quake 3 reads the last one, and the result holds each name once.
std::unordered_map<std::string, zip_uint64_t> indexEntries(zip_t* zip) {
    std::unordered_map<std::string, zip_uint64_t> index;
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(zip, zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (!name)
            continue;
        auto [it, added] = index.try_emplace(name, zip_uint64_t(i));
        if (!added) {
            zip_delete(zip, it->second);
            it->second = zip_uint64_t(i);
        }
    }
    return index;
}

// Adds or replaces the entry `name` with the file at `path`; complains and returns false when
// libzip refuses it.
bool addEntry(zip_t* zip, std::unordered_map<std::string, zip_uint64_t>& index,
              const std::string& name, const std::string& path, const struct stat& st) {
    // A file source of known size: libzip then writes no ZIP64 extra field, which pk3 readers
    // reject.
    zip_source_t* source = zip_source_file(zip, path.c_str(), 0, -1);
    if (!source) {
        complain(name + ": " + zip_strerror(zip));
        return false;
    }
    const auto found = index.find(name);
    zip_int64_t entry = -1;
    if (found != index.end()) {
        if (zip_file_replace(zip, found->second, source, 0) == 0)
            entry = zip_int64_t(found->second);
    } else {
        entry = zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_GUESS);
    }
    if (entry < 0) {
        complain(name + ": " + zip_strerror(zip));
        zip_source_free(source);
        return false;
    }
    index[name] = zip_uint64_t(entry);
    if (zip_set_file_compression(zip, zip_uint64_t(entry), ZIP_CM_DEFLATE, compressionLevel) != 0 ||
        zip_file_set_mtime(zip, zip_uint64_t(entry), st.st_mtime, 0) != 0) {
        complain(name + ": " + zip_strerror(zip));
        return false;
    }
    return true;
}

} // namespace

std::string entryName(std::string_view file, std::string& problem) {
    const bool drive = file.size() >= 2 && file[1] == ':';
    if (file.empty() || file.front() == '/' || file.front() == '\\' || drive) {
        problem = "not a relative path";
        return {};
    }
    std::string name;
    std::size_t start = 0;
    while (start <= file.size()) {
        std::size_t end = file.find_first_of("/\\", start);
        if (end == std::string_view::npos)
            end = file.size();
        const std::string_view part = file.substr(start, end - start);
        if (part == "..") {
            problem = "'..' in path";
            return {};
        }
        if (!part.empty() && part != ".") {
            if (!name.empty())
                name += '/';
            name += part;
        }
        start = end + 1;
    }
    if (name.empty())
        problem = "no file name";
    return name;
}

std::string findFile(const std::string& name) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0)
        return name;
    std::string path;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        const std::string part = name.substr(start, end - start);
        std::string next = path.empty() ? part : path + '/' + part;
        if (::lstat(next.c_str(), &st) != 0) {
            const std::string match = matchInFolder(path, part);
            if (match.empty())
                return name;
            next = path.empty() ? match : path + '/' + match;
        }
        path = std::move(next);
        start = end + 1;
    }
    return path;
}

int addFiles(const std::string& archive, const std::vector<std::string>& files) {
    struct stat archiveStat {};
    if (files.empty()) {
        // An empty archive would later pass for a finished conversion.
        if (::stat(archive.c_str(), &archiveStat) != 0)
            complain("no files given; " + archive + " not created");
        return exitOk;
    }
    zip_error_t why;
    zip_error_init(&why);
    // Our own source rather than zip_open's: it lets zip_close keep the unchanged start of the
    // archive instead of copying every entry into the new file on each run.
    zip_source_t* source = archiveSource(archive, &why);
    zip_t* zip = source ? zip_open_from_source(source, ZIP_CREATE, &why) : nullptr;
    if (!zip) {
        complain(archive + ": " + zip_error_strerror(&why));
        zip_error_fini(&why);
        zip_source_free(source);
        return exitRefused;
    }
    zip_error_fini(&why);
    auto index = indexEntries(zip);
    int result = exitOk;
    for (const std::string& file : files) {
        std::string problem;
        const std::string name = entryName(file, problem);
        if (!problem.empty()) {
            complain(file + ": " + problem + ", not added");
            result = exitPartial;
            continue;
        }
        const std::string path = findFile(name);
        struct stat st {};
        if (const std::string why = unreadable(path, st); !why.empty()) {
            complain(file + ": " + why + ", not added");
            result = exitPartial;
            continue;
        }
        if (!addEntry(zip, index, name, path, st))
            result = exitPartial;
    }
    // The source writes a temporary file beside the archive and renames it over the old one,
    // so a failed or killed run leaves the archive as it was.
    if (zip_close(zip) != 0) {
        complain(archive + ": " + zip_strerror(zip) + "; archive left as it was");
        zip_discard(zip);
        return exitRefused;
    }
    return result;
}

} // namespace minizip
