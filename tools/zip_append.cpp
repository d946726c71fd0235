#include "zip_append.h"

#include "archive_writer.h"
#include "io/fd.h"
#include "io/journal.h"
#include "io/rw.h"
#include "io/tree.h"
#include "packer.h"
#include "zip_format.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <zlib.h>

namespace minizip {
namespace {

using corvane::io::Fd;

// zip's own default, and what Quake 3-engine pk3 files have always used.
constexpr int kLevel = 6;
// Larger files are deflated a piece at a time while they are written.
constexpr std::uint64_t kWholeFileLimit = std::uint64_t(8) << 20;
// Smaller files are read and deflated, on every core, in parts of at most this many bytes.
constexpr std::uint64_t kPartBytes = std::uint64_t(24) << 20;
constexpr std::size_t kChunk = std::size_t(1) << 20;

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
    std::uint64_t size() const { return std::uint64_t(st.st_size); }
};

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
        input.fd.reset();
        return false;
    }
    if (!S_ISREG(input.st.st_mode)) {
        complain(input.file + ": not a regular file, not added");
        input.fd.reset();
        return false;
    }
    return true;
}

NewEntry describe(const Input& input) {
    NewEntry entry;
    entry.name = input.name;
    entry.size = input.size();
    entry.mtime = input.st.st_mtime;
    entry.mode = input.st.st_mode & 0777;
    return entry;
}

// The old archive, its directory, and how this run changes it.
struct Update {
    Fd old;
    std::uint64_t oldSize = 0;
    Directory directory;
    std::vector<std::size_t> kept;                         // old entries that stay, in order
    std::unordered_map<std::string, std::size_t> replaced; // lower-cased name -> old entry
    std::vector<std::uint64_t> ends; // where each old entry's bytes end: the next one's start
    std::uint64_t unchanged = 0;     // bytes of the old archive that stay as they are
    ArchiveWriter writer;
    std::vector<Bytes> records; // of the new central directory
};

// Copies an old entry's bytes to the write position and records it there.
bool moveEntry(Update& update, std::size_t index) {
    CentralEntry& entry = update.directory.entries[index];
    const std::uint64_t at = update.writer.tell();
    Bytes buffer;
    for (std::uint64_t from = entry.localOffset; from < update.ends[index];) {
        buffer.resize(std::size_t(std::min<std::uint64_t>(kChunk, update.ends[index] - from)));
        if (!update.writer.readOld(buffer.data(), buffer.size(), from) ||
            !update.writer.write(buffer.data(), buffer.size()))
            return false;
        from += buffer.size();
    }
    moveRecord(entry.record, at);
    update.records.push_back(entry.record);
    return true;
}

// Writes one entry whose bytes are ready; false when writing failed.
bool writeEntry(Update& update, const NewEntry& entry, const unsigned char* data) {
    const std::uint64_t at = update.writer.tell();
    const Bytes header = localHeader(entry);
    if (!update.writer.write(header.data(), header.size()) ||
        !update.writer.write(data, std::size_t(entry.compressedSize)))
        return false;
    update.records.push_back(centralRecord(entry, at));
    return true;
}

enum class Written { Done, Unreadable, Failed };

