#pragma once

// The command lines of the conversion's tool runs. Paths of programs and archives are quoted,
// so blanks in the program folder or a game folder cannot split them; file arguments are
// manifest entries, which hold no blanks.

#include <QString>
#include <QStringList>

namespace corvane {

QString unpackCommand(const QString& programFolder, const QString& archivePath,
                      const QString& members = {});
QString zipCommand(const QString& programFolder, const QString& archiveName,
                   const QString& fileArguments);

// Any other command line for a tool of the program folder, every argument quoted.
QString toolCommand(const QString& programFolder, const QString& tool,
                    const QStringList& arguments);

} // namespace corvane
