#pragma once

// The search's folder browser: a drive list, a folder list and a file list over a
// FolderSource. They keep their state in memory and run their change handler synchronously
// inside the setting that changes them, so a failure in the handler reaches whoever made the
// change.

#include <QString>
#include <QStringList>

#include <functional>

namespace corvane {

class FolderSource;

// The drives of the platform, one entry each; the text of an entry is the drive's root.
class DriveList {
public:
    explicit DriveList(FolderSource& source);

    int ListCount() const { return int(m_roots.size()); }
    // The text of entry `index` (error 381 outside the list).
    QString List(int index) const;
    int ListIndex() const { return m_index; }
    // Selects entry `index`; another entry than the selected one runs the change handler.
    // A drive that cannot be reached fails with error 68 and stays unselected.
    void setListIndex(int index);
    // The selected entry's text; empty when none is selected.
    QString Drive() const;
    // Selects the drive that holds `path`, as setListIndex does; nothing changes when no
    // drive holds it.
    void setDrive(const QString& path);
    // The selection at load: the drive that holds `path`, without a change.
    void startOn(const QString& path);

    const QStringList& roots() const { return m_roots; }
    void setChangeHandler(std::function<void()> handler) { m_onChange = std::move(handler); }

private:
    int indexHolding(const QString& path) const;

    FolderSource& m_source;
    QStringList m_roots;
    int m_index = -1;
    std::function<void()> m_onChange;
};

// One open folder at a time. Entry -1 is the open folder, -2 its parent and so on up to the
// drive root; entries 0 .. ListCount() - 1 are its sub-folders. A drive root's path ends with
// the separator ("/", "/media/usb/"); any other folder's path does not.
class DirList {
public:
    DirList(FolderSource& source, const QStringList& driveRoots);

    const QString& Path() const { return m_path; }
    // Opens `path` (absolute; a trailing separator is allowed), highlights entry -1 and runs
    // the change handler. A folder that cannot be read raises its error and stays closed.
    void setPath(const QString& path);
    int ListCount() const { return int(m_subFolders.size()); }
    // The full path of entry `index` (error 381 outside the entries).
    QString List(int index) const;
    int ListIndex() const { return -1; }
    // Whether the open folder shows a sub-folder named `name`.
    bool showsSubFolder(const QString& name, Qt::CaseSensitivity sensitivity) const {
        return m_subFolders.contains(name, sensitivity);
    }

    // Whether `path` is the root of a drive ("/" always is).
    bool isDriveRoot(const QString& path) const;
    void setChangeHandler(std::function<void()> handler) { m_onChange = std::move(handler); }

private:
    QString normalized(const QString& path) const;
    QString parentOf(const QString& path) const;

    FolderSource& m_source;
    QStringList m_driveRoots;
    QString m_path;
    QStringList m_subFolders;
    std::function<void()> m_onChange;
};

// The files of one folder whose names match a pattern, listed when first asked for.
class FileList {
public:
    explicit FileList(FolderSource& source) : m_source(source) {}

    const QString& Path() const { return m_path; }
    void setPath(const QString& path);
    const QString& Pattern() const { return m_pattern; }
    void setPattern(const QString& pattern);
    // Number of matching files; reading the folder may raise its error.
    int ListCount() const;
    // The bare name of entry `index` (error 381 outside the list).
    QString List(int index) const;

private:
    const QStringList& files() const;

    FolderSource& m_source;
    QString m_path;
    QString m_pattern = QStringLiteral("*");
    mutable QStringList m_files;
    mutable bool m_listed = false;
};

} // namespace corvane
