// What is checked before any work: nothing is changed until every check has passed.

#include "conversion/conversion.h"

#include "conversion/packs.h"
#include "conversion/tool_commands.h"
#include "installation.h"
#include "io/folder.h"
#include "lock.h"
#include "pak_contents.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/stop_signals.h"
#include "work_folder.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace corvane {

namespace {

// Bytes the user may still write on the file system of the open folder `folder`; -1 when
// unknown.
qint64 freeSpace(int folder) {
    struct statvfs info;
    if (fstatvfs(folder, &info) != 0)
        return -1;
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}

dev_t deviceOf(int folder) {
    struct stat info;
    return fstat(folder, &info) == 0 ? info.st_dev : dev_t(-1);
}

// The room the archive of `pack` takes at most: the bytes of the members that go into it
// (deflate never makes an entry larger: it is stored then), and each entry's two headers with
// its name.
qint64 archiveBytes(const packs::Pack& pack, const PakContents& contents) {
    qint64 bytes = 22; // the end record
    for (const pak::Entry& member : contents.members)
        if (packs::isPacked(pack, member.name))
            bytes += qint64(member.length) + 30 + 46 + 2 * qint64(member.name.size());
    return bytes;
}

} // namespace

QString Conversion::quake2Archive(const QString& name) const {
    return decodePath(resolveIn(m_paths.quake2, QStringLiteral("baseq2/") + name));
}

Outcome Conversion::stopBeforeWork(const Notice& notice) {
    m_view.notice(notice);
    return Outcome::CheckFailed;
}

Conversion::Step Conversion::stopIfAsked() {
    if (stopRequested() != 0)
        return Outcome::Interrupted;
    // The work folder given to another user while the run works there: that user could change
    // what the run makes, so the run stops.
    struct stat work;
    if (m_run && m_work && ::fstat(m_work->fd(), &work) == 0 && work.st_uid != ::geteuid()) {
        m_view.notice({.kind = Notice::Kind::WorkFolderGivenAway, .path = m_work->path()});
        return Outcome::ToolFailed;
    }
    return {};
}

Conversion::Step Conversion::lockOrStop(Lock& lock, int folder, const QString& path) {
    const io::Result<Lock::State> result = lock.take(folder, folderLockName());
    if (result && *result == Lock::State::Taken)
        return {};
    if (!result) {
        const int error = result.failure().error;
        // A lock that cannot be taken is no sign of another conversion: it is said as it is.
        const QString file = path + QChar(kSep) + QString::fromStdString(folderLockName());
        return stopBeforeWork(
            {.kind = error == EPERM ? Notice::Kind::LockNotOurs : Notice::Kind::LockFailed,
             .path = file,
             .cause = error});
    }
    m_view.notice({.kind = Notice::Kind::Busy, .path = path});
    return Outcome::Busy;
}

Conversion::Step Conversion::checkBeforeWork() {
    for (Step (Conversion::*check)() :
         {&Conversion::openWorkFolder, &Conversion::checkTools, &Conversion::openQfbastion,
          &Conversion::checkTargets, &Conversion::readPaks, &Conversion::checkFreeSpace})
        if (Step end = (this->*check)())
            return end;
    return stopIfAsked();
}

Conversion::Step Conversion::openWorkFolder() {
    m_work = std::make_unique<WorkFolder>();
    if (const io::Result<void, Notice> opened = m_work->open(m_programFolder); !opened)
        return stopBeforeWork(opened.failure());
    return lockOrStop(m_work->lock(), m_work->fd(), m_work->path());
}

