#pragma once

#include <QString>

#include <functional>

namespace corvane {

// The layout of the games in a sandbox: their Windows programs beside their data, or
// Debian's (the data of both in the system places, qfbastion in the engine's home path).
enum class DemoLayout { Windows, Debian };

// A throwaway world to try the program in. In the Windows layout: a Quake 2 folder with three
// generated pak files (placeholder contents under the real file names), a second Quake 2
// folder nested inside it, and a Quake 3 folder with an empty qfbastion. In Debian's:
// usr/share/games/quake2 and usr/share/games/quake3 without the programs, and
// home/player/.q3a with an empty qfbastion; its system places are the sandbox's
// usr/share ($XDG_DATA_DIRS). Built with the pak and minizip tools of the program folder
// `programFolder` in a new temporary folder, whose path is returned. `say` hears what is being
// built, for a terminal.
QString makeDemoSandbox(const QString& programFolder,
                        const std::function<void(const QString&)>& say = {},
                        DemoLayout layout = DemoLayout::Windows);

} // namespace corvane
