#include "commands.h"

#include "app/cli/terminal.h"
#include "core/game_paths.h"
#include "core/platform/files.h"
#include "core/search/drive_walk.h"

#include <QDir>

#include <cstdio>

namespace corvane {

namespace {

// `folder` as an absolute path ending with the separator.
QString folderPath(const QString& folder) {
    QString path = QDir::cleanPath(QDir::current().absoluteFilePath(folder));
    if (!path.endsWith(QChar(kSep)))
        path += kSep;
    return path;
}

bool holds(const QString& base, const QString& relative) {
    try {
        return !Dir(base + relative).isEmpty();
    } catch (const RuntimeError&) {
        return false;
    }
}

ExitStatus statusOf(Outcome outcome) {
    switch (outcome) {
    case Outcome::Installed:
        return kExitOk;
    case Outcome::NotAllInstalled:
        return kExitNotInstalled;
    case Outcome::PathMissing:
    case Outcome::CheckFailed:
        return kExitCheckFailed;
    case Outcome::ToolFailed:
        return kExitToolFailed;
    }
    return kExitFailed;
}

void printSummary(Terminal& terminal, const Conversion& conversion, Outcome outcome,
                  const QString& qfbastion, double seconds) {
    QStringList made;
    for (const char* archive : {"pak0.pk3", "pak1.pk3", "pak2.pk3"})
        made << QStringLiteral("%1 (%2 files)")
                    .arg(QLatin1String(archive))
                    .arg(conversion.filesIn(QLatin1String(archive)));
    const QString where = outcome == Outcome::Installed
                              ? QStringLiteral("installed in ") + qfbastion
                              : QStringLiteral("not all installed");
    terminal.say(QStringLiteral("%1; %2; %3 s")
                     .arg(made.join(QStringLiteral(", ")), where)
                     .arg(seconds, 0, 'f', 1));
}

// The walk of the drives for every layout of either game.
class InstallationFinder : public DriveWalk {
public:
    using DriveWalk::DriveWalk;
    int found = 0;

protected:
    void examineFolder(const QString& base) override {
        report(base, QStringLiteral("quake2"), QStringLiteral("baseq2"), QStringLiteral("pak0.pak"),
               QStringLiteral("quake2.exe"));
        report(base, QStringLiteral("quake3"), QStringLiteral("baseq3"), QStringLiteral("pak0.pk3"),
               QStringLiteral("quake3.exe"));
    }

private:
    void report(const QString& base, const QString& game, const QString& dataFolder,
                const QString& pak, const QString& program) {
        // Only folders with the game's data folder are looked into further.
        bool hasDataFolder = false;
        for (int i = 0; i < dirList.ListCount() && !hasDataFolder; ++i)
            hasDataFolder =
                dirList.List(i).section(QChar(kSep), -1).compare(dataFolder, Qt::CaseInsensitive) ==
                0;
        if (!hasDataFolder || !holds(base, dataFolder + QChar(kSep) + pak))
            return;
        QString mark = QStringLiteral("data");
        for (int i = 0; i < filList.ListCount(); ++i)
            if (filList.List(i).compare(program, Qt::CaseInsensitive) == 0)
                mark = filList.List(i);
        std::printf("%s\t%s\t%s\n", qPrintable(game), base.toUtf8().constData(), qPrintable(mark));
        std::fflush(stdout);
        ++found;
    }
};

} // namespace

int convertCommand(const QString& quake2, const QString& quake3) {
    Terminal terminal;
    const GamePaths paths{folderPath(quake2), folderPath(quake3)};
    if (!holds(paths.quake2, QStringLiteral("baseq2/pak0.pak"))) {
        terminal.say(paths.quake2 +
                     QStringLiteral(" is no Quake 2 folder: it holds no baseq2/pak0.pak"));
        return kExitCheckFailed;
    }
    if (!holds(paths.quake3, QStringLiteral("baseq3/pak0.pk3"))) {
        terminal.say(paths.quake3 +
                     QStringLiteral(" is no Quake 3 folder: it holds no baseq3/pak0.pk3"));
        return kExitCheckFailed;
    }
    TerminalServices services(terminal);
    TerminalProgress progress(terminal);
    Conversion conversion(services, paths, progress);
    Outcome outcome;
    try {
        outcome = conversion.run();
    } catch (const RuntimeError& error) {
        terminal.say(error.description());
        return kExitFailed;
    }
    if (outcome == Outcome::Installed || outcome == Outcome::NotAllInstalled)
        printSummary(terminal, conversion, outcome, paths.quake3 + QStringLiteral("qfbastion"),
                     progress.seconds());
    return statusOf(outcome);
}

int findCommand(const QStringList& folders) {
    Terminal terminal;
    std::optional<QStringList> roots;
    if (!folders.isEmpty()) {
        roots.emplace();
        for (const QString& folder : folders)
            *roots << folderPath(folder);
    }
    TerminalServices services(terminal, roots);
    try {
        InstallationFinder finder(services);
        finder.walkDrives();
        return finder.found > 0 ? kExitOk : kExitFailed;
    } catch (const RuntimeError& error) {
        terminal.say(error.description());
        return kExitFailed;
    }
}

} // namespace corvane
