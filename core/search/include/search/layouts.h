#pragma once

// The shapes in which players install the two games: what marks an installation, where its
// data lies, where the archives go, and the places Linux players usually have it. The search,
// find, convert and its checks, the dry run and the demo read this table; no other file names
// a layout.

#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvane {

enum class Game { Quake2, Quake3 };

namespace layouts {

// What marks a folder as an installation of a game.
enum class Mark {
    Program,  // the Windows program beside the base folder that holds the data pack
    Data,     // the base folder with its data pack, without the program (a system package,
              // an engine's home path holding the data, a shop copy with another program)
    HomePath, // an engine's home path holding the mod folder, the game's data installed in a
              // system place where the engine reads it (Debian: /usr/share/games/quake3)
};

struct GameFacts {
    Game game;
    const char* title;      // "Quake 2", as messages name it
    const char* findName;   // "quake2", as find names it
    const char* program;    // the Windows program, exactly as the wizard looks for it
    const char* baseFolder; // the game's data folder
    const char* dataPack;   // the pack in baseFolder that proves the data
    const char* modFolder;  // where the archives go, in the game folder; none for Quake 2
    const char* dataPlace;  // the system place of its data, below each system data folder
};

inline constexpr GameFacts kGames[] = {
    {Game::Quake2, "Quake 2", "quake2", "quake2.exe", "baseq2", "pak0.pak", nullptr,
     "games/quake2"},
    {Game::Quake3, "Quake 3", "quake3", "quake3.exe", "baseq3", "pak0.pk3", "qfbastion",
     "games/quake3"},
};

inline constexpr const GameFacts& facts(Game game) {
    return kGames[game == Game::Quake2 ? 0 : 1];
}

// The layouts each game is known in, in the order a folder is tested for them.
struct Layout {
    Game game;
    Mark mark;
    const char* findMark; // how find names it; the program's own file name for Program
};

inline constexpr Layout kLayouts[] = {
    {Game::Quake2, Mark::Program, nullptr}, {Game::Quake2, Mark::Data, "data"},
    {Game::Quake3, Mark::Program, nullptr}, {Game::Quake3, Mark::Data, "data"},
    {Game::Quake3, Mark::HomePath, "home"},
};

// Where Linux players usually have the games: below their home folder, or below each system
// data folder ($XDG_DATA_DIRS: /usr/local/share and /usr/share). The search walks every drive
// anyway; the system places are where an engine reads the data of a home path.
enum class Root { Home, SystemData };

struct Place {
    Game game;
    Mark mark;
    Root root;
    const char* path;
    const char* who;
};

inline constexpr Place kPlaces[] = {
    {Game::Quake2, Mark::Data, Root::SystemData, "games/quake2",
     "Debian's game data package (game-data-packager)"},
    {Game::Quake3, Mark::Data, Root::SystemData, "games/quake3",
     "Debian's game data package (game-data-packager)"},
    {Game::Quake3, Mark::HomePath, Root::Home, ".q3a",
     "the home path of ioquake3 and Quake3e, native or Debian's"},
    {Game::Quake2, Mark::Data, Root::Home, ".yq2", "the home path of Yamagi Quake II"},
    {Game::Quake3, Mark::HomePath, Root::Home, ".var/app/org.ioquake3.ioquake3/.q3a",
     "ioquake3 from Flatpak"},
    {Game::Quake2, Mark::Data, Root::Home, ".var/app/org.yamagi.YamagiQ2/.yq2",
     "Yamagi Quake II from Flatpak"},
    {Game::Quake2, Mark::Program, Root::Home, ".local/share/Steam/steamapps/common/Quake 2",
     "Steam (Proton)"},
    {Game::Quake3, Mark::Program, Root::Home, ".local/share/Steam/steamapps/common/Quake 3 Arena",
     "Steam (Proton)"},
    {Game::Quake2, Mark::Program, Root::Home,
     ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/common/Quake 2",
     "Steam from Flatpak"},
    {Game::Quake3, Mark::Program, Root::Home,
     ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/common/Quake 3 Arena",
     "Steam from Flatpak"},
    {Game::Quake2, Mark::Program, Root::Home, "Games/Heroic/Quake II", "GOG through Heroic"},
    {Game::Quake2, Mark::Program, Root::Home, "Games/quake-ii", "GOG through Lutris"},
};

// The system data folders, in the order they are searched: each of $XDG_DATA_DIRS, or
// /usr/local/share and /usr/share when it is unset.
QStringList systemDataFolders();

// The folders holding `game`'s data in its system places (each ending with the separator),
// in the order an engine searches them.
QStringList systemData(Game game);

// Whether `folder` (ending with the separator) holds the game's data: its base folder with
// the data pack, found ignoring case.
bool holdsData(Game game, const QString& folder);
// Whether `folder` holds the game's mod folder, a folder of its own.
bool holdsModFolder(Game game, const QString& folder);

// Whether a folder whose sub-folders are named `subFolders` (UTF-8) shows the game's data folder
// (in any case) or its mod folder: only such a folder can be an installation of the game.
bool showsGameFolder(const GameFacts& game, const std::vector<std::string>& subFolders);
// Whether the file name `name` (UTF-8) is the game's program, in any case.
bool isProgram(const GameFacts& game, const std::string& name);

// How `folder` (ending with the separator) is an installation of `game`, tested as the table
// orders the layouts, or none. `program` is the name of the game's program when the folder's
// files hold it; `dataElsewhere` is where the data of a home path lies (the system places when
// none is given).
std::optional<Mark> markOf(Game game, const QString& folder, bool hasProgram,
                           const QStringList& dataElsewhere);

// The folder whose base folder holds the data a conversion of `folder` reads for `game`:
// `folder` itself when it holds the data, else the first of `dataElsewhere` for a home path.
QString dataFolderOf(Game game, const QString& folder, const QStringList& dataElsewhere);

} // namespace layouts

} // namespace corvane
