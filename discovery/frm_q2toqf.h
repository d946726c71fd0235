#pragma once

// The installation search screen: walks every drive through its hidden folder browser,
// lists the Quake 2 and Quake 3 installations found, has the user confirm one of each and
// then lets the wizard go on.

#include "discovery/folder_browser.h"
#include "shell/counter16.h"
#include "shell/screen.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>

namespace corvane {

class FrmQ2toQf : public Screen {
    Q_OBJECT
public:
    // Builds the controls and runs Form_Load.
    FrmQ2toQf();

    CaptionLabel* lblq2;
    QListWidget* lstFoundFileq2;
    QPushButton* Command1;
    CaptionLabel* lblq3;
    QListWidget* lstFoundFileq3;
    QPushButton* Command2;
    CaptionLabel* lbldir;
    QPushButton* cmdSearch;
    QPushButton* cmdNext;
    QGroupBox* Frame1;
    DirListBox* dirList;
    FileListBox* filList;
    DriveListBox* Drvlist;

    QString Quake2ExeName;
    QString Quake3ExeName;

    // The folder browser: load, climb to the drive root, keep the three lists in step.
    void Form_Load();
    void GoToDriveRoot();
    void Drvlist_Change();
    void dirList_Change();

    // "Auto Search": walks every drive, then has the user confirm the folders found.
    void cmdSearch_Click();
    // Visits `folder`, just opened in the folder list, and everything below it, then opens
    // `returnFolder` again (none for a drive root). True only when the visit ran out of
    // memory, which tells the caller to stop visiting its further sub-folders.
    bool SearchFolder(const QString& folder, const QString& returnFolder);

    void cmdNext_Click() { emit nextClicked(); }

signals:
    void nextClicked();

private:
    void buildControls();
    void searchDrive(Counter16 index);
    void examineFiles();
    void listInstallations(const QString& base, const QString& exeName, const QString& gameFolder,
                           const QString& pakName, QListWidget* found);
    void showFolderEntered(const QString& folder);
    void flushFolderShown();

    // The confirmation of the folders found (path_confirmation.cpp).
    void confirmPaths();
    QString chooseFolder(QListWidget* found, const QString& question, const QString& title,
                         const QString& refusal);

    QString m_folderEntered;
    QElapsedTimer m_labelClock;
};

} // namespace corvane
