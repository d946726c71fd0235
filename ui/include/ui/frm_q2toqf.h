#pragma once

// The installation search screen: shows what the search (core/search) finds and asks, and
// lets the wizard go on once both folders are confirmed.

#include "screen.h"
#include "search/installation_search.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>

#include <memory>

namespace corvane {

struct GamePaths;

class FrmQ2toQf : public Screen, public SearchView {
    Q_OBJECT
public:
    // Builds the controls; the search then runs its Form_Load.
    FrmQ2toQf(Services& services, GamePaths& paths);
    ~FrmQ2toQf() override;

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

    InstallationSearch& search() { return *m_search; }

    // "Auto Search" and "Next".
    void cmdSearch_Click() { m_search->cmdSearch_Click(); }
    void cmdNext_Click() { emit nextClicked(); }

    void setSearchVisible(bool visible) override { cmdSearch->setVisible(visible); }
    void setNextEnabled(bool enabled) override { cmdNext->setEnabled(enabled); }
    void setStatus(const QString& text) override { lbldir->setCaption(text); }
    void folderFound(Game game, const QString& folder) override;

signals:
    void nextClicked();

private:
    void buildControls();

    std::unique_ptr<InstallationSearch> m_search;
};

} // namespace corvane