// Writes a large file a piece at a time, deflated, or stored when deflate does not make it
// smaller. Sets `error` when the file could not be read; then nothing of it stays written.
Written streamEntry(Update& update, const Input& input, int& error) {
    NewEntry entry = describe(input);
    entry.method = kDeflated;
    const std::uint64_t at = update.writer.tell();
    Bytes header = localHeader(entry);
    if (!update.writer.write(header.data(), header.size()))
        return Written::Failed;
    z_stream z{};
    if (deflateInit2(&z, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return Written::Failed;
    Bytes in(kChunk), out(kChunk);
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t done = 0, compressed = 0;
    Written result = Written::Done;
    for (int flush = Z_NO_FLUSH; result == Written::Done && flush != Z_FINISH;) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(kChunk, entry.size - done));
        if (!corvane::io::readAllAt(input.fd.get(), in.data(), n, done)) {
            error = errno == ENODATA ? EIO : errno; // it shrank while we read it
            result = Written::Unreadable;
            break;
        }
        crc = crc32(crc, in.data(), uInt(n));
        done += n;
        flush = done == entry.size ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = in.data();
        z.avail_in = uInt(n);
        do {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            deflate(&z, flush);
            const std::size_t produced = out.size() - z.avail_out;
            compressed += produced;
            if (!update.writer.write(out.data(), produced))
                result = Written::Failed;
        } while (result == Written::Done && z.avail_out == 0);
    }
    deflateEnd(&z);
    entry.crc = std::uint32_t(crc);
    if (result == Written::Done && compressed >= entry.size) {
        // Stored after all, as zip does: the file is written again as it is.
        update.writer.rewind(at + header.size());
        entry.method = kStored;
        compressed = 0;
        for (std::uint64_t from = 0; result == Written::Done && from < entry.size;) {
            const std::size_t n = std::size_t(std::min<std::uint64_t>(kChunk, entry.size - from));
            if (!corvane::io::readAllAt(input.fd.get(), in.data(), n, from)) {
                error = errno == ENODATA ? EIO : errno;
                result = Written::Unreadable;
            } else if (!update.writer.write(in.data(), n)) {
                result = Written::Failed;
            }
            from += n;
            compressed += n;
        }
    }
    if (result != Written::Done) {
        update.writer.rewind(at);
        return result;
    }
    entry.compressedSize = compressed;
    header = localHeader(entry);
    if (!update.writer.writeAt(header.data(), header.size(), at))
        return Written::Failed;
    update.records.push_back(centralRecord(entry, at));
    return Written::Done;
}

// A file that could not be read leaves the old entry of its name where it was.
bool keepReplaced(Update& update, const Input& input) {
    const auto found = update.replaced.find(lowerAscii(input.name));
    return found == update.replaced.end() || moveEntry(update, found->second);
}

// Reads, deflates and writes one part of the files. False when writing failed.
bool writePart(Update& update, Packer& packer, const std::vector<const Input*>& part, int& result) {
    std::vector<PackJob> jobs;
    for (const Input* input : part)
        if (input->size() <= kWholeFileLimit)
            jobs.push_back({input->fd.get(), input->size()});
    std::vector<Packed> packed = packer.pack(jobs);
    std::size_t next = 0;
    for (const Input* input : part) {
        int error = 0;
        if (input->size() <= kWholeFileLimit) {
            Packed& p = packed[next++];
            error = p.error;
            if (error == 0) {
                NewEntry entry = describe(*input);
                entry.method = p.deflated ? kDeflated : kStored;
                entry.crc = p.crc;
                entry.compressedSize = p.length;
                if (!writeEntry(update, entry, p.data))
                    return false;
            }
        } else if (streamEntry(update, *input, error) == Written::Failed) {
            return false;
        }
        if (error != 0) {
            complain(input->file + ": " + std::strerror(error) + ", not added");
            result = exitPartial;
            if (!keepReplaced(update, *input))
                return false;
        }
    }
    return true;
}

// Which old entries stay and from where the archive changes: up to the first entry replaced
// or dropped, else up to the central directory.
void plan(Update& update, const std::vector<const Input*>& inputs) {
    std::unordered_map<std::string, std::size_t> given;
    for (std::size_t i = 0; i < inputs.size(); ++i)
        given[lowerAscii(inputs[i]->name)] = i;
    auto& entries = update.directory.entries;
    // Where an archive from elsewhere holds a name twice, the earlier copies are dropped:
    // Quake 3 reads the last one, and the result holds each name once.
    std::unordered_map<std::string, std::size_t> last;
    for (std::size_t i = 0; i < entries.size(); ++i)
        last[lowerAscii(entries[i].name)] = i;
    update.unchanged = update.directory.offset;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string lower = lowerAscii(entries[i].name);
        if (last[lower] == i && !given.count(lower)) {
            update.kept.push_back(i);
            continue;
        }
        if (last[lower] == i)
            update.replaced[lower] = i;
        update.unchanged = std::min(update.unchanged, entries[i].localOffset);
    }
    std::vector<std::uint64_t> starts;
    for (const CentralEntry& entry : entries)
        starts.push_back(entry.localOffset);
    std::sort(starts.begin(), starts.end());
    for (const CentralEntry& entry : entries) {
        const auto next = std::upper_bound(starts.begin(), starts.end(), entry.localOffset);
        update.ends.push_back(next == starts.end() ? update.directory.offset : *next);
    }
}

