#include "pak_contents.h"

#include "io/fd.h"
#include "io/folder.h"
#include "io/rw.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

namespace corvane {

namespace {

constexpr qint64 kBlock = 4096;

} // namespace

qint64 PakContents::unpackedBytes(const packs::Pack& pack) const {
    qint64 bytes = 0;
    for (const pak::Entry& member : members)
        if (packs::unpacks(pack, member.name))
            bytes += (qint64(member.length) + kBlock - 1) / kBlock * kBlock;
    return bytes;
}

Result<PakContents> readPakContents(const std::string& path) {
    // Refused for what the pack holds: the reason alone, in words.
    const auto refused = [](const QString& why) { return Error(kPathFileAccessError, {}, 0, why); };
    // Never blocks, so a pipe or a device standing under the name cannot stall the program.
    io::Result<io::Fd> file = io::openPath(path, O_RDONLY | O_NONBLOCK);
    if (!file)
        return Error::fromFailure(file.failure(), kFileNotFound, {});
    struct stat info;
    if (::fstat(file->get(), &info) != 0)
        return Error::fromSystem(errno, kFileNotFound, {});
    if (!S_ISREG(info.st_mode))
        return refused(QStringLiteral("not an ordinary file"));
    const std::uint64_t size = std::uint64_t(info.st_size);
    unsigned char head[pak::kHeaderSize] = {};
    // A file shorter than the header cannot be read whole at its start.
    if (!io::readAllAt(file->get(), head, sizeof head, 0) || std::memcmp(head, "PACK", 4) != 0)
        return refused(QStringLiteral("not a Quake 2 pak file"));
    const pak::Checked<pak::Header> header = pak::parseHeader(head, sizeof head, size);
    if (!header)
        return refused(QString::fromStdString(header.failure().why));
    std::vector<unsigned char> directory(header->dirLength);
    if (const io::Result<void> read =
            io::readAllAt(file->get(), directory.data(), directory.size(), header->dirOffset);
        !read)
        return Error::fromFailure(read.failure(), kFileNotFound, {});
    PakContents contents;
    contents.members = pak::parseDirectory(directory.data(), directory.size(), size);
    if (const pak::Checked<void> laid = pak::checkLayout(contents.members, *header, size); !laid)
        return refused(QString::fromStdString(laid.failure().why));
    contents.file = std::move(file).value();
    return contents;
}

} // namespace corvane
