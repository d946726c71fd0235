// pak's three commands (list, extract, create). Over 300 lines: they share the opened pack's
// checks and the rules for member names, which are kept next to the commands that apply them.

#include "pak/tool.h"

#include "given_paths/given_paths.h"
#include "io/atomic_file.h"
#include "io/fd.h"
#include "io/folder.h"
#include "io/journal.h"
#include "io/rw.h"
#include "io/tree.h"
#include "pak_format/format.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pak {
namespace {

using corvane::io::Fd;
using corvane::io::lowerAscii;

void complain(const std::string& text) {
    // A message that cannot be written is lost; the exit code still tells.
    (void)std::fprintf(stderr, "pak: %s\n", text.c_str());
}

std::string errorText(const std::string& what, int error = errno) {
    return what + ": " + std::strerror(error);
}

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Errors that say the disk, not this one member, is the trouble: the run stops there.
bool writeFailure(int error) {
    return error == ENOSPC || error == EDQUOT || error == EIO || error == EFBIG || error == EROFS ||
           error == ENOMEM;
}

// An opened pack with its checked directory.
struct OpenPak {
    Fd fd;
    Header header;
    std::uint64_t size = 0;
    std::vector<Entry> entries;
};

// Opens and checks `archive`, or the pack open as `fd` that it names; complains and returns
// false when the whole archive is refused.
bool openPak(const std::string& archive, OpenPak& pak, int fd = -1) {
    // Non-blocking, so that a FIFO without a writer cannot stall the run.
    if (fd >= 0) {
        pak.fd = Fd(fd);
    } else if (corvane::io::Result<Fd> opened =
                   corvane::tools::openGiven(archive, O_RDONLY | O_NONBLOCK)) {
        pak.fd = std::move(opened).value();
    } else {
        const int error = opened.failure().error;
        complain(error == ELOOP ? archive + ": is a symbolic link" : errorText(archive, error));
        return false;
    }
    struct stat st {};
    if (::fstat(pak.fd.get(), &st) != 0) {
        complain(errorText(archive));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        complain(archive + ": not a regular file");
        return false;
    }
    const std::uint64_t fileSize = pak.size = std::uint64_t(st.st_size);
    unsigned char head[kHeaderSize] = {};
    const std::size_t headRead = fileSize < kHeaderSize ? 0 : kHeaderSize;
    if (const auto read = corvane::io::readAllAt(pak.fd.get(), head, headRead, 0); !read) {
        complain(errorText(archive, read.failure().error));
        return false;
    }
    const Checked<Header> parsed = parseHeader(head, headRead, fileSize);
    if (!parsed) {
        complain(archive + ": " + parsed.failure().why);
        return false;
    }
    const Header& header = pak.header = *parsed;
    std::vector<unsigned char> dir(header.dirLength);
    if (const auto read =
            corvane::io::readAllAt(pak.fd.get(), dir.data(), dir.size(), header.dirOffset);
        !read) {
        complain(errorText(archive, read.failure().error));
        return false;
    }
    pak.entries = parseDirectory(dir.data(), dir.size(), fileSize);
    return true;
}

// Index of the member called `name`: an exact match first, else one ignoring ASCII case.
std::optional<std::size_t> findMember(const std::vector<Entry>& entries, const std::string& name) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].name == name)
            return i;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (corvane::io::equalIgnoringAsciiCase(entries[i].name, name))
            return i;
    return std::nullopt;
}

// No member may take the last component `name` when it would replace one of the program's
// archives or the journal of an archive's update.
Checked<void> checkNotProtected(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::string base = lowerAscii(slash == std::string::npos ? name : name.substr(slash + 1));
    if (base.size() > 4 && base.ends_with(".pk3"))
        return Problem{"would replace a .pk3 archive"};
    if (corvane::io::isJournalName(base))
        return Problem{"would replace an archive's journal"};
    return {};
}

enum class Outcome { Done, Skipped, Failed };

// Members of one folder usually follow each other: the folder of the last one stays open,
// since walking to it again for each costs more than copying a small file.
struct Places {
    corvane::io::Tree& tree;
    std::string folder; // of the last member, as named in the pack
    corvane::io::Tree::Place last;

    corvane::io::Result<corvane::io::Tree::Place> of(const std::string& name) {
        const std::size_t slash = name.rfind('/');
        const std::string folderName = slash == std::string::npos ? "" : name.substr(0, slash);
        if (last.folder && folderName == folder)
            return tree.sibling(last, slash == std::string::npos ? name : name.substr(slash + 1));
        corvane::io::Result<corvane::io::Tree::Place> place = tree.place(name, true);
        folder = place ? folderName : "";
        last = {};
        if (place)
            if (auto kept = tree.sibling(*place, place->name))
                last = std::move(kept).value();
        return place;
    }
};

