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
#include "platform/services.h"
#include "platform/sizes.h"
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

QString megabytes(qint64 bytes) {
    return readableSize(bytes);
}

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
        if (packs::isPacked(pack, member.name, '/'))
            bytes += qint64(member.length) + 30 + 46 + 2 * qint64(member.name.size());
    return bytes;
}

} // namespace

QString Conversion::quake2Archive(const QString& name) const {
    return decodePath(resolveIn(m_paths.quake2, QStringLiteral("baseq2/") + name));
}

Outcome Conversion::stopBeforeWork(const QString& prompt) {
    m_services.MsgBox(prompt);
    return Outcome::CheckFailed;
}

Conversion::Step Conversion::stopIfAsked() {
    if (stopRequested() != 0)
        return Outcome::Interrupted;
    // The work folder given to another user while the run works there: that user could change
    // what the run makes, so the run stops.
    struct stat work;
    if (m_run && m_work && ::fstat(m_work->fd(), &work) == 0 && work.st_uid != ::geteuid()) {
        m_services.MsgBox(m_work->path() +
                          QStringLiteral(" was given to another user while Corvane worked in "
                                         "it.\r\nWhat the run had made was removed and nothing "
                                         "was installed."));
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
            (error == EPERM ? file + QStringLiteral(" is no file of yours")
                            : QStringLiteral("Corvane cannot lock ") + file + QStringLiteral(": ") +
                                  QString::fromLocal8Bit(strerror(error))) +
            QStringLiteral(".\r\nWithout that lock a second conversion could work there at the "
                           "same time; nothing was done."));
    }
    m_services.MsgBox(QStringLiteral("Another conversion is running in ") + path +
                      QStringLiteral(".\r\nWait until it has ended, then run Corvane again."));
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
    if (const Result<void> opened = m_work->open(m_programFolder); !opened)
        return stopBeforeWork(opened.failure().plain());
    return lockOrStop(m_work->lock(), m_work->fd(), m_work->path());
}

Conversion::Step Conversion::checkTools() {
    for (const QString& tool : {kPakTool, kZipTool}) {
        const QString path = m_programFolder + QChar(kSep) + tool;
        // A folder may be "executable" too: only a regular file is a tool.
        struct stat info;
        if (stat(encodePath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            access(encodePath(path).c_str(), X_OK) != 0)
            return stopBeforeWork(path + QStringLiteral(" is missing or cannot be run.\r\nInstall "
                                                        "Corvane again, then run it again."));
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
        return stopBeforeWork(
            path + QStringLiteral(" is no folder of its own (a symbolic link or a file)."
                                  "\r\nThe pk3 files are installed there: put the folder "
                                  "itself there, then run Corvane again."));
    // Out of descriptors, say, is no missing folder.
    if (!m_qfbastion && error != ENOENT)
        return stopBeforeWork(QStringLiteral("Corvane cannot open ") + path + QStringLiteral(": ") +
                              QString::fromLocal8Bit(strerror(error)));
    if (!m_qfbastion)
        return stopBeforeWork(QStringLiteral("The folder qfbastion is missing in ") +
                              m_paths.quake3 +
                              QStringLiteral("\r\nThe pk3 files are installed there: create it, "
                                             "then run Corvane again."));
    if (faccessat(m_qfbastion.get(), ".", W_OK, AT_EACCESS) != 0)
        return stopBeforeWork(QStringLiteral("Corvane cannot write to ") + path +
                              QStringLiteral("\r\nThe pk3 files are installed there: make it "
                                             "writable, then run Corvane again."));
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
            return stopBeforeWork(targetOf(QLatin1String(pack.archive)) + QStringLiteral(" ") +
                                  replaceable.failure().plain() +
                                  QStringLiteral(".\r\nCorvane installs the three archives "
                                                 "together or none: have it replaced or moved "
                                                 "away, then run Corvane again."));
    return {};
}

Conversion::Step Conversion::readPaks() {
    m_paks.clear();
    m_paks.resize(std::size(packs::kPacks));
    for (size_t i = 0; i < m_paks.size(); ++i) {
        const QString path = quake2Archive(QLatin1String(packs::kPacks[i].pak));
        Result<PakContents> contents = readPakContents(encodePath(path));
        if (!contents)
            return stopBeforeWork(path + QStringLiteral(" cannot be unpacked: ") +
                                  contents.failure().plain());
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
            return stopBeforeWork(QStringLiteral("There is not enough free space in ") +
                                  place.path + QStringLiteral(": the conversion needs about ") +
                                  megabytes(place.needed) + QStringLiteral(", ") + megabytes(free) +
                                  QStringLiteral(" are free."));
    }
    return {};
}

} // namespace corvane
