#include "search/folder_browser.h"

#include "platform/error.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace corvane {

namespace {

[[noreturn]] void raiseInvalidIndex() {
    throw Error(kInvalidIndex);
}

// The length of `path` without its trailing separators ("/" keeps its one).
qsizetype lengthWithoutTrailingSeparators(QStringView path) {
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == QChar(kSep))
        --end;
    return end;
}

QString withoutTrailingSeparators(const QString& path) {
    return path.left(lengthWithoutTrailingSeparators(path));
}

QString withTrailingSeparator(const QString& path) {
    return path.endsWith(QChar(kSep)) ? path : path + kSep;
}

} // namespace

DriveList::DriveList(FolderSource& source) : m_source(source) {
    for (const QString& root : source.driveRoots())
        m_roots << withTrailingSeparator(root);
}

QString DriveList::List(int index) const {
    if (index < 0 || index >= ListCount())
        raiseInvalidIndex();
    return m_roots[index];
}

void DriveList::setListIndex(int index) {
    if (index == m_index)
        return;
    m_source.probeDrive(List(index));
    m_index = index;
    if (m_onChange)
        m_onChange();
}

QString DriveList::Drive() const {
    return m_index >= 0 ? m_roots[m_index] : QString();
}

void DriveList::setDrive(const QString& path) {
    const int index = indexHolding(path);
    if (index >= 0)
        setListIndex(index);
}

void DriveList::startOn(const QString& path) {
    m_index = indexHolding(path);
}

// The drive with the longest root that `path` lies under.
int DriveList::indexHolding(const QString& path) const {
    const QString folder = withTrailingSeparator(path);
    int best = -1;
    for (int i = 0; i < ListCount(); ++i)
        if (folder.startsWith(m_roots[i]) && (best < 0 || m_roots[i].size() > m_roots[best].size()))
            best = i;
    return best;
}

DirList::DirList(FolderSource& source, const QStringList& driveRoots) : m_source(source) {
    for (const QString& root : driveRoots)
        m_driveRoots << withTrailingSeparator(root);
}

bool DirList::isDriveRoot(const QString& path) const {
    const QStringView key = QStringView(path).left(lengthWithoutTrailingSeparators(path));
    if (key.size() == 1 && key[0] == QChar(kSep))
        return true;
    for (const QString& root : m_driveRoots)
        if (root.size() == key.size() + 1 && root.startsWith(key))
            return true;
    return false;
}

QString DirList::normalized(const QString& path) const {
    if (!path.startsWith(QChar(kSep)))
        throw Error(kPathNotFound, path);
    const QString key = withoutTrailingSeparators(path);
    return isDriveRoot(key) ? withTrailingSeparator(key) : key;
}

QString DirList::parentOf(const QString& path) const {
    const QString key = withoutTrailingSeparators(path);
    const qsizetype last = key.lastIndexOf(QChar(kSep));
    return normalized(last <= 0 ? QString(kSep) : key.left(last));
}

void DirList::setPath(const QString& path) {
    const QString folder = normalized(path);
    // Asked each time: the walk reopens a folder once per sub-folder, and the source tells
    // then whether opening the last one showed the folder changed or vanished meanwhile.
    QStringList subFolders = m_source.subFolders(folder);
    m_path = folder;
    m_subFolders = std::move(subFolders);
    if (m_onChange)
        m_onChange();
}

QString DirList::List(int index) const {
    if (index >= 0) {
        if (index >= ListCount())
            raiseInvalidIndex();
        return withTrailingSeparator(m_path) + m_subFolders[index];
    }
    QString entry = m_path;
    for (int step = -1; step > index; --step) {
        if (isDriveRoot(entry))
            raiseInvalidIndex();
        entry = parentOf(entry);
    }
    return entry;
}

void FileList::setPath(const QString& path) {
    m_path = path;
    m_listed = false;
}

void FileList::setPattern(const QString& pattern) {
    m_pattern = pattern;
    m_listed = false;
}

const QStringList& FileList::files() const {
    if (!m_listed) {
        m_files = m_source.filesMatching(m_path, m_pattern);
        m_listed = true;
    }
    return m_files;
}

int FileList::ListCount() const {
    return int(files().size());
}

QString FileList::List(int index) const {
    if (index < 0 || index >= ListCount())
        raiseInvalidIndex();
    return m_files[index];
}

} // namespace corvane
