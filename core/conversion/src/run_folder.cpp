#include "run_folder.h"

#include "conversion/packs.h"
#include "io/folder.h"
#include "platform/error.h"
#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

namespace corvane {

const std::string RunFolder::kPrefix = ".corvane-run-";
const std::string RunFolder::kLockSuffix = ".lock";

std::string treePath(const QString& relative) {
    return packs::memberPath(encodePath(relative));
}

RunFolder::RunFolder(int workFolder, const QString& workPath)
    : m_workFolder(::fcntl(workFolder, F_DUPFD_CLOEXEC, 0)), m_workPath(workPath) {
    io::Fd made;
    for (int attempt = 0; attempt < 100 && !made; ++attempt) {
        m_name = io::uniqueName(kPrefix);
        const io::Result<Lock::State> locked =
            m_lock.take(m_workFolder.get(), m_name + kLockSuffix, true);
        if (!locked && locked.failure().error != EEXIST)
            throw Error::fromFailure(locked.failure(), kPathNotFound, workPath);
        if (!locked || *locked != Lock::State::Taken)
            continue;
        io::Result<io::Fd> folder = io::makeFolder(m_workFolder.get(), m_name);
        if (folder)
            made = std::move(folder).value();
        else if (folder.failure().error != EEXIST)
            throw Error::fromFailure(folder.failure(), kPathNotFound, workPath);
        else
            m_lock.release();
    }
    if (!made) {
        m_name.clear();
        throw Error::fromSystem(EEXIST, kPathNotFound, workPath);
    }
    m_path = workPath + QChar(kSep) + decodePath(m_name);
    m_tree = io::Tree(std::move(made), io::Links::Refuse);
}

RunFolder::~RunFolder() {
    try {
        if (const Result<void> removed = remove(); !removed)
            // Lost when standard error cannot be written; nothing else is left to tell.
            (void)std::fprintf(stderr, "corvane: could not remove the run's folder: %s\n",
                               removed.failure().plain().toLocal8Bit().constData());
    } catch (...) { // NOLINT(bugprone-empty-catch): out of memory to say it, nothing is left
    }
}

Result<void> RunFolder::remove() {
    if (m_name.empty())
        return {};
    const io::Fd own(m_tree.valid() ? ::fcntl(m_tree.root(), F_DUPFD_CLOEXEC, 0) : -1);
    m_tree = io::Tree();
    const io::Result<void> removed = io::removeTree(m_workFolder.get(), m_name);
    if (!removed && own) {
        // The work folder may not be entered any more (it was given to another user): what the
        // run made goes at least, through the run's own folder. What stays below it is part of
        // the failure already reported.
        if (const io::Result<std::vector<std::string>> names = io::listNames(own.get()))
            for (const std::string& name : *names)
                (void)io::removeTree(own.get(), name);
    }
    m_name.clear();
    m_lock.release();
    if (!removed)
        return Error::fromFailure(removed.failure(), kPathNotFound,
                                  m_workPath + QChar(kSep) +
                                      nativePath(decodePath(removed.failure().what)));
    return {};
}

QString RunFolder::pathOf(const QString& relative) const {
    return relative.isEmpty() ? m_path : m_path + QChar(kSep) + nativePath(relative);
}

void RunFolder::raise(int error, int notFound, const QString& relative) const {
    throw Error::fromSystem(error, notFound, pathOf(relative));
}

io::Kind RunFolder::kindOf(const QString& relative) {
    const io::Tree::Entry entry = m_tree.find(treePath(relative));
    if (entry.error != 0)
        raise(entry.error, kFileNotFound, relative);
    return entry.kind;
}

qint64 RunFolder::fileSize(const QString& relative) const {
    struct stat info;
    if (fstatat(m_tree.root(), treePath(relative).c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode))
        return -1;
    return qint64(info.st_size);
}

void RunFolder::deleteFile(const QString& relative) {
    const std::string path = treePath(relative);
    const io::Result<io::Fd> file = m_tree.openFile(path, O_PATH);
    struct stat info;
    // A read-only file is kept, as the user asked.
    if (file && fstat(file->get(), &info) == 0 && S_ISREG(info.st_mode) && isReadOnly(info))
        throw Error(kPathFileAccessError, pathOf(relative));
    const io::Result<void> removed = m_tree.removeFile(path);
    const int error = removed ? 0 : removed.failure().error;
    if (error == 0 || error == ENOENT)
        return;
    if (error == EISDIR)
        throw Error(kFileNotFound, pathOf(relative));
    // Deleting needs write access to the folder: refused, the file is in use for the user.
    raise(error == EACCES || error == EPERM ? EBUSY : error, kFileNotFound, relative);
}

void RunFolder::removeFolder(const QString& relative) {
    const io::Result<void> removed = m_tree.removeFolder(treePath(relative));
    const int error = removed ? 0 : removed.failure().error;
    if (error == 0 || error == ENOENT || error == ENOTDIR)
        return;
    raise(error == EACCES || error == EPERM || error == ENOTEMPTY ? EBUSY : error, kPathNotFound,
          relative);
}

} // namespace corvane