// Writes one member to its place below the tree: through a file that appears only when
// complete, so that no half-written member is ever left.
Outcome extractMember(Places& places, int archive, const Entry& entry, mode_t mode,
                      std::vector<unsigned char>& buffer) {
    const std::string& name = entry.name;
    if (const Checked<void> allowed = checkNotProtected(name); !allowed) {
        complain(name + ": " + allowed.failure().why + ", member skipped");
        return Outcome::Skipped;
    }
    corvane::io::Result<corvane::io::Tree::Place> placed = places.of(name);
    if (!placed) {
        const int error = placed.failure().error;
        if (error == ENOENT) {
            complain(name + ": a symbolic link or a file stands where a folder is needed, "
                            "member skipped");
            return Outcome::Skipped;
        }
        complain(errorText(name + ": cannot create its folder", error) +
                 (writeFailure(error) ? "" : ", member skipped"));
        return writeFailure(error) ? Outcome::Failed : Outcome::Skipped;
    }
    const corvane::io::Tree::Place& place = *placed;
    struct stat st {};
    const bool exists =
        ::fstatat(place.folder.get(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        complain(name + ": a folder has this name, member skipped");
        return Outcome::Skipped;
    }
    if (exists && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0) {
        complain(name + ": would replace a program, member skipped");
        return Outcome::Skipped;
    }
    corvane::io::AtomicFile out;
    if (const auto created = out.create(place.folder.get(), place.name, mode); !created) {
        const int error = created.failure().error;
        complain(errorText(name + ": cannot create the file", error) +
                 (writeFailure(error) ? "" : ", member skipped"));
        return writeFailure(error) ? Outcome::Failed : Outcome::Skipped;
    }
    if (const auto copied =
            corvane::io::copyRange(archive, entry.offset, out.fd(), entry.length, buffer);
        !copied) {
        complain(errorText(name + ": cannot copy the data", copied.failure().error));
        return Outcome::Failed;
    }
    // Members are many and each can be extracted again: no flush to the disk per member, and
    // an old file goes first, so that a killed run leaves no temporary name behind.
    using corvane::io::AtomicFile;
    if (const auto committed =
            out.commit(AtomicFile::Durability::NoFlush,
                       exists ? AtomicFile::Replace::RemoveFirst : AtomicFile::Replace::Atomic);
        !committed) {
        complain(errorText(name + ": cannot put the file in place", committed.failure().error));
        return Outcome::Failed;
    }
    places.tree.created(place);
    return Outcome::Done;
}

} // namespace

int extract(const std::string& archive, const std::vector<std::string>& members,
            const std::string& destination, int fd) {
    OpenPak pak;
    if (!openPak(archive, pak, fd))
        return kExitRefused;
    // Members whose bytes overlap would be written again and again: the disk would fill. (A
    // member past the end is skipped alone, below.)
    std::vector<Entry> sound;
    std::copy_if(pak.entries.begin(), pak.entries.end(), std::back_inserter(sound),
                 [](const Entry& entry) { return entry.problem.empty(); });
    if (const Checked<void> laid = checkLayout(sound, pak.header, pak.size); !laid) {
        complain(archive + ": " + laid.failure().why);
        return kExitRefused;
    }
    corvane::io::Result<corvane::io::Tree> opened =
        corvane::io::Tree::open(destination, corvane::io::Links::Refuse);
    if (!opened) {
        complain(errorText(destination, opened.failure().error));
        return kExitRefused;
    }
    corvane::io::Tree& tree = *opened;
    int result = kExitOk;
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
            result = kExitPartial;
        }
    }
    // Quake 2 reads the first of two members whose names differ at most in case.
    std::unordered_set<std::string> done;
    std::vector<unsigned char> buffer;
    const mode_t mode = newFileMode();
    Places places{tree, {}, {}};
    for (const std::size_t index : chosen) {
        const Entry& entry = pak.entries[index];
        if (!entry.problem.empty()) {
            complain(archive + ": " + printable(entry.name) + ": " + entry.problem +
                     ", member skipped");
            result = kExitPartial;
            continue;
        }
        if (!done.insert(lowerAscii(entry.name)).second) {
            if (members.empty()) {
                complain(archive + ": " + entry.name + ": second member of this name skipped");
                result = kExitPartial;
            }
            continue;
        }
        switch (extractMember(places, pak.fd.get(), entry, mode, buffer)) {
        case Outcome::Done:
            break;
        case Outcome::Skipped:
            result = kExitPartial;
            break;
        case Outcome::Failed:
            return kExitRefused;
        }
    }
    return result;
}

int list(const std::string& archive) {
    OpenPak pak;
    if (!openPak(archive, pak))
        return kExitRefused;
    int result = kExitOk;
    for (const Entry& entry : pak.entries) {
        if (entry.problem.empty()) {
            // Checked once, below: a stream that fails stays failed.
            (void)std::printf("%s\t%u\n", entry.name.c_str(), unsigned(entry.length));
        } else {
            complain(archive + ": " + printable(entry.name) + ": " + entry.problem);
            result = kExitPartial;
        }
    }
    // A listing that cannot be written whole is no listing.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        complain(errorText("standard output"));
        return kExitRefused;
    }
    return result;
}

