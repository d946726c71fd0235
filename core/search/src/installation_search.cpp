// The walk of every drive for quake2.exe and quake3.exe installations.

#include "search/installation_search.h"

#include "platform/counter16.h"
#include "platform/files.h"
#include "platform/services.h"

namespace corvane {

namespace {

// The status shows the folder being entered no more often than the eye can follow.
constexpr qint64 kStatusIntervalMs = 30;

} // namespace

InstallationSearch::InstallationSearch(Services& services, GamePaths& paths, SearchView& view)
    : DriveWalk(services), m_paths(paths), m_view(view) {
    Form_Load();
}

void InstallationSearch::Form_Load() {
    Quake2ExeName = QStringLiteral("quake2.exe");
    Quake3ExeName = QStringLiteral("quake3.exe");
    GoToDriveRoot();
    m_view.setStatus(QStringLiteral(
        "Click the Auto Search button to begin searching for Quake2 and Quake3 game directories"));
}

void InstallationSearch::cmdSearch_Click() {
    m_view.setSearchVisible(false);
    m_quake3Data = layouts::systemData(Game::Quake3);
    walkDrives();
    showLastFolderEntered();
    confirmPaths();
}

void InstallationSearch::examineFolder(const QString& base) {
    const bool hasFiles = filList.ListCount() > 0;
    for (const auto& [game, exeName] :
         {std::pair{Game::Quake2, Quake2ExeName}, std::pair{Game::Quake3, Quake3ExeName}}) {
        const layouts::GameFacts& known = layouts::facts(game);
        if (hasFiles && listInstallations(base, exeName, QLatin1String(known.baseFolder),
                                          QLatin1String(known.dataPack), game))
            continue;
        listOtherLayout(base, game);
    }
}

bool InstallationSearch::listInstallations(const QString& base, const QString& exeName,
                                           const QString& gameFolder, const QString& pakName,
                                           Game game) {
    bool listed = false;
    const Counter16 count = Counter16::from(filList.ListCount());
    for (Counter16 j = 0; j < count; ++j) {
        // All three tests are made for every file, the name test alone being case-sensitive.
        const bool named = filList.List(j) == exeName;
        const bool hasFolder = !Dir(base + gameFolder + kSep, kDirectories).isEmpty();
        const bool hasPak = !Dir(base + gameFolder + kSep + pakName, kNormalFiles).isEmpty();
        if (named && hasFolder && hasPak) {
            addFound(game, base);
            listed = true;
        }
    }
    return listed;
}

void InstallationSearch::listOtherLayout(const QString& base, Game game) {
    if (showsGameFolder(layouts::facts(game)) &&
        layouts::markOf(game, base, false, game == Game::Quake3 ? m_quake3Data : QStringList()))
        addFound(game, base);
}

void InstallationSearch::addFound(Game game, const QString& base) {
    (game == Game::Quake2 ? lstFoundFileq2 : lstFoundFileq3).AddItem(base);
    m_view.folderFound(game, base);
}

void InstallationSearch::folderEntered(const QString& folder) {
    m_folderEntered = folder;
    if (m_statusClock.isValid() && m_statusClock.elapsed() < kStatusIntervalMs)
        return;
    m_view.setStatus(folder);
    m_folderShown = folder;
    m_statusClock.start();
}

void InstallationSearch::showLastFolderEntered() {
    if (!m_folderEntered.isEmpty() && m_folderShown != m_folderEntered) {
        m_view.setStatus(m_folderEntered);
        m_folderShown = m_folderEntered;
    }
}

} // namespace corvane
