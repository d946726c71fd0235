#include "zip_append.h"

#include "archive_source.h"
#include "io/fd.h"
#include "io/journal.h"
#include "io/tree.h"
#include "packer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <zip.h>

namespace minizip {
namespace {

using corvane::io::Fd;

// zip's own default, and what Quake 3-engine pk3 files have always used.
constexpr int kLevel = 6;
// Larger files are deflated by libzip while it writes them, a piece at a time.
constexpr std::uint64_t kWholeFileLimit = std::uint64_t(8) << 20;
// The files of one run are read and deflated in parts of at most this many bytes.
constexpr std::uint64_t kPartBytes = std::uint64_t(24) << 20;

void complain(const std::string& text) {
    std::fprintf(stderr, "minizip: %s\n", text.c_str());
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

struct Input {
    std::string file; // as given
    std::string name; // of its entry
    Fd fd;
    struct stat st {};
    int error = 0; // set when it failed while libzip read it
};

// The data of one entry for libzip: deflated or stored bytes in memory, or a large file read
// from its open descriptor while libzip deflates it.
struct EntryData {
    Input* input = nullptr;
    Packed packed;
    bool streamed = false;
    zip_uint64_t readAt = 0;
    zip_error_t error{};

    zip_int64_t fail(int zipError, int systemError) {
        zip_error_set(&error, zipError, systemError);
        return -1;
    }

    zip_int64_t read(void* data, zip_uint64_t length) {
        const zip_uint64_t size = std::uint64_t(input->st.st_size);
        const std::size_t wanted = std::size_t(std::min(length, size - std::min(size, readAt)));
        if (streamed) {
            ssize_t n = 0;
            do
                n = ::pread(input->fd.get(), data, wanted, off_t(readAt));
            while (n < 0 && errno == EINTR);
            if (n < 0 || (n == 0 && wanted > 0)) {
                input->error = n < 0 ? errno : EIO; // it shrank while we read it
                return fail(ZIP_ER_READ, input->error);
            }
            readAt += zip_uint64_t(n);
            return n;
        }
        const std::size_t available = std::size_t(packed.data.size() - readAt);
        const std::size_t n = std::min<std::size_t>(std::size_t(length), available);
        std::memcpy(data, packed.data.data() + readAt, n);
        readAt += n;
        return zip_int64_t(n);
    }

    zip_int64_t stat(zip_stat_t* zs) {
        zip_stat_init(zs);
        zs->size = zip_uint64_t(input->st.st_size);
        zs->mtime = input->st.st_mtime;
        zs->comp_method = ZIP_CM_STORE;
        zs->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD;
        if (!streamed) {
            zs->crc = packed.crc;
            zs->valid |= ZIP_STAT_CRC;
        }
        if (packed.deflated) {
            zs->comp_method = ZIP_CM_DEFLATE;
            zs->comp_size = packed.data.size();
            zs->valid |= ZIP_STAT_COMP_SIZE;
        }
        return sizeof(*zs);
    }

    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
        switch (command) {
        case ZIP_SOURCE_OPEN:
            readAt = 0;
            return 0;
        case ZIP_SOURCE_READ:
            return read(data, length);
        case ZIP_SOURCE_CLOSE:
            packed.data = {}; // written: its memory is free for the next entries
            return 0;
        case ZIP_SOURCE_STAT: {
            zip_stat_t* zs = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error);
            return zs ? stat(zs) : -1;
        }
        case ZIP_SOURCE_GET_FILE_ATTRIBUTES: {
            auto* attributes = ZIP_SOURCE_GET_ARGS(zip_file_attributes_t, data, length, &error);
            if (!attributes)
                return -1;
            attributes->valid = ZIP_FILE_ATTRIBUTES_HOST_SYSTEM |
                                ZIP_FILE_ATTRIBUTES_EXTERNAL_FILE_ATTRIBUTES;
            attributes->host_system = ZIP_OPSYS_UNIX;
            attributes->external_file_attributes = zip_uint32_t(S_IFREG | 0644) << 16;
            return 0;
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error, data, length);
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ,
                                                  ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                                  ZIP_SOURCE_GET_FILE_ATTRIBUTES, -1);
        default:
            return fail(ZIP_ER_OPNOTSUPP, 0);
        }
    }
};

