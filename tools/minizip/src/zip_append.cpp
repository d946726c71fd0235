#include "minizip/zip_append.h"

#include "archive_source.h"
#include "entry_source.h"
#include "given_paths/given_paths.h"
#include "io/fd.h"
#include "io/journal.h"
#include "io/tree.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <zip.h>

namespace minizip {
namespace {

using corvane::io::Fd;
using corvane::io::lowerAscii;

// Why a file or an archive is refused, in words for a message.
struct Problem {
    std::string why;
};
template <typename T> using Checked = corvane::io::Result<T, Problem>;

// Past these a zip archive needs ZIP64 records, which Quake 3-engine readers refuse.
constexpr zip_uint64_t kMaxEntries = 0xfffe;
constexpr zip_uint64_t kMaxSize = 0xfffffffe;

void complain(const std::string& text) {
    // A message that cannot be written is lost; the exit code still tells.
    (void)std::fprintf(stderr, "minizip: %s\n", text.c_str());
}

// Says why the archive's journal could not be applied.
void complainOfJournal(const std::string& archive, int error) {
    const char* what = error == ELOOP    ? "a symbolic link"
                       : error == EISDIR ? "a folder"
                       : error == EINVAL ? "something other than a file"
                                         : nullptr;
    if (what)
        complain(corvane::io::journalName(archive) + ": " + what + " has the name of the " +
                 "journal of " + archive + "; move it away, then run minizip again");
    else
        complain(archive + ": cannot restore it from its journal: " + std::strerror(error));
}

// The entry name for a FILE argument: '\' turned into '/', empty and '.' parts dropped; refused
// when the path is absolute or climbs with "..".
Checked<std::string> entryName(std::string_view file) {
    const bool drive = file.size() >= 2 && file[1] == ':';
    if (file.empty() || file.front() == '/' || file.front() == '\\' || drive) {
        return Problem{"not a relative path"};
    }
    std::string name;
    std::size_t start = 0;
    while (start <= file.size()) {
        std::size_t end = file.find_first_of("/\\", start);
        if (end == std::string_view::npos)
            end = file.size();
        const std::string_view part = file.substr(start, end - start);
        if (part == "..") {
            return Problem{"'..' in path"};
        }
        if (!part.empty() && part != ".") {
            if (!name.empty())
                name += '/';
            name += part;
        }
        start = end + 1;
    }
    if (name.empty())
        return Problem{"no file name"};
    return name;
}

// Opens the file named by a FILE argument below the current folder, never through a link,
// and checks that it is a regular file; complains and returns false when it cannot be added.
bool openInput(corvane::io::Tree& tree, Input& input) {
    Checked<std::string> name = entryName(input.file);
    if (!name) {
        complain(input.file + ": " + name.failure().why + ", not added");
        return false;
    }
    input.name = std::move(name).value();
    // Non-blocking, so that a FIFO without a writer cannot stall the run.
    corvane::io::Result<Fd> opened = tree.openFile(input.name, O_RDONLY | O_NONBLOCK);
    int error = opened ? 0 : opened.failure().error;
    if (opened) {
        input.fd = std::move(opened).value();
        if (::fstat(input.fd.get(), &input.st) != 0)
            error = errno;
    }
    if (error != 0) {
        complain(input.file + ": " +
                 (error == ELOOP ? std::string("a symbolic link") : std::strerror(error)) +
                 ", not added");
        input.fd.reset();
        return false;
    }
    const char* problemWithIt = !S_ISREG(input.st.st_mode) ? "not a regular file"
                                : input.size() > kMaxSize  ? "too large for a pk3"
                                                           : nullptr;
    if (problemWithIt) {
        complain(input.file + ": " + problemWithIt + ", not added");
        input.fd.reset();
        return false;
    }
    return true;
}

// The archive open in libzip, with the index of every entry by its name ignoring ASCII case.
struct Archive {
    zip_t* zip = nullptr;
    std::unordered_map<std::string, zip_uint64_t> index;
    ~Archive() {
        if (zip)
            zip_discard(zip);
    }
};

// Opens the archive `old` (-1 when there is none yet) through libzip, or says why it cannot be
// used. Where an archive from elsewhere holds a name twice, the earlier copies are deleted:
// Quake 3 reads the last one, and the result holds each name once.
Checked<void> open(const corvane::io::Tree::Place& place, int old, Archive& archive) {
    zip_error_t why;
    zip_error_init(&why);
    zip_source_t* source = archiveSource(place.folder.get(), place.name, old, &why);
    archive.zip = source ? zip_open_from_source(source, ZIP_CREATE, &why) : nullptr;
    if (!archive.zip) {
        Problem problem{zip_error_strerror(&why)};
        zip_source_free(source);
        zip_error_fini(&why);
        return problem;
    }
    zip_error_fini(&why);
    const zip_int64_t count = zip_get_num_entries(archive.zip, 0);
    if (zip_uint64_t(count) > kMaxEntries)
        return Problem{"a ZIP64 archive, which Quake 3 cannot read"};
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive.zip, zip_uint64_t(i), ZIP_FL_ENC_RAW, &st) != 0)
            return Problem{zip_strerror(archive.zip)};
        if (st.size > kMaxSize || st.comp_size > kMaxSize)
            return Problem{"a ZIP64 archive, which Quake 3 cannot read"};
        auto [it, added] = archive.index.try_emplace(lowerAscii(st.name), zip_uint64_t(i));
        if (!added) {
            zip_delete(archive.zip, it->second);
            it->second = zip_uint64_t(i);
        }
    }
    return {};
}