namespace {

struct SourceFile {
    std::string name; // relative to the folder, with '/'
    std::uint64_t size = 0;
};

// Every regular file below the open folder `folder` (known as `prefix`); complains and returns
// false on anything that cannot be stored, so that no incomplete pack is written. Links are
// refused, never followed.
bool collectFiles(int folder, const std::string& prefix, std::vector<SourceFile>& files) {
    corvane::io::FolderReader reader(folder);
    const std::string shown = prefix.empty() ? "." : printable(prefix);
    if (!reader.valid()) {
        complain(errorText(shown, reader.error()));
        return false;
    }
    bool ok = true;
    while (const dirent* e = ok ? reader.next() : nullptr) {
        const std::string part = e->d_name;
        const std::string name = prefix + part;
        struct stat st {};
        if (::fstatat(reader.fd(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            complain(errorText(printable(name)));
            ok = false;
        } else if (S_ISDIR(st.st_mode)) {
            const Fd sub(
                ::openat(reader.fd(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            ok = sub ? collectFiles(sub.get(), name + "/", files)
                     : (complain(errorText(printable(name))), false);
        } else if (!S_ISREG(st.st_mode)) {
            complain(printable(name) + ": not a regular file");
            ok = false;
        } else if (name.size() >= kNameSize) {
            complain(printable(name) + ": name longer than 55 bytes");
            ok = false;
        } else if (const Checked<void> named = checkName(name); !named) {
            complain(printable(name) + ": " + named.failure().why);
            ok = false;
        } else {
            files.push_back({name, std::uint64_t(st.st_size)});
        }
    }
    // A folder whose reading failed half way would give a pack short of its files.
    if (ok && reader.error() != 0) {
        complain(errorText(shown, reader.error()));
        ok = false;
    }
    return ok;
}

// Writes the pack of `files` below `tree` to the open file `out`.
bool writePak(int out, corvane::io::Tree& tree, const std::vector<SourceFile>& files) {
    std::vector<unsigned char> dir(files.size() * kEntrySize);
    std::vector<unsigned char> buffer;
    unsigned char head[kHeaderSize] = {'P', 'A', 'C', 'K'};
    if (const auto written = corvane::io::writeAll(out, head, kHeaderSize); !written) {
        complain(errorText("cannot write the pack", written.failure().error));
        return false;
    }
    std::uint64_t offset = kHeaderSize;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const SourceFile& file = files[i];
        if (offset + file.size > UINT32_MAX) {
            complain(file.name + ": the pack would pass 4 GiB");
            return false;
        }
        const corvane::io::Result<Fd> in = tree.openFile(file.name, O_RDONLY | O_NONBLOCK);
        const corvane::io::Result<void> copied =
            in ? corvane::io::copyRange(in->get(), 0, out, file.size, buffer)
               : corvane::io::Result<void>(in.failure());
        if (!copied) {
            complain(errorText(file.name, copied.failure().error));
            return false;
        }
        unsigned char* raw = dir.data() + i * kEntrySize;
        // The name's NUL comes from the zeroed directory: names are shorter than the field.
        // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
        std::memcpy(raw, file.name.data(), file.name.size());
        writeLe32(raw + kNameSize, std::uint32_t(offset));
        writeLe32(raw + kNameSize + 4, std::uint32_t(file.size));
        offset += file.size;
    }
    if (offset + dir.size() > UINT32_MAX) {
        complain("the pack would pass 4 GiB");
        return false;
    }
    writeLe32(head + 4, std::uint32_t(offset));
    writeLe32(head + 8, std::uint32_t(dir.size()));
    corvane::io::Result<void> written = corvane::io::writeAll(out, dir.data(), dir.size());
    if (written)
        written = corvane::io::writeAllAt(out, head, kHeaderSize, 0);
    if (!written) {
        complain(errorText("cannot write the pack", written.failure().error));
        return false;
    }
    return true;
}

} // namespace

int create(const std::string& archive, const std::string& folder) {
    const corvane::io::Result<Fd> opened = corvane::tools::openGiven(folder, O_PATH | O_DIRECTORY);
    if (!opened) {
        complain(errorText(folder, opened.failure().error));
        return kExitPartial;
    }
    const Fd& root = *opened;
    std::vector<SourceFile> files;
    if (!collectFiles(root.get(), "", files))
        return kExitPartial;
    if (files.size() > kMaxEntries) {
        complain(folder + ": more than " + std::to_string(kMaxEntries) + " files");
        return kExitPartial;
    }
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
    corvane::io::Tree tree(Fd(::fcntl(root.get(), F_DUPFD_CLOEXEC, 0)), corvane::io::Links::Refuse);
    const corvane::io::Result<corvane::io::Tree::Place> place = corvane::tools::placeGiven(archive);
    corvane::io::AtomicFile out;
    const corvane::io::Result<void> created =
        place ? out.create(place->folder.get(), place->name, newFileMode())
              : corvane::io::Result<void>(place.failure());
    if (!created) {
        complain(errorText(archive, created.failure().error));
        return kExitPartial;
    }
    if (!writePak(out.fd(), tree, files))
        return kExitPartial;
    if (const auto committed = out.commit(); !committed) {
        complain(errorText(archive, committed.failure().error));
        return kExitPartial;
    }
    return kExitOk;
}

} // namespace pak
