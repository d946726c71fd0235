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

QString readPakContents(const std::string& path, PakContents& contents) {
    // Never blocks, so a pipe or a device standing under the name cannot stall the program.
    io::Fd file = io::openPath(path, O_RDONLY | O_NONBLOCK);
    struct stat info;
    if (!file || ::fstat(file.get(), &info) != 0)
        return QString::fromLocal8Bit(strerror(errno));
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("not an ordinary file");
    const std::uint64_t size = std::uint64_t(info.st_size);
    unsigned char head[pak::kHeaderSize] = {};
    pak::Header header;
    // A file shorter than the header cannot be read whole at its start.
    if (!io::readAllAt(file.get(), head, sizeof head, 0) || std::memcmp(head, "PACK", 4) != 0)
        return QStringLiteral("not a Quake 2 pak file");
    if (const std::string why = pak::parseHeader(head, sizeof head, size, header); !why.empty())
        return QString::fromStdString(why);
    std::vector<unsigned char> directory(header.dirLength);
    if (!io::readAllAt(file.get(), directory.data(), directory.size(), header.dirOffset))
        return QString::fromLocal8Bit(strerror(errno));
    contents.members = pak::parseDirectory(directory.data(), directory.size(), size);
    contents.file = std::move(file);
    return QString::fromStdString(pak::layoutProblem(contents.members, header, size));
}

} // namespace corvane