// Adds the entry of `input`; complains and returns false when libzip refuses it. An entry of
// the name ignoring ASCII case is replaced by a new one after the others, with the new
// spelling and none of the old one's extra fields.
bool addEntry(Archive& archive, Input& input, Parts& parts) {
    zip_t* zip = archive.zip;
    const std::string key = lowerAscii(input.name);
    const auto found = archive.index.find(key);
    const bool replacing = found != archive.index.end();
    zip_source_t* source = nullptr;
    zip_int64_t entry = -1;
    if ((!replacing || zip_delete(zip, found->second) == 0) &&
        (source = entrySource(zip, input, parts))) {
        // A name that is not UTF-8 is stored as it is.
        entry = zip_file_add(zip, input.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (entry < 0)
            entry = zip_file_add(zip, input.name.c_str(), source, ZIP_FL_ENC_GUESS);
        if (entry < 0)
            zip_source_free(source);
    }
    // Deflated data is written as it is; stored data must not be deflated by libzip.
    if (entry >= 0 && !input.deflated &&
        zip_set_file_compression(zip, zip_uint64_t(entry), ZIP_CM_STORE, 0) != 0) {
        complain(input.file + ": " + zip_strerror(zip) + ", not added");
        zip_delete(zip, zip_uint64_t(entry));
        entry = -1;
    } else if (entry < 0) {
        complain(input.file + ": " + zip_strerror(zip) + ", not added");
    }
    if (entry < 0) {
        if (replacing)
            zip_unchange(zip, found->second);
        return false;
    }
    archive.index[key] = zip_uint64_t(entry);
    return true;
}

// Reports and drops the inputs that failed; true when there were any.
bool dropFailed(std::vector<Input*>& inputs) {
    const auto failed = std::stable_partition(inputs.begin(), inputs.end(),
                                              [](const Input* input) { return input->error == 0; });
    for (auto it = failed; it != inputs.end(); ++it)
        complain((*it)->file + ": " + inputError((*it)->error) + ", not added");
    const bool any = failed != inputs.end();
    inputs.erase(failed, inputs.end());
    return any;
}

} // namespace

