#pragma once

// The walk of every drive through the folder browser: drives in list order, each depth first,
// sub-folders from the last entry to the first, each folder examined after everything below
// it, so a drive root comes last. The walk yields to the user interface once per folder.
//
// A sub-folder that cannot be entered or listed ends only its own visit: its parent goes on
// with the next sub-folder and still examines its own files. A folder the user may not read,
// and one that vanished while the walk was in it, are passed over without a word; a folder
// that vanished with its parent ends the parent's visit too, so its siblings are not tried one
// by one. A drive that goes away is said once, in one box, and the rest of it is left. Any other
// failure is shown in a box with the system's description, and the walk goes on. Running out
// of memory ends the visit quietly and stops the parent's further sub-folders.

#include "search/folder_browser.h"
#include "search/layouts.h"

#include <QElapsedTimer>
#include <QString>

namespace corvane {

class Error;
class Services;

class DriveWalk {
public:
    // The wizard counts drives and sub-folders in 16 bits, as its screens do: more than 32,767
    // sub-folders in one folder fail that folder's visit with an overflow.
    explicit DriveWalk(Services& services);
    virtual ~DriveWalk() = default;

    DriveList Drvlist;
    DirList dirList;
    FileList filList;

    // Climbs the folder list to the root of its drive, one level at a time.
    void GoToDriveRoot();
    void Drvlist_Change();
    void dirList_Change();

    // Walks every drive of the drive list, then closes what the walk kept open.
    void walkDrives();
    // Visits `folder`, just opened in the folder list, and everything below it, then opens
    // `returnFolder` again (none for a drive root). True only when the visit ran out of
    // memory, which tells the caller to stop visiting its further sub-folders.
    bool SearchFolder(const QString& folder, const QString& returnFolder);

protected:
    // Looks at the folder open in the folder list, whose files the file list shows; `base` is
    // its path ending with the separator.
    virtual void examineFolder(const QString& base) = 0;
    // The walk has entered `folder` (never a drive root).
    virtual void folderEntered(const QString& folder) { (void)folder; }
    // A box is about to be shown: the status should be up to date.
    virtual void beforeBox() {}
    // Whether the open folder shows the game's data folder (in any case) or its mod folder:
    // only such a folder can be an installation of the game without its program.
    bool showsGameFolder(const layouts::GameFacts& game) const {
        return dirList.showsSubFolder(QLatin1String(game.baseFolder), Qt::CaseInsensitive) ||
               (game.modFolder &&
                dirList.showsSubFolder(QLatin1String(game.modFolder), Qt::CaseSensitive));
    }

    Services& m_services;

private:
    void searchDrive(int index);
    // `count` as the walk counts it: raises an overflow past 16 bits for the screens.
    qsizetype counted(qsizetype count) const;
    // Enters `subFolder` and visits it; entering it is part of its own visit.
    bool visitSubFolder(const QString& subFolder, const QString& current);
    // Whether a failed visit stops the caller's further sub-folders (out of memory, a drive
    // that went away).
    bool visitFailed(const Error& error);
    // Shows the box for a failed visit.
    void showFailure(const Error& error);

    bool m_driveLost = false; // the drive being walked went away: said once
};

} // namespace corvane
