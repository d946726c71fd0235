#include "command_lines.h"

#include "core/platform/files.h"

namespace corvane {

namespace {

QString quoted(const QString& path) {
    return u'"' + path + u'"';
}

// An argument in double quotes, written so that the command-line split gives it back whole:
// a quote inside is escaped, and backslashes before a quote are doubled.
QString quotedArgument(const QString& argument) {
    QString line = QStringLiteral("\"");
    qsizetype backslashes = 0;
    for (QChar c : argument) {
        if (c == u'\\') {
            ++backslashes;
        } else if (c == u'"') {
            line += QString(backslashes + 1, u'\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        line += c;
    }
    return line + QString(backslashes, u'\\') + u'"';
}

QString toolPath(const QString& programFolder, const QString& tool) {
    return quoted(programFolder + QChar(kSep) + tool);
}

} // namespace

QString unpackCommand(const QString& programFolder, const QString& archivePath,
                      const QString& members) {
    QString line = toolPath(programFolder, QStringLiteral("pak.exe")) + QStringLiteral(" -x ") +
                   quotedArgument(archivePath);
    if (!members.isEmpty())
        line += u' ' + members;
    return line;
}

QString zipCommand(const QString& programFolder, const QString& archiveName,
                   const QString& fileArguments) {
    return toolPath(programFolder, QStringLiteral("minizip.exe")) + QStringLiteral(" -a ") +
           archiveName + fileArguments;
}

QString toolCommand(const QString& programFolder, const QString& tool,
                    const QStringList& arguments) {
    QString line = toolPath(programFolder, tool);
    for (const QString& argument : arguments)
        line += u' ' + quotedArgument(argument);
    return line;
}

} // namespace corvane