Conversion::Step Conversion::checkTools() {
    for (const QString& tool : {kPakTool, kZipTool}) {
        const QString path = m_programFolder + QChar(kSep) + tool;
        // A folder may be "executable" too: only a regular file is a tool.
        struct stat info;
        if (stat(encodePath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            access(encodePath(path).c_str(), X_OK) != 0)
            return stopBeforeWork({.kind = Notice::Kind::ToolMissing, .path = path});
    }
    return {};
}

Conversion::Step Conversion::openQfbastion() {
    // Opened once, by its exact name and never through a link; the archives are installed
    // through this handle, whatever is put at the name later.
    const QString path = qfbastionPath();
    const io::Result<io::Fd> quake3 =
        io::openPath(encodePath(m_paths.quake3), O_PATH | O_DIRECTORY);
    m_qfbastion.reset(
        quake3 ? openat(quake3->get(), "qfbastion", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
               : -1);
    const int error = quake3 ? errno : quake3.failure().error;
    if (!m_qfbastion && (error == ELOOP || error == ENOTDIR))
        return stopBeforeWork({.kind = Notice::Kind::QfbastionNoFolder, .path = path});
    // Out of descriptors, say, is no missing folder.
    if (!m_qfbastion && error != ENOENT)
        return stopBeforeWork(
            {.kind = Notice::Kind::QfbastionUnopened, .path = path, .cause = error});
    if (!m_qfbastion)
        return stopBeforeWork({.kind = Notice::Kind::QfbastionMissing, .path = m_paths.quake3});
    if (faccessat(m_qfbastion.get(), ".", W_OK, AT_EACCESS) != 0)
        return stopBeforeWork({.kind = Notice::Kind::QfbastionReadOnly, .path = path});
    // The program kept in qfbastion itself: one lock serves both.
    struct stat work, target;
    if (::fstat(m_work->fd(), &work) == 0 && ::fstat(m_qfbastion.get(), &target) == 0 &&
        work.st_dev == target.st_dev && work.st_ino == target.st_ino)
        return {};
    m_qfbastionLock = std::make_unique<Lock>();
    return lockOrStop(*m_qfbastionLock, m_qfbastion.get(), path);
}

Conversion::Step Conversion::checkTargets() {
    // The archives are installed all or none: one that cannot be replaced stops the run here.
    for (const packs::Pack& pack : packs::kPacks)
        if (const Result<void> replaceable =
                Installation::checkReplaceable(m_qfbastion.get(), pack.archive);
            !replaceable)
            return stopBeforeWork({.kind = Notice::Kind::TargetKept,
                                   .path = targetOf(QLatin1String(pack.archive)),
                                   .detail = replaceable.failure().plain()});
    return {};
}

Conversion::Step Conversion::readPaks() {
    m_paks.clear();
    m_paks.resize(std::size(packs::kPacks));
    for (size_t i = 0; i < m_paks.size(); ++i) {
        const QString path = quake2Archive(QLatin1String(packs::kPacks[i].pak));
        Result<PakContents> contents = readPakContents(encodePath(path));
        if (!contents)
            return stopBeforeWork({.kind = Notice::Kind::PakUnreadable,
                                   .path = path,
                                   .detail = contents.failure().plain()});
        m_paks[i] = std::move(contents).value();
    }
    return {};
}

Conversion::Step Conversion::checkFreeSpace() {
    qint64 unpacked = 0, archives = 0;
    for (size_t i = 0; i < m_paks.size(); ++i) {
        unpacked += m_paks[i].unpackedBytes(packs::kPacks[i]);
        archives += archiveBytes(packs::kPacks[i], m_paks[i]);
    }
    // On another file system, qfbastion receives copies of the archives.
    const bool apart = deviceOf(m_work->fd()) != deviceOf(m_qfbastion.get());
    const struct {
        int folder;
        QString path;
        qint64 needed;
    } places[] = {{m_work->fd(), m_work->path(), unpacked + archives},
                  {m_qfbastion.get(), qfbastionPath(), apart ? archives : 0}};
    for (const auto& place : places) {
        const qint64 free = freeSpace(place.folder);
        if (free >= 0 && free < place.needed)
            return stopBeforeWork({.kind = Notice::Kind::NoRoom,
                                   .path = place.path,
                                   .count = place.needed,
                                   .of = free});
    }
    return {};
}

} // namespace corvane