namespace {

// The archive as it stands, once its journal, if any, has put it right. `old` is invalid when
// there is none yet.
struct Target {
    corvane::io::Tree::Place place;
    Fd old;
    struct stat st {};
};

// Recovers the archive from its journal and opens it; complains and returns false when it must
// be left alone.
bool openTarget(const std::string& archive, Target& target) {
    corvane::io::Result<corvane::io::Tree::Place> placed = corvane::tools::placeGiven(archive);
    if (!placed) {
        complain(archive + ": " + std::strerror(placed.failure().error));
        return false;
    }
    target.place = std::move(placed).value();
    // A run cut short before may have left the archive half updated: that is undone first.
    if (const auto recovered = corvane::io::recover(target.place.folder.get(), target.place.name);
        !recovered) {
        complainOfJournal(archive, recovered.failure().error);
        return false;
    }
    target.old.reset(::openat(target.place.folder.get(), target.place.name.c_str(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!target.old && errno != ENOENT) {
        complain(archive + ": " + (errno == ELOOP ? "a symbolic link" : std::strerror(errno)) +
                 ", left alone");
        return false;
    }
    if (target.old && (::fstat(target.old.get(), &target.st) != 0 || !S_ISREG(target.st.st_mode))) {
        complain(archive + ": not a regular file, left alone");
        return false;
    }
    return true;
}

// Opens every FILE argument; those that cannot be added are reported. Returns the inputs to
// add, a name given twice only once (the last wins); `partial` tells whether any was left out.
std::vector<Input*> openInputs(std::vector<Input>& inputs, const std::vector<std::string>& files,
                               bool& partial) {
    // A current folder that cannot be opened leaves an invalid tree: each file is then reported.
    corvane::io::Result<corvane::io::Tree> opened =
        corvane::io::Tree::open(".", corvane::io::Links::Refuse);
    corvane::io::Tree tree = opened ? std::move(opened).value() : corvane::io::Tree();
    inputs.resize(files.size());
    std::unordered_map<std::string, std::size_t> latest;
    for (std::size_t i = 0; i < files.size(); ++i) {
        inputs[i].file = files[i];
        if (openInput(tree, inputs[i]))
            latest[lowerAscii(inputs[i].name)] = i;
        else
            partial = true;
    }
    std::vector<Input*> chosen;
    for (std::size_t i = 0; i < inputs.size(); ++i)
        if (inputs[i].fd && latest[lowerAscii(inputs[i].name)] == i)
            chosen.push_back(&inputs[i]);
    return chosen;
}

// Writes the archive with `chosen` added, through libzip. A file that fails while libzip reads
// it is left out and the rest written again. Returns the exit code.
int writeArchive(const std::string& archive, const Target& target, std::vector<Input*> chosen,
                 bool partial) {
    Parts parts(std::max(1u, std::thread::hardware_concurrency()));
    for (bool first = true; !chosen.empty(); first = false) {
        // A failed try whose rollback failed too left the journal: the archive is put right.
        if (const auto recovered =
                first ? corvane::io::Result<void>()
                      : corvane::io::recover(target.place.folder.get(), target.place.name);
            !recovered) {
            complainOfJournal(archive, recovered.failure().error);
            return kExitRefused;
        }
        Archive zip;
        if (const Checked<void> opened = open(target.place, target.old.get(), zip); !opened) {
            // NOLINTNEXTLINE(performance-inefficient-string-concatenation): once, on failure
            complain(archive + ": " + opened.failure().why + ", left alone");
            return kExitRefused;
        }
        if (first) {
            parts.prepare(chosen);
            partial |= dropFailed(chosen);
        }
        partial |=
            std::erase_if(chosen, [&](Input* input) { return !addEntry(zip, *input, parts); }) > 0;
        if (chosen.empty())
            break;
        if (zip.index.size() > kMaxEntries) {
            complain(archive + ": " + std::strerror(EFBIG) + "; archive left as it was");
            return kExitRefused;
        }
        if (zip_close(zip.zip) == 0) {
            zip.zip = nullptr;
            break;
        }
        const std::string failure = zip_strerror(zip.zip);
        if (!dropFailed(chosen)) {
            // NOLINTNEXTLINE(performance-inefficient-string-concatenation): once, on failure
            complain(archive + ": " + failure + "; archive left as it was");
            return kExitRefused;
        }
        partial = true;
    }
    return partial ? kExitPartial : kExitOk;
}

} // namespace

int addFiles(const std::string& archive, const std::vector<std::string>& files) {
    Target target;
    if (!openTarget(archive, target))
        return kExitRefused;
    if (files.empty()) {
        // An empty archive would later pass for a finished conversion.
        if (!target.old)
            complain("no files given; " + archive + " not created");
        return kExitOk;
    }
    if (target.old && std::uint64_t(target.st.st_size) > kMaxSize) {
        complain(archive + ": a ZIP64 archive, which Quake 3 cannot read, left alone");
        return kExitRefused;
    }
    bool partial = false;
    std::vector<Input> inputs;
    std::vector<Input*> chosen = openInputs(inputs, files, partial);
    return writeArchive(archive, target, std::move(chosen), partial);
}

} // namespace minizip
