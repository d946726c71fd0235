#include "conversion/tool_commands.h"

namespace corvane {

#ifdef _WIN32
const QString kPakTool = QStringLiteral("pak.exe");
const QString kZipTool = QStringLiteral("minizip.exe");
#else
const QString kPakTool = QStringLiteral("pak");
const QString kZipTool = QStringLiteral("minizip");
#endif

ToolCommand unpackCommand(const QString& archivePath, const QStringList& members, int file) {
    if (file < 0)
        return {kPakTool, QStringList{QStringLiteral("-x"), archivePath} + members};
    return {kPakTool,
            QStringList{QStringLiteral("-x"), QStringLiteral("--fd"), QString::number(file),
                        archivePath} +
                members,
            file};
}

ToolCommand zipCommand(const QString& archiveName, const QStringList& files) {
    return {kZipTool, QStringList{QStringLiteral("-a"), archiveName} + files};
}

} // namespace corvane
