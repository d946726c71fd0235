#include "folder_browser.h"

#include "shell/platform_folders.h"

namespace corvane {

namespace {

constexpr int kInvalidIndex = 381;

[[noreturn]] void raiseInvalidIndex() {
    throw RuntimeError(kInvalidIndex, QStringLiteral("Invalid property array index"));
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

// Hidden helpers of the search: never in the tab chain, never drawn.
void makeInvisibleHelper(QWidget* control, const QString& objectName) {
    control->setObjectName(objectName);
    control->setFocusPolicy(Qt::NoFocus);
}

} // namespace

DriveListBox::DriveListBox(QWidget* parent, const QString& objectName) : QWidget(parent) {
    makeInvisibleHelper(this, objectName);
    for (const QString& root : DriveRoots())
        m_roots << withTrailingSeparator(root);
}

QString DriveListBox::List(int index) const {
    if (index < 0 || index >= ListCount())
        raiseInvalidIndex();
    return m_roots[index];
}

void DriveListBox::setListIndex(int index) {
    if (index == m_index)
        return;
    ProbeDrive(List(index));
    m_index = index;
    if (m_onChange)
        m_onChange();
}

QString DriveListBox::Drive() const {
    return m_index >= 0 ? m_roots[m_index] : QString();
}

void DriveListBox::setDrive(const QString& path) {
    const int index = indexHolding(path);
    if (index >= 0)
        setListIndex(index);
}

void DriveListBox::startOn(const QString& path) {
    m_index = indexHolding(path);
}

// The drive with the longest root that `path` lies under.
int DriveListBox::indexHolding(const QString& path) const {
    const QString folder = withTrailingSeparator(path);
    int best = -1;
    for (int i = 0; i < ListCount(); ++i)
        if (folder.startsWith(m_roots[i]) && (best < 0 || m_roots[i].size() > m_roots[best].size()))
            best = i;
    return best;
}

DirListBox::DirListBox(QWidget* parent, const QString& objectName, const QStringList& driveRoots)
    : QWidget(parent) {
    makeInvisibleHelper(this, objectName);
    for (const QString& root : driveRoots)
        m_driveRoots << withTrailingSeparator(root);
}

bool DirListBox::isDriveRoot(const QString& path) const {
    const QStringView key = QStringView(path).left(lengthWithoutTrailingSeparators(path));
    if (key.size() == 1 && key[0] == QChar(kSep))
        return true;
    for (const QString& root : m_driveRoots)
        if (root.size() == key.size() + 1 && root.startsWith(key))
            return true;
    return false;
}

QString DirListBox::normalized(const QString& path) const {
    if (!path.startsWith(QChar(kSep)))
        throw RuntimeError::make(kPathNotFound, path);
    const QString key = withoutTrailingSeparators(path);
    return isDriveRoot(key) ? withTrailingSeparator(key) : key;
}

QString DirListBox::parentOf(const QString& path) const {
    const QString key = withoutTrailingSeparators(path);
    const qsizetype last = key.lastIndexOf(QChar(kSep));
    return normalized(last <= 0 ? QString(kSep) : key.left(last));
}

void DirListBox::setPath(const QString& path) {
    const QString folder = normalized(path);
    // Reopening the open folder costs nothing: the walk does it once per sub-folder.
    if (folder != m_path) {
        QStringList subFolders = SubFolders(folder);
        m_path = folder;
        m_subFolders = std::move(subFolders);
    }
    if (m_onChange)
        m_onChange();
    emit pathChanged(m_path);
}

QString DirListBox::List(int index) const {
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

FileListBox::FileListBox(QWidget* parent, const QString& objectName) : QWidget(parent) {
    makeInvisibleHelper(this, objectName);
}

void FileListBox::setPath(const QString& path) {
    m_path = path;
    m_listed = false;
}

void FileListBox::setPattern(const QString& pattern) {
    m_pattern = pattern;
    m_listed = false;
}

const QStringList& FileListBox::files() const {
    if (!m_listed) {
        m_files = FilesMatching(m_path, m_pattern);
        m_listed = true;
    }
    return m_files;
}

int FileListBox::ListCount() const {
    return int(files().size());
}

QString FileListBox::List(int index) const {
    if (index < 0 || index >= ListCount())
        raiseInvalidIndex();
    return m_files[index];
}

} // namespace corvane