zip_int64_t entryCallback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto* entry = static_cast<EntryData*>(state);
    const zip_int64_t result = entry->handle(data, length, command);
    if (command == ZIP_SOURCE_FREE) {
        zip_error_fini(&entry->error);
        delete entry;
    }
    return result;
}

// The index of every entry by its name ignoring ASCII case. Where an archive from elsewhere
// holds a name twice, the earlier copies are deleted: Quake 3 reads the last one, and the
// result holds each name once.
std::unordered_map<std::string, zip_uint64_t> indexEntries(zip_t* zip) {
    std::unordered_map<std::string, zip_uint64_t> index;
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(zip, zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (!name)
            continue;
        auto [it, added] = index.try_emplace(lowerAscii(name), zip_uint64_t(i));
        if (!added) {
            zip_delete(zip, it->second);
            it->second = zip_uint64_t(i);
        }
    }
    return index;
}

// Adds or replaces the entry of `data`; complains and returns false when libzip refuses it.
bool addEntry(zip_t* zip, std::unordered_map<std::string, zip_uint64_t>& index,
              EntryData* data) {
    const std::string& name = data->input->name;
    zip_error_init(&data->error);
    zip_source_t* source = zip_source_function(zip, entryCallback, data);
    if (!source) {
        complain(name + ": " + zip_strerror(zip));
        zip_error_fini(&data->error);
        delete data;
        return false;
    }
    const auto found = index.find(lowerAscii(name));
    zip_int64_t entry = -1;
    if (found != index.end()) {
        // A name that differs only in case replaces the old entry and takes its new spelling.
        const char* old = zip_get_name(zip, found->second, ZIP_FL_ENC_RAW);
        if (zip_file_replace(zip, found->second, source, 0) == 0 &&
            ((old && name == old) ||
             zip_file_rename(zip, found->second, name.c_str(), ZIP_FL_ENC_GUESS) == 0))
            entry = zip_int64_t(found->second);
    } else {
        entry = zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_GUESS);
    }
    if (entry < 0) {
        complain(name + ": " + zip_strerror(zip));
        zip_source_free(source);
        return false;
    }
    index[lowerAscii(name)] = zip_uint64_t(entry);
    // libzip deflates a streamed file itself; data deflated already is written as it is.
    const bool ok = data->streamed
                        ? zip_set_file_compression(zip, zip_uint64_t(entry), ZIP_CM_DEFLATE,
                                                   kLevel) == 0
                    : data->packed.deflated
                        ? true
                        : zip_set_file_compression(zip, zip_uint64_t(entry), ZIP_CM_STORE, 0) == 0;
    if (!ok)
        complain(name + ": " + zip_strerror(zip));
    return ok;
}

// Opens the file named by a FILE argument below the current folder, never through a link,
// and checks that it is a regular file; complains and returns false when it cannot be added.
bool openInput(corvane::io::Tree& tree, Input& input) {
    std::string problem;
    input.name = entryName(input.file, problem);
    if (!problem.empty()) {
        complain(input.file + ": " + problem + ", not added");
        return false;
    }
    // Non-blocking, so that a FIFO without a writer cannot stall the run.
    input.fd = tree.openFile(input.name, O_RDONLY | O_NONBLOCK);
    if (!input.fd || ::fstat(input.fd.get(), &input.st) != 0) {
        const int error = errno;
        complain(input.file + ": " +
                 (error == ELOOP ? std::string("a symbolic link") : std::strerror(error)) +
                 ", not added");
        return false;
    }
    if (!S_ISREG(input.st.st_mode)) {
        complain(input.file + ": not a regular file, not added");
        return false;
    }
    return true;
}

