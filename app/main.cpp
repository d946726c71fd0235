// Corvane: turns an installed Quake 2's game data into pk3 archives for a Quake 3 engine.

#include "app/demo_sandbox.h"
#include "app/display.h"
#include "app/wizard.h"
#include "cli/commands.h"
#include "platform/files.h"
#include "platform/stop_signals.h"
#include "ui/desktop_services.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

const char kUsage[] =
    "Usage: corvane [--demo]\n"
    "       corvane convert QUAKE2_FOLDER QUAKE3_FOLDER\n"
    "       corvane find [--null] [FOLDER ...]\n"
    "       corvane --help | -h | --version\n"
    "\n"
    "Turns the game data of an installed Quake 2 into pk3 archives for a Quake 3 engine.\n"
    "\n"
    "  (no argument)  the wizard: search the drives for Quake 2 and Quake 3, confirm one\n"
    "                 folder of each, convert\n"
    "  --demo         the wizard on a generated sandbox instead of the drives\n"
    "  convert        convert without a display or a question: QUAKE2_FOLDER holds\n"
    "                 baseq2/pak0.pak, QUAKE3_FOLDER holds baseq3/pak0.pk3 and the folder\n"
    "                 qfbastion, where pak0.pk3, pak1.pk3 and pak2.pk3 are installed\n"
    "  find           list the Quake 2 and Quake 3 folders on the drives (or below the\n"
    "                 FOLDERs given), one a line: game, folder and what marks it (its\n"
    "                 program, or \"data\"), tab-separated, control characters in names\n"
    "                 escaped; with --null each field ends with a NUL byte instead\n"
    "  --help, -h     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Exit status:\n"
    "  0  success: all three archives installed (find: a folder was found)\n"
    "  1  any other failure (find: nothing was found; the wizard: no display)\n"
    "  2  the arguments were not understood\n"
    "  3  a folder or a check before any work failed; nothing was touched\n"
    "  4  a tool failed; what the run made was removed and nothing was installed\n"
    "  5  some archive could not be made or installed\n"
    "  6  another conversion is running in the same folders; nothing was touched\n"
    "  7  installed, but pak0.pak held far fewer files than the classic game's\n"
    "  128+N  stopped by signal N (130 Ctrl-C, 129 a closed terminal, 143 kill);\n"
    "     what the run made was removed and nothing was installed\n";

int usageError(const char* argument) {
    std::fprintf(stderr, "corvane: unknown argument '%s'\n%s", argument, kUsage);
    return corvane::kExitUsage;
}

void sayDemoStep(const QString& step) {
    std::printf("Making the demo sandbox: %s\n", qPrintable(step));
    std::fflush(stdout);
}

int runWizard(int argc, char* argv[], bool demo) {
    if (!corvane::displayAvailable()) {
        std::fputs("corvane: no display found; start it from a desktop session (or under "
                   "xvfb-run on a machine without one), or use 'corvane convert'\n",
                   stderr);
        return corvane::kExitFailed;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    std::optional<QStringList> driveRoots;
    if (demo) {
        QString sandbox;
        try {
            sandbox = corvane::makeDemoSandbox(corvane::runningProgramFolder(), sayDemoStep);
        } catch (const corvane::Error& error) {
            std::fprintf(stderr, "corvane: cannot build the demo sandbox: %s\n", error.what());
            return corvane::kExitFailed;
        }
        std::printf("Demo sandbox: %s\n", sandbox.toUtf8().constData());
        std::fflush(stdout);
        driveRoots = QStringList{sandbox + QChar(corvane::kSep)};
    }
    corvane::DesktopServices services(std::move(driveRoots));
    // A stop signal ends the program at once, but for a conversion, which first ends its
    // tools and removes what it made, then ends the program itself.
    corvane::installStopSignals();
    QSocketNotifier stops(corvane::stopSignalDescriptor(), QSocketNotifier::Read);
    QObject::connect(&stops, &QSocketNotifier::activated, [&] {
        stops.setEnabled(false);
        if (!corvane::stopIsDeferred())
            services.End(corvane::stopExitStatus());
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    corvane::Wizard wizard(services);
    wizard.start();
    return QApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    const QString command = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        if (argc > 2)
            return usageError(argv[2]);
        std::fputs(kUsage, stdout);
        return corvane::kExitOk;
    }
    if (command == QLatin1String("--version")) {
        if (argc > 2)
            return usageError(argv[2]);
        std::printf("corvane %s\n", CORVANE_VERSION);
        return corvane::kExitOk;
    }
    if (command == QLatin1String("convert")) {
        if (argc != 4) {
            std::fprintf(stderr, "corvane: convert takes two folders\n%s", kUsage);
            return corvane::kExitUsage;
        }
        QCoreApplication app(argc, argv);
        // Folder names are bytes: whatever they hold reaches the system as it was given.
        return corvane::convertCommand(corvane::decodePath(argv[2]), corvane::decodePath(argv[3]));
    }
    if (command == QLatin1String("find")) {
        QCoreApplication app(argc, argv);
        QStringList folders;
        bool nullSeparated = false;
        for (int i = 2; i < argc; ++i) {
            if (std::strcmp(argv[i], "--null") == 0)
                nullSeparated = true;
            else
                folders << corvane::decodePath(argv[i]);
        }
        return corvane::findCommand(folders, nullSeparated);
    }
    if (argc > 2 || (argc == 2 && command != QLatin1String("--demo")))
        return usageError(argv[argc - 1]);
    return runWizard(argc, argv, argc == 2);
}
