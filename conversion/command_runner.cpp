#include "command_runner.h"

#include "shell/platform.h"

namespace corvane {

namespace {

std::function<void(const QString&)>& observer() {
    static std::function<void(const QString&)> instance;
    return instance;
}

QString quoted(const QString& path) {
    return u'"' + path + u'"';
}

QString toolPath(const QString& programFolder, const QString& tool) {
    return quoted(programFolder + QChar(kSep) + tool);
}

} // namespace

void ExecCmd(const QString& cmdline) {
    if (observer())
        observer()(cmdline);
    RunCommandLine(cmdline);
}

void setCommandObserver(std::function<void(const QString&)> callback) {
    observer() = std::move(callback);
}

QString unpackCommand(const QString& programFolder, const QString& archivePath,
                      const QString& members) {
    QString line = toolPath(programFolder, QStringLiteral("pak.exe")) + QStringLiteral(" -x ") +
                   quoted(archivePath);
    if (!members.isEmpty())
        line += u' ' + members;
    return line;
}

QString zipCommand(const QString& programFolder, const QString& archiveName,
                   const QString& fileArguments) {
    return toolPath(programFolder, QStringLiteral("minizip.exe")) + QStringLiteral(" -a ") +
           archiveName + fileArguments;
}

} // namespace corvane
