// What is checked before any work, and what an earlier, interrupted run left behind.

#include "conversion.h"

#include "core/conversion/manifests.h"
#include "core/conversion/work_folder.h"
#include "core/game_paths.h"
#include "core/platform/files.h"
#include "core/services.h"
#include "io/journal.h"
#include "io/rw.h"

#include <QDir>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

const QStringList kPaks = {QStringLiteral("pak0.pak"), QStringLiteral("pak1.pak"),
                           QStringLiteral("pak2.pak")};
const QStringList kArchives = {QStringLiteral("pak0.pk3"), QStringLiteral("pak1.pk3"),
                               QStringLiteral("pak2.pk3")};
const QStringList kTools = {QStringLiteral("pak"), QStringLiteral("minizip")};

// The unpacked tree and the archives need room for about this much of the packs' size.
constexpr double kRoomFactor = 1.1;

QString megabytes(qint64 bytes) {
    return QString::number((bytes + (1 << 20) - 1) >> 20) + QStringLiteral(" MB");
}

// The folder of the user's cache where the conversion works when the program folder cannot
// be written; empty when there is no home to hold it.
QString cacheWorkFolder() {
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache)) {
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty())
            return {};
        cache = home + QStringLiteral("/.cache");
    }
    return cache + QStringLiteral("/corvane/work");
}

// Makes `folder` for the user alone; false when it cannot be made or written.
bool makePrivateFolder(const QString& folder) {
    try {
        MkDirs(folder);
    } catch (const RuntimeError&) {
        return false;
    }
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return IsFolderWritable(folder);
}

// Why the file at `path` cannot be unpacked: not there, not readable, not an ordinary file or
// not a pack. Empty when it looks like a Quake 2 pack.
QString packProblem(const std::string& path) {
    // Never blocks, so a pipe or a device standing under the name cannot stall the program.
    const io::Fd file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info;
    if (!file || fstat(file.get(), &info) != 0)
        return QString::fromLocal8Bit(strerror(errno));
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("not an ordinary file");
    char magic[4] = {};
    if (!io::readAllAt(file.get(), magic, sizeof magic, 0) || std::memcmp(magic, "PACK", 4) != 0)
        return QStringLiteral("not a Quake 2 pak file");
    return {};
}

qint64 fileSize(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? qint64(info.st_size) : 0;
}

// Whether the file looks like a whole zip archive: it ends with a zip's end record.
bool looksLikeZip(int fd) {
    struct stat info;
    if (fstat(fd, &info) != 0 || info.st_size < 22)
        return false;
    // The end record is 22 bytes and may be followed by a comment of up to 64 KiB.
    const qint64 tail = std::min<qint64>(info.st_size, 22 + 65535);
    QByteArray bytes(tail, '\0');
    if (!io::readAllAt(fd, bytes.data(), size_t(tail), std::uint64_t(info.st_size - tail)))
        return false;
    return bytes.lastIndexOf(QByteArray("PK\x05\x06", 4)) >= 0;
}

} // namespace

QString Conversion::quake2Archive(const QString& name) const {
    return decodePath(resolve(m_paths.quake2 + QStringLiteral("baseq2") + QChar(kSep) + name));
}

void Conversion::stopBeforeWork(const QString& prompt) {
    m_services.MsgBox(prompt);
    throw Stopped{Outcome::CheckFailed};
}

void Conversion::prepareWorkFolder() {
    QString work = m_programFolder;
    if (!IsFolderWritable(work)) {
        work = cacheWorkFolder();
        if (work.isEmpty() || !makePrivateFolder(work))
            stopBeforeWork(QStringLiteral("Corvane cannot write to its program folder ") +
                           m_programFolder + QStringLiteral(" nor to its work folder ") +
                           (work.isEmpty() ? QStringLiteral("in your cache") : work) +
                           QStringLiteral("\r\nIt unpacks and packs the game files there. Make "
                                          "one of them writable, then run it again."));
        m_workIsCache = true;
    }
    m_work = std::make_unique<WorkFolder>(work);
    // The cache's work folder is the program's alone: an interrupted run's leftovers go.
    if (m_workIsCache)
        emptyWorkFolder();
}

