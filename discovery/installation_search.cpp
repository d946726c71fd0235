// The walk of every drive for quake2.exe and quake3.exe installations.

#include "frm_q2toqf.h"

#include "shell/platform.h"
#include "shell/platform_folders.h"

namespace corvane {

namespace {

// The label shows the folder being entered no more often than the eye can follow.
constexpr qint64 kLabelIntervalMs = 30;

// Runs one step of a drive; a failure skips just that step and its number is remembered.
template <typename Step> void resumeNext(int& lastError, Step&& step) {
    try {
        step();
    } catch (const RuntimeError& error) {
        lastError = error.number();
    }
}

} // namespace

void FrmQ2toQf::cmdSearch_Click() {
    cmdSearch->setVisible(false);
    const Counter16 driveCount = Counter16::from(Drvlist->ListCount());
    for (Counter16 i = 0; i < driveCount; ++i)
        searchDrive(i);
    ReleaseFolderListings();
    flushFolderShown();
    confirmPaths();
}

void FrmQ2toQf::searchDrive(Counter16 index) {
    int lastError = 0;
    // The probe only gives a drive without media its chance to fail.
    resumeNext(lastError, [&] { Dir(Drvlist->List(index) + kSep); });
    resumeNext(lastError, [&] { Drvlist->setListIndex(index); });
    if (lastError == kDeviceUnavailable)
        return;
    QString root;
    resumeNext(lastError, [&] { GoToDriveRoot(); });
    resumeNext(lastError, [&] { filList->setPattern(QStringLiteral("*.exe")); });
    resumeNext(lastError, [&] { root = dirList->Path(); });
    resumeNext(lastError, [&] { filList->setPath(root); });
    resumeNext(lastError, [&] { SearchFolder(root, QString()); });
}

bool FrmQ2toQf::SearchFolder(const QString& folder, const QString& returnFolder) {
    DoEvents();
    try {
        Counter16 remaining = Counter16::from(dirList->ListCount());
        bool childStop = false;
        // Last sub-folder first, each one walked completely before the next.
        while (remaining > 0) {
            // Each sub-folder's visit comes back to this folder, also after a visit that
            // ended in an error left the folder list elsewhere.
            const QString current = folder;
            dirList->setPath(folder);
            if (dirList->ListCount() > 0) {
                dirList->setPath(dirList->List(remaining - 1));
                showFolderEntered(dirList->Path());
                const QString child = dirList->Path();
                childStop = SearchFolder(child, current);
            }
            --remaining;
            if (childStop)
                break;
        }
        // A visit ended by running out of memory leaves the folder list where it failed.
        if (dirList->Path() != folder)
            dirList->setPath(folder);
        examineFiles();
        if (!returnFolder.isEmpty())
            dirList->setPath(returnFolder);
        return false;
    } catch (const RuntimeError& error) {
        if (error.number() == kOutOfMemory)
            return true;
        flushFolderShown();
        MsgBox(error.description());
        return false;
    }
}

void FrmQ2toQf::examineFiles() {
    if (filList->ListCount() <= 0)
        return;
    const QString& open = dirList->Path();
    const QString base = dirList->isDriveRoot(open) ? open : open + kSep;
    listInstallations(base, Quake2ExeName, QStringLiteral("baseq2"), QStringLiteral("pak0.pak"),
                      lstFoundFileq2);
    listInstallations(base, Quake3ExeName, QStringLiteral("baseq3"), QStringLiteral("pak0.pk3"),
                      lstFoundFileq3);
}

void FrmQ2toQf::listInstallations(const QString& base, const QString& exeName,
                                  const QString& gameFolder, const QString& pakName,
                                  QListWidget* found) {
    const Counter16 count = Counter16::from(filList->ListCount());
    for (Counter16 j = 0; j < count; ++j) {
        // All three tests are made for every file, the name test alone being case-sensitive.
        const bool named = filList->List(j) == exeName;
        const bool hasFolder = !Dir(base + gameFolder + kSep, kDirectories).isEmpty();
        const bool hasPak = !Dir(base + gameFolder + kSep + pakName, kNormalFiles).isEmpty();
        if (named && hasFolder && hasPak)
            found->addItem(base);
    }
}

void FrmQ2toQf::showFolderEntered(const QString& folder) {
    m_folderEntered = folder;
    if (m_labelClock.isValid() && m_labelClock.elapsed() < kLabelIntervalMs)
        return;
    lbldir->setCaption(folder);
    m_labelClock.start();
}

void FrmQ2toQf::flushFolderShown() {
    if (!m_folderEntered.isEmpty() && lbldir->caption() != m_folderEntered)
        lbldir->setCaption(m_folderEntered);
}

} // namespace corvane
