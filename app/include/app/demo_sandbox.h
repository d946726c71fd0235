#pragma once

#include <QString>

#include <functional>

namespace corvane {

// A throwaway world to try the program in: a Quake 2 folder with three generated pak files
// (placeholder contents under the real file names), a second Quake 2 folder nested inside it,
// and a Quake 3 folder with an empty qfbastion. Built with the pak and minizip tools of the
// program folder `programFolder` in a new temporary folder, whose path is returned. `say`
// hears what is being built, for a terminal.
QString makeDemoSandbox(const QString& programFolder,
                        const std::function<void(const QString&)>& say = {});

} // namespace corvane