void Conversion::checkBeforeWork() {
    for (const QString& tool : kTools) {
        const QString path = m_programFolder + QChar(kSep) + tool;
        if (access(encodePath(path).c_str(), X_OK) != 0)
            stopBeforeWork(path + QStringLiteral(" is missing or cannot be run.\r\nInstall "
                                                 "Corvane again, then run it again."));
    }

    const QString qfbastion = m_paths.quake3 + QStringLiteral("qfbastion");
    if (Dir(qfbastion + QChar(kSep), kDirectories).isEmpty())
        stopBeforeWork(QStringLiteral("The folder qfbastion is missing in ") + m_paths.quake3 +
                       QStringLiteral("\r\nThe pk3 files are installed there: create it, then "
                                      "run Corvane again."));
    if (!IsFolderWritable(qfbastion))
        stopBeforeWork(QStringLiteral("Corvane cannot write to ") + qfbastion +
                       QStringLiteral("\r\nThe pk3 files are installed there: make it writable, "
                                      "then run Corvane again."));

    qint64 packBytes = 0;
    for (const QString& pak : kPaks) {
        const QString path = quake2Archive(pak);
        if (const QString problem = packProblem(encodePath(path)); !problem.isEmpty())
            stopBeforeWork(path + QStringLiteral(" cannot be unpacked: ") + problem);
        packBytes += fileSize(encodePath(path));
    }

    // Where the unpacked tree needs a folder or an archive goes, nothing else may stand.
    for (const QString& folder : pakinfo::TempFolders())
        if (const io::Kind kind = kindIn(folder);
            kind != io::Kind::Missing && kind != io::Kind::Folder)
            stopBeforeWork(m_work->pathOf(pakinfo::relativeFolder(folder)) +
                           QStringLiteral(" stands where the conversion needs a folder.\r\nMove "
                                          "it away, then run Corvane again."));
    for (const QString& archive : kArchives)
        if (const io::Kind kind = kindIn(archive);
            kind != io::Kind::Missing && kind != io::Kind::File)
            stopBeforeWork(m_work->pathOf(archive) +
                           QStringLiteral(" stands where the conversion makes an archive.\r\n"
                                          "Move it away, then run Corvane again."));

    const qint64 needed = qint64(double(packBytes) * kRoomFactor);
    const qint64 free = FreeSpace(m_work->path());
    if (free >= 0 && free < needed)
        stopBeforeWork(QStringLiteral("There is not enough free space in ") + m_work->path() +
                       QStringLiteral(": the conversion needs about ") + megabytes(needed) +
                       QStringLiteral(", ") + megabytes(free) + QStringLiteral(" are free."));
}

io::Kind Conversion::kindIn(const QString& relative) {
    try {
        return m_work->kindOf(relative);
    } catch (const RuntimeError& error) {
        stopBeforeWork(error.description());
    }
}

void Conversion::removeLeftovers() {
    // Temporary files of killed tool runs would keep their folders from being removed.
    m_work->removeTemporaries(QString());
    for (const QString& folder : pakinfo::TempFolders())
        m_work->removeTemporaries(pakinfo::relativeFolder(folder));
    // An archive that does not end like a zip, or one a killed run was changing, is no
    // finished archive: it would be installed half made.
    for (const QString& archive : kArchives) {
        const QString journal = decodePath(io::journalName(encodePath(archive)));
        bool stale = m_work->holdsFile(journal);
        if (!stale && m_work->holdsFile(archive))
            stale = !looksLikeZip(m_work->openForReading(archive).get());
        if (stale) {
            m_work->deleteFile(archive);
            m_work->deleteFile(journal);
        }
    }
}

void Conversion::emptyWorkFolder() {
    RemoveTree(m_work->path());
    MkDirs(m_work->path());
    m_work = std::make_unique<WorkFolder>(m_work->path());
}

void Conversion::finishWorkFolder() {
    if (m_workIsCache)
        emptyWorkFolder();
}

} // namespace corvane