// Writes the new end of the archive: the old entries that must move, the new entries, the
// central directory. False when the archive could not be written.
bool write(Update& update, const std::vector<const Input*>& inputs, int& result) {
    for (const std::size_t index : update.kept) {
        if (update.directory.entries[index].localOffset < update.unchanged)
            update.records.push_back(update.directory.entries[index].record);
        else if (!moveEntry(update, index))
            return false;
    }
    Packer packer(kLevel, std::max(1u, std::thread::hardware_concurrency()));
    std::vector<const Input*> part;
    std::uint64_t partBytes = 0;
    for (const Input* input : inputs) {
        const std::uint64_t bytes = input->size() <= kWholeFileLimit ? input->size() : 0;
        if (!part.empty() && partBytes + bytes > kPartBytes) {
            if (!writePart(update, packer, part, result))
                return false;
            part.clear();
            partBytes = 0;
        }
        part.push_back(input);
        partBytes += bytes;
    }
    if (!part.empty() && !writePart(update, packer, part, result))
        return false;
    const std::uint64_t directoryAt = update.writer.tell();
    for (const Bytes& record : update.records)
        if (!update.writer.write(record.data(), record.size()))
            return false;
    const std::uint64_t directorySize = update.writer.tell() - directoryAt;
    if (update.records.size() > kMaxEntries || update.writer.tell() > kMaxOffset) {
        errno = EFBIG;
        return false;
    }
    const Bytes end =
        endRecord(update.records.size(), directorySize, directoryAt, update.directory.comment);
    return update.writer.write(end.data(), end.size());
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
    Update update;
    update.old.reset(::openat(place.folder.get(), place.name.c_str(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!update.old && errno != ENOENT) {
        complain(archive + ": " + (errno == ELOOP ? "a symbolic link" : std::strerror(errno)) +
                 ", left alone");
        return exitRefused;
    }
    if (update.old && (::fstat(update.old.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
        complain(archive + ": not a regular file, left alone");
        return exitRefused;
    }
    if (files.empty()) {
        // An empty archive would later pass for a finished conversion.
        if (!update.old)
            complain("no files given; " + archive + " not created");
        return exitOk;
    }
    if (update.old) {
        update.oldSize = std::uint64_t(st.st_size);
        const std::string why = readDirectory(update.old.get(), update.oldSize, update.directory);
        if (!why.empty()) {
            complain(archive + ": " + why + ", left alone");
            return exitRefused;
        }
    }

    int result = exitOk;
    corvane::io::Tree tree = corvane::io::Tree::open(".", corvane::io::Links::Refuse);
    std::vector<Input> inputs(files.size());
    std::unordered_map<std::string, std::size_t> latest; // a name given twice: the last wins
    for (std::size_t i = 0; i < files.size(); ++i) {
        inputs[i].file = files[i];
        if (openInput(tree, inputs[i]))
            latest[lowerAscii(inputs[i].name)] = i;
        else
            result = exitPartial;
    }
    std::vector<const Input*> chosen;
    for (std::size_t i = 0; i < inputs.size(); ++i)
        if (inputs[i].fd && latest[lowerAscii(inputs[i].name)] == i)
            chosen.push_back(&inputs[i]);
    if (chosen.empty())
        return result;

    plan(update, chosen);
    if (!update.writer.begin(place.folder.get(), place.name, update.old.get(), update.oldSize,
                             update.unchanged) ||
        !write(update, chosen, result) || !update.writer.commit()) {
        complain(archive + ": " + std::strerror(errno) + "; archive left as it was");
        return exitRefused;
    }
    return result;
}

} // namespace minizip
