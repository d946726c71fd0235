// Times the wizard's "Auto Search" from the click to its first box: the real wizard, on the
// toolkit's offscreen platform unless another is set, over the mounted drives or the folders
// given as drives. Prints the milliseconds, then ends at that box.
// Usage: corvane_bench_auto_search [FOLDER ...]   (run by bench/bench_search.sh)

#include "app/wizard.h"
#include "platform/files.h"
#include "ui/desktop_services.h"
#include "ui/frm_q2toqf.h"
#include "ui/startup.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

QElapsedTimer clickToBox;

// The desktop, but its first box stops the clock and the program.
class TimedServices : public corvane::DesktopServices {
public:
    using DesktopServices::DesktopServices;
    int messageBox(const QString&, int, const QString&) override {
        std::printf("%.1f\n", double(clickToBox.nsecsElapsed()) / 1e6);
        (void)std::fflush(stdout); // a benchmark's line, lost where it cannot be written
        std::_Exit(0);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && argv[1][0] != '/') {
        (void)std::fputs("usage: corvane_bench_auto_search [FOLDER ...]\n", stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::optional<QStringList> drives;
    if (argc > 1) {
        drives.emplace();
        for (int i = 1; i < argc; ++i)
            *drives << QString::fromLocal8Bit(argv[i]) + QChar(corvane::kSep);
    }
    TimedServices services(drives);
    corvane::Wizard wizard(services);
    wizard.start();
    wizard.startup()->OKButton->click();
    QApplication::processEvents();
    clickToBox.start();
    wizard.search()->cmdSearch->click();
    (void)std::fputs("the search ended without a box\n", stderr);
    return 1;
}
