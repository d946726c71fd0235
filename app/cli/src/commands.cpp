#include "cli/commands.h"

#include "cli/terminal.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/stop_signals.h"
#include "search/drive_walk.h"

#include <QDir>

#include <cstdio>
#include <cstring>

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
    } catch (const Error&) {
        return false;
    }
}

int statusOf(Outcome outcome) {
    switch (outcome) {
    case Outcome::Installed:
        return kExitOk;
    case Outcome::InstalledIncomplete:
        return kExitIncomplete;
    case Outcome::NotAllInstalled:
        return kExitNotInstalled;
    case Outcome::PathMissing:
    case Outcome::CheckFailed:
        return kExitCheckFailed;
    case Outcome::Busy:
        return kExitBusy;
    case Outcome::ToolFailed:
        return kExitToolFailed;
    case Outcome::Interrupted:
        return stopExitStatus();
    }
    return kExitFailed;
}

// `text` with control characters and backslashes as escapes: one line stays one line.
QByteArray escaped(const QString& text) {
    QByteArray out;
    for (const char c : encodePath(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (byte < 0x20 || byte == 0x7f)
            out += QByteArray("\\x") + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

void printSummary(Terminal& terminal, const Conversion& conversion, Outcome outcome,
                  const QString& qfbastion, double seconds) {
    QStringList made;
    for (const char* archive : {"pak0.pk3", "pak1.pk3", "pak2.pk3"})
        made << QStringLiteral("%1 (%2 files)")
                    .arg(QLatin1String(archive))
                    .arg(conversion.filesIn(QLatin1String(archive)));
    const QString where = outcome == Outcome::NotAllInstalled
                              ? QStringLiteral("not all installed")
                              : QStringLiteral("installed in ") + qfbastion;
    terminal.say(QStringLiteral("%1; %2; %3 s")
                     .arg(made.join(QStringLiteral(", ")), where)
                     .arg(seconds, 0, 'f', 1));
}

// The walk of the drives for every layout of either game.
class InstallationFinder : public DriveWalk {
public:
    InstallationFinder(Services& services, bool nullSeparated)
        : DriveWalk(services), m_nullSeparated(nullSeparated) {}
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
        const QByteArray line =
            m_nullSeparated ? game.toUtf8() + '\0' + QByteArray::fromStdString(encodePath(base)) +
                                  '\0' + escaped(mark) + '\0'
                            : game.toUtf8() + '\t' + escaped(base) + '\t' + escaped(mark) + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
        ++found;
    }

    bool m_nullSeparated;
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
    installStopSignals();
    TerminalServices services(terminal);
    TerminalProgress progress(terminal);
    Conversion conversion(services, paths, progress);
    Outcome outcome;
    try {
        outcome = conversion.run();
    } catch (const Error& error) {
        terminal.say(error.description());
        return kExitFailed;
    }
    if (outcome == Outcome::Interrupted)
        terminal.say(QStringLiteral("stopped by %1: what the run made was removed, nothing was "
                                    "installed")
                         .arg(QString::fromLocal8Bit(sigabbrev_np(stopRequested()))
                                  .prepend(QStringLiteral("SIG"))));
    if (outcome == Outcome::Installed || outcome == Outcome::InstalledIncomplete ||
        outcome == Outcome::NotAllInstalled)
        printSummary(terminal, conversion, outcome, paths.quake3 + QStringLiteral("qfbastion"),
                     progress.seconds());
    return statusOf(outcome);
}

int findCommand(const QStringList& folders, bool nullSeparated) {
    Terminal terminal;
    std::optional<QStringList> roots;
    if (!folders.isEmpty()) {
        roots.emplace();
        for (const QString& folder : folders)
            *roots << folderPath(folder);
    }
    TerminalServices services(terminal, roots);
    try {
        InstallationFinder finder(services, nullSeparated);
        finder.walkDrives();
        return finder.found > 0 ? kExitOk : kExitFailed;
    } catch (const Error& error) {
        terminal.say(error.description());
        return kExitFailed;
    }
}

} // namespace corvane
