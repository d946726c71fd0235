#pragma once

// The drives and folder listings that the installation search walks. A drive is a mounted file
// system that can hold user files; its root is its mount point written with a trailing
// separator ("/", "/media/usb/"). Folder paths are absolute and use kSep; a trailing separator
// is allowed. Failures raise Error: 76 (path not found), 70 (permission denied),
// 68 (device unavailable), 7 (out of memory) or 75 (any other access error), with a
// description that names the folder.

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace corvane {

class FolderSource {
public:
    virtual ~FolderSource() = default;

    // The roots of the drives, in the order they are searched.
    virtual QStringList driveRoots() = 0;
    // Raises 68 when the drive whose root is `root` cannot be reached (removed media, a stale
    // network or FUSE mount); a drive that is there but cannot be read passes.
    virtual void probeDrive(const QString& root) = 0;
    // The names of the folders directly inside `folder`, in byte order.
    virtual QStringList subFolders(const QString& folder) = 0;
    // The names of the files directly inside `folder` that match `pattern` ('*' and '?',
    // ignoring ASCII case), in byte order.
    virtual QStringList filesMatching(const QString& folder, const QString& pattern) = 0;
    // The walk is over: nothing stays open, so no drive stays busy.
    virtual void release() = 0;
};

// The folders of the mounted file systems. Symbolic links and mount points of other file
// systems are never listed as folders (a walk through them would leave the drive or loop), and
// names that are not valid UTF-8 are left out: they could be neither shown nor opened again.
// The listings of the folder read last and of the folders above it are kept, since a walk
// comes back to them again and again, and each is read once: a sub-folder that cannot be
// found when the walk opens it tells that its folder changed, and that folder is read again
// when next asked for, or raises 76 from then on when it vanished itself.
class DiskFolders : public FolderSource {
public:
    // `roots` replaces the mounted file systems as the drive list.
    explicit DiskFolders(std::optional<QStringList> roots = std::nullopt);
    ~DiskFolders() override;

    QStringList driveRoots() override;
    void probeDrive(const QString& root) override;
    QStringList subFolders(const QString& folder) override;
    QStringList filesMatching(const QString& folder, const QString& pattern) override;
    void release() override;

    // What is known of one folder of the walk.
    struct Listing;

private:
    const Listing& read(const QString& folder);

    std::optional<QStringList> m_roots;
    size_t m_maxOpen;
    std::vector<std::unique_ptr<Listing>> m_chain;
};

} // namespace corvane
