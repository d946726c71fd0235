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
#include <optional>
#include <string>
#include <vector>

namespace {

void sayDemoStep(const QString& step) {
    // What is being built, for a terminal: lost where it cannot be written.
    (void)std::printf("Making the demo sandbox: %s\n", qPrintable(step));
    (void)std::fflush(stdout);
}

int runWizard(int argc, char* argv[], bool demo) {
    if (const QString problem = corvane::displayProblem(); !problem.isEmpty()) {
        (void)std::fprintf(stderr, "corvane: %s\n", problem.toUtf8().constData()); // or lost
        return corvane::kExitFailed;
    }
    corvane::holdToolkitMessages();
    QApplication app(argc, argv);
    corvane::releaseToolkitMessages();
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    std::optional<QStringList> driveRoots;
    if (demo) {
        QString sandbox;
        try {
            sandbox = corvane::makeDemoSandbox(corvane::runningProgramFolder(), sayDemoStep);
        } catch (const corvane::Error& error) {
            (void)std::fprintf(stderr, "corvane: cannot build the demo sandbox: %s\n",
                               error.what()); // or lost: the status says it
            return corvane::kExitFailed;
        }
        (void)std::printf("Demo sandbox: %s\n", sandbox.toUtf8().constData()); // or lost
        (void)std::fflush(stdout);
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
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty() || (arguments.size() == 1 && arguments.front() == "--demo"))
        return runWizard(argc, argv, !arguments.empty());
    QCoreApplication app(argc, argv);
    return corvane::runCommandLine(arguments);
}
