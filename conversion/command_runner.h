#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace corvane {

// Runs one command line in the current folder and returns when the program has ended.
// Exit code and output are never read; a missing program returns at once.
void ExecCmd(const QString& cmdline);

// Lets a caller see each command line as it is run (the run itself is unchanged).
void setCommandObserver(std::function<void(const QString&)> observer);

// The command lines of the conversion. Paths of programs and archives are quoted, so blanks
// in the program folder or a game folder cannot split them.
QString unpackCommand(const QString& programFolder, const QString& archivePath,
                      const QString& members = {});
QString zipCommand(const QString& programFolder, const QString& archiveName,
                   const QString& fileArguments);

// Any other command line for a tool of the program folder, every argument quoted.
QString toolCommand(const QString& programFolder, const QString& tool,
                    const QStringList& arguments);

} // namespace corvane
