#pragma once

// The search screen's logic: "Auto Search" walks every drive for quake2.exe and quake3.exe
// installations, lists the folders found, has the user confirm one of each, stores them and
// lets the wizard go on. The screen only shows what this decides.

#include "search/drive_walk.h"
#include "search/layouts.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

namespace corvane {

struct GamePaths;

// What the search changes on its screen.
class SearchView {
public:
    virtual ~SearchView() = default;
    virtual void setSearchVisible(bool visible) = 0;                // cmdSearch
    virtual void setNextEnabled(bool enabled) = 0;                  // cmdNext
    virtual void setStatus(const QString& text) = 0;                // lbldir
    virtual void folderFound(Game game, const QString& folder) = 0; // lstFoundFileq2 / q3
};

// The folders found for one game, in the order found; they are never sorted or removed.
class FoundList {
public:
    void AddItem(const QString& folder) { m_items << folder; }
    int ListCount() const { return int(m_items.size()); }
    const QString& List(int index) const { return m_items.at(index); }

private:
    QStringList m_items;
};

class InstallationSearch : public DriveWalk {
public:
    // Runs Form_Load: the browser climbs to its drive root and the status asks for a click.
    InstallationSearch(Services& services, GamePaths& paths, SearchView& view);

    FoundList lstFoundFileq2;
    FoundList lstFoundFileq3;
    QString Quake2ExeName;
    QString Quake3ExeName;

    void Form_Load();
    // "Auto Search": walks every drive, then has the user confirm the folders found.
    void cmdSearch_Click();

protected:
    void examineFolder(const QString& base) override;
    void folderEntered(const QString& folder) override;
    void beforeBox() override { showLastFolderEntered(); }

private:
    // Lists `base` when a file of the list is the game's program beside its data; true when
    // it did.
    bool listInstallations(const QString& base, const QString& exeName, const QString& gameFolder,
                           const QString& pakName, Game game);
    // Lists `base` when it is an installation of the game in another layout of the table.
    void listOtherLayout(const QString& base, Game game);
    void addFound(Game game, const QString& base);
    void showLastFolderEntered();

    // The confirmation of the folders found (path_confirmation.cpp).
    void confirmPaths();
    QString chooseFolder(const FoundList& found, const QString& question, const QString& title,
                         const QString& refusal);

    GamePaths& m_paths;
    SearchView& m_view;
    QString m_folderEntered;
    QString m_folderShown;
    QElapsedTimer m_statusClock;
    QStringList m_quake3Data; // the system places holding Quake 3's data, for home paths
};

} // namespace corvane
