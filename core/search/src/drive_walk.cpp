#include "search/drive_walk.h"

#include "platform/counter16.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/services.h"

#include <algorithm>
#include <utility>

namespace corvane {

namespace {

// Runs one step of a drive; a failure skips just that step and its number is remembered.
template <typename Step> void resumeNext(int& lastError, Step&& step) {
    try {
        step();
    } catch (const Error& error) {
        lastError = error.number();
    }
}

} // namespace

DriveWalk::DriveWalk(Services& services)
    : Drvlist(services.folders()), dirList(services.folders(), Drvlist.roots()),
      filList(services.folders()), m_services(services) {
    Drvlist.setChangeHandler([this] { Drvlist_Change(); });
    dirList.setChangeHandler([this] { dirList_Change(); });
    // The browser starts where the program was started, on that folder's drive.
    const QString startFolder = currentFolder();
    Drvlist.startOn(startFolder);
    dirList.setPath(startFolder);
}

void DriveWalk::GoToDriveRoot() {
    // One level per step: entry -2 is the parent of the open folder.
    while (!dirList.isDriveRoot(dirList.Path()))
        dirList.setPath(dirList.List(dirList.ListIndex() - 1));
}

void DriveWalk::Drvlist_Change() {
    try {
        dirList.setPath(Drvlist.Drive());
    } catch (const Error&) {
        // Back to the drive the folder list is still on, without a message.
        Drvlist.setDrive(dirList.Path());
    }
}

void DriveWalk::dirList_Change() {
    filList.setPath(dirList.Path());
}

qsizetype DriveWalk::counted(qsizetype count) const {
    return Counter16::from(count).value();
}

void DriveWalk::walkDrives() {
    const qsizetype driveCount = counted(Drvlist.ListCount());
    for (int i = 0; i < driveCount; ++i)
        searchDrive(i);
    m_services.folders().release();
}

void DriveWalk::searchDrive(int index) {
    int lastError = 0;
    m_driveLost = false;
    // The probe only gives a drive without media its chance to fail.
    resumeNext(lastError, [&] { Dir(Drvlist.List(index) + kSep); });
    resumeNext(lastError, [&] { Drvlist.setListIndex(index); });
    if (lastError == kDeviceUnavailable)
        return;
    QString root;
    resumeNext(lastError, [&] { GoToDriveRoot(); });
    resumeNext(lastError, [&] { filList.setPattern(QStringLiteral("*.exe")); });
    resumeNext(lastError, [&] { root = dirList.Path(); });
    resumeNext(lastError, [&] { filList.setPath(root); });
    resumeNext(lastError, [&] { SearchFolder(root, QString()); });
}

bool DriveWalk::SearchFolder(const QString& folder, const QString& returnFolder) {
    m_services.DoEvents();
    try {
        qsizetype remaining = counted(dirList.ListCount());
        bool childStop = false;
        // Last sub-folder first, each one walked completely before the next.
        while (remaining > 0) {
            // Each sub-folder's visit comes back to this folder, also after a visit that
            // ended in an error left the folder list elsewhere.
            // A copy: `folder` may be the folder list's own path, which the visits change.
            const QString current = folder; // NOLINT(performance-unnecessary-copy-initialization)
            dirList.setPath(folder);
            // Sub-folders that vanished since the count was taken are not tried one by one.
            remaining = std::min<qsizetype>(remaining, dirList.ListCount());
            if (remaining > 0)
                childStop = visitSubFolder(dirList.List(int(remaining - 1)), current);
            else
                break;
            --remaining;
            if (childStop)
                break;
        }
        // A sub-folder's failed visit leaves the folder list where it failed.
        if (dirList.Path() != folder)
            dirList.setPath(folder);
        const QString& open = dirList.Path();
        examineFolder(dirList.isDriveRoot(open) ? open : open + kSep);
        if (!returnFolder.isEmpty())
            dirList.setPath(returnFolder);
        return false;
    } catch (const Error& error) {
        return visitFailed(error);
    }
}

bool DriveWalk::visitSubFolder(const QString& subFolder, const QString& current) {
    try {
        dirList.setPath(subFolder);
    } catch (const Error& error) {
        return visitFailed(error);
    }
    folderEntered(dirList.Path());
    return SearchFolder(dirList.Path(), current);
}

bool DriveWalk::visitFailed(const Error& error) {
    switch (error.number()) {
    case kOutOfMemory:
        return true;
    case kPermissionDenied: // every desktop has dozens of folders the user may not read
    case kPathNotFound:     // vanished while the walk was in it: a cache emptied, say
        return false;
    case kDeviceUnavailable:
        // A medium pulled out: one box says so, and the rest of the drive is left.
        if (!std::exchange(m_driveLost, true))
            showFailure(error);
        return true;
    default:
        showFailure(error);
        return false;
    }
}

void DriveWalk::showFailure(const Error& error) {
    beforeBox();
    m_services.MsgBox(error.description());
}

} // namespace corvane
