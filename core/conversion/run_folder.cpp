#include "work_folder.h"

#include "core/platform/error_numbers.h"
#include "core/platform/files.h"
#include "io/atomic_file.h"

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace corvane {

std::string treePath(const QString& relative) {
    QString path = relative;
    path.replace(u'\\', u'/');
    qsizetype start = 0;
    while (start < path.size() && path[start] == u'/')
        ++start;
    return encodePath(path.mid(start));
}

WorkFolder::WorkFolder(const QString& path)
    : m_path(path), m_tree(io::Tree::open(resolve(path), io::Links::Refuse)) {
    if (!m_tree.valid())
        raise(errno, kPathNotFound, QString());
}

QString WorkFolder::pathOf(const QString& relative) const {
    return relative.isEmpty() ? m_path : m_path + QChar(kSep) + nativePath(relative);
}

void WorkFolder::raise(int error, int notFound, const QString& relative) const {
    throw RuntimeError::make(errorNumberFor(error, notFound), pathOf(relative));
}

io::Kind WorkFolder::kindOf(const QString& relative) {
    const io::Tree::Entry entry = m_tree.find(treePath(relative));
    if (entry.error != 0)
        raise(entry.error, kFileNotFound, relative);
    return entry.kind;
}

void WorkFolder::deleteFile(const QString& relative) {
    const std::string path = treePath(relative);
    const io::Fd file = m_tree.openFile(path, O_PATH);
    struct stat info;
    // A file nobody may write to is read-only: it is kept, as the user asked.
    if (file && fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) &&
        (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw RuntimeError::make(kPathFileAccessError, pathOf(relative));
    const int error = m_tree.removeFile(path);
    if (error == 0 || error == ENOENT)
        return;
    if (error == EISDIR)
        throw RuntimeError::make(kFileNotFound, pathOf(relative));
    // Deleting needs write access to the folder: refused, the file is in use for the user.
    raise(error == EACCES || error == EPERM ? EBUSY : error, kFileNotFound, relative);
}

void WorkFolder::removeFolder(const QString& relative) {
    const int error = m_tree.removeFolder(treePath(relative));
    if (error == 0 || error == ENOENT || error == ENOTDIR)
        return;
    raise(error == EACCES || error == EPERM || error == ENOTEMPTY ? EBUSY : error, kPathNotFound,
          relative);
}

void WorkFolder::removeTemporaries(const QString& relative) {
    const std::string path = treePath(relative);
    io::Fd folder = m_tree.openFolder(path);
    DIR* dir = folder ? fdopendir(folder.get()) : nullptr;
    if (!dir)
        return;
    folder.release();
    std::vector<std::string> leftovers;
    while (const dirent* entry = readdir(dir))
        if (io::isTemporaryName(entry->d_name))
            leftovers.emplace_back(entry->d_name);
    closedir(dir);
    for (const std::string& name : leftovers)
        m_tree.removeFile(path.empty() ? name : path + '/' + name);
}

io::Fd WorkFolder::openForReading(const QString& relative) {
    io::Fd file = m_tree.openFile(treePath(relative), O_RDONLY | O_NONBLOCK);
    if (!file)
        raise(errno, kFileNotFound, relative);
    return file;
}

} // namespace corvane