// Reads, deflates and adds one part of the files, in a run of libzip of its own. Files that
// cannot be read are reported and left out. Returns false when the archive could not be
// written (it is then as it was before this part).
bool addPart(const corvane::io::Tree::Place& place, std::vector<Input*> part, int& result) {
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    while (!part.empty()) {
        std::vector<PackJob> jobs;
        for (const Input* input : part)
            if (std::uint64_t(input->st.st_size) <= kWholeFileLimit)
                jobs.push_back({input->fd.get(), std::uint64_t(input->st.st_size)});
        std::vector<Packed> packed = packAll(jobs, kLevel, threads);

        zip_error_t why;
        zip_error_init(&why);
        zip_source_t* source = archiveSource(place.folder.get(), place.name, &why);
        zip_t* zip = source ? zip_open_from_source(source, ZIP_CREATE, &why) : nullptr;
        if (!zip) {
            complain(place.name + ": " + zip_error_strerror(&why));
            zip_error_fini(&why);
            zip_source_free(source);
            return false;
        }
        zip_error_fini(&why);
        auto index = indexEntries(zip);
        std::size_t next = 0;
        for (Input* input : part) {
            auto* data = new EntryData;
            data->input = input;
            data->streamed = std::uint64_t(input->st.st_size) > kWholeFileLimit;
            if (!data->streamed)
                data->packed = std::move(packed[next++]);
            if (data->packed.error != 0) {
                complain(input->file + ": " + std::strerror(data->packed.error) + ", not added");
                result = exitPartial;
                input->error = data->packed.error;
                delete data;
                continue;
            }
            if (!addEntry(zip, index, data))
                result = exitPartial;
        }
        std::erase_if(part, [](const Input* input) { return input->error != 0; });
        if (zip_close(zip) == 0)
            return true;
        const std::string failure = zip_strerror(zip);
        zip_discard(zip);
        // A large file that failed while libzip read it is left out, and the part is tried again.
        const auto failed = std::find_if(part.begin(), part.end(),
                                         [](const Input* input) { return input->error != 0; });
        if (failed == part.end()) {
            complain(place.name + ": " + failure + "; archive left as it was");
            return false;
        }
        complain((*failed)->file + ": " + std::strerror((*failed)->error) + ", not added");
        result = exitPartial;
        part.erase(failed);
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

int addFiles(const std::string& archive, const std::vector<std::string>& files) {
    const corvane::io::Tree::Place place = corvane::io::placeGiven(archive);
    if (!place.folder) {
        complain(archive + ": " + std::strerror(errno));
        return exitRefused;
    }
    // A run cut short before may have left the archive half updated: that is undone first.
    if (const int error = corvane::io::recover(place.folder.get(), place.name); error != 0) {
        complain(archive + ": cannot restore it from its journal: " + std::strerror(error));
        return exitRefused;
    }
    struct stat st {};
    const bool exists =
        ::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        complain(archive + (S_ISLNK(st.st_mode) ? ": a symbolic link" : ": not a regular file") +
                 ", left alone");
        return exitRefused;
    }
    if (files.empty()) {
        // An empty archive would later pass for a finished conversion.
        if (!exists)
            complain("no files given; " + archive + " not created");
        return exitOk;
    }

    int result = exitOk;
    corvane::io::Tree tree = corvane::io::Tree::open(".", corvane::io::Links::Refuse);
    std::vector<Input> inputs(files.size());
    std::unordered_map<std::string, std::size_t> latest; // a name given twice: the last wins
    for (std::size_t i = 0; i < files.size(); ++i) {
        inputs[i].file = files[i];
        if (!openInput(tree, inputs[i])) {
            result = exitPartial;
            inputs[i].fd.reset();
            continue;
        }
        latest[lowerAscii(inputs[i].name)] = i;
    }
    std::vector<Input*> part;
    std::uint64_t partBytes = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!inputs[i].fd || latest[lowerAscii(inputs[i].name)] != i)
            continue;
        const std::uint64_t size = std::uint64_t(inputs[i].st.st_size);
        const std::uint64_t bytes = size <= kWholeFileLimit ? size : 0;
        if (!part.empty() && partBytes + bytes > kPartBytes) {
            if (!addPart(place, std::move(part), result))
                return exitRefused;
            part.clear();
            partBytes = 0;
        }
        part.push_back(&inputs[i]);
        partBytes += bytes;
    }
    if (!part.empty() && !addPart(place, std::move(part), result))
        return exitRefused;
    return result;
}

} // namespace minizip
