#include "conversion/tool_commands.h"

namespace corvane {

#ifdef _WIN32
const QString kPakTool = QStringLiteral("pak.exe");
const QString kZipTool = QStringLiteral("minizip.exe");
#else
const QString kPakTool = QStringLiteral("pak");
const QString kZipTool = QStringLiteral("minizip");
#endif

ToolCommand unpackCommand(const QString& archivePath, const QStringList& members) {
    return {kPakTool, QStringList{QStringLiteral("-x"), archivePath} + members};
}

ToolCommand zipCommand(const QString& archiveName, const QStringList& files) {
    return {kZipTool, QStringList{QStringLiteral("-a"), archiveName} + files};
}

} // namespace corvane
