#pragma once

// The runs of the program's two tools, each an argument list handed over as it is: no text is
// ever split back into words, so blanks, quotes and any other byte in a path are only data.

#include <QString>
#include <QStringList>

namespace corvane {

// One run of a tool of the program folder.
struct ToolCommand {
    QString tool; // its file name in the program folder
    QStringList arguments;
    int passed = -1; // a descriptor the tool inherits, if any
};

// The file names of the two tools.
extern const QString kPakTool;
extern const QString kZipTool;

// Unpacks the pack at `archivePath` (every member, or the `members` named) into the folder the
// tool runs in; from the pack open as `file` when given, which the tool inherits.
ToolCommand unpackCommand(const QString& archivePath, const QStringList& members = {},
                          int file = -1);
// Adds `files` (paths relative to the folder the tool runs in) to the archive `archiveName`
// there.
ToolCommand zipCommand(const QString& archiveName, const QStringList& files);

} // namespace corvane
