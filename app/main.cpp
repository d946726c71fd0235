// Corvane: turns an installed Quake 2's game data into pk3 archives for a Quake 3 engine.

#include "app/demo_sandbox.h"
#include "app/wizard.h"
#include "core/platform/files.h"
#include "ui/desktop_services.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

const char kUsage[] = "Usage: corvane [--demo | --help]\n"
                      "  (no argument)  search the drives for Quake 2 and Quake 3 and convert\n"
                      "  --demo         try Corvane on a generated sandbox instead of the drives\n"
                      "  --help         show this help\n";

// Whether there is a display to show windows on (or a platform chosen for the toolkit).
bool hasDisplay() {
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 2 ||
        (argc == 2 && std::strcmp(argv[1], "--demo") != 0 && std::strcmp(argv[1], "--help") != 0)) {
        std::fprintf(stderr, "corvane: unknown argument '%s'\n%s", argv[argc - 1], kUsage);
        return 2;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const bool demo = argc == 2;
    if (!hasDisplay()) {
        std::fputs("corvane: no display found; start it from a desktop session "
                   "(or under xvfb-run on a machine without one)\n",
                   stderr);
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    std::optional<QStringList> driveRoots;
    if (demo) {
        QString sandbox;
        try {
            sandbox = corvane::MakeDemoSandbox(
                QCoreApplication::applicationDirPath(), [](const QString& step) {
                    std::printf("Making the demo sandbox: %s\n", qPrintable(step));
                    std::fflush(stdout);
                });
        } catch (const corvane::RuntimeError& error) {
            std::fprintf(stderr, "corvane: cannot build the demo sandbox: %s\n", error.what());
            return 1;
        }
        std::printf("Demo sandbox: %s\n", sandbox.toUtf8().constData());
        std::fflush(stdout);
        driveRoots = QStringList{sandbox + QChar(corvane::kSep)};
    }
    corvane::DesktopServices services(std::move(driveRoots));
    corvane::Wizard wizard(services);
    wizard.start();
    return QApplication::exec();
}
