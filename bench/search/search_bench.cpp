// Walks one folder tree with the search screen, as "Auto Search" does, and prints how long
// the walk took. Used by bench/bench_search.sh; the tree is the only drive, every question
// is answered Yes.

#include "discovery/frm_q2toqf.h"
#include "shell/platform.h"
#include "shell/platform_folders.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s TREE\n", argv[0]);
        return 2;
    }
    using namespace corvane;
    PlatformFolders::setDriveRoots(QStringList{QString::fromLocal8Bit(argv[1])});
    int errorBoxes = 0;
    Platform::setMessageBoxHandler([&errorBoxes](const QString&, int buttons, const QString&) {
        if (buttons == kYesNo)
            return int(kYes);
        ++errorBoxes;
        return int(kOk);
    });
    Platform::setEndHandler([] { throw ProgramEnded{}; });

    FrmQ2toQf screen;
    screen.show();
    QCoreApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    guarded([&screen] { screen.cmdSearch_Click(); });
    const double seconds = double(clock.nsecsElapsed()) / 1e9;

    std::printf("walk_seconds %.3f\n", seconds);
    std::printf("quake2_found %d\nquake3_found %d\nother_boxes %d\nended %d\n",
                int(screen.lstFoundFileq2->count()), int(screen.lstFoundFileq3->count()),
                errorBoxes, Platform::endRequested() ? 1 : 0);
    return Platform::endRequested() ? 1 : 0;
}
