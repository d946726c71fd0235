// Runs the whole conversion behind "Continue" on a prepared Quake 2 folder, answering every
// message box with OK, and prints the seconds it took and the boxes it showed.
// Usage: corvane_conversion_bench PROGRAM_FOLDER QUAKE2_FOLDER/ QUAKE3_FOLDER/

#include "conversion/extractnpak.h"
#include "shell/pakinfo.h"
#include "shell/platform.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fputs("usage: corvane_conversion_bench PROGRAM_FOLDER QUAKE2/ QUAKE3/\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    using namespace corvane;
    Platform::setAppPath(QString::fromLocal8Bit(argv[1]));
    pakinfo::Quake2Path = QString::fromLocal8Bit(argv[2]);
    pakinfo::Quake3Path = QString::fromLocal8Bit(argv[3]);
    int boxes = 0;
    Platform::setMessageBoxHandler([&boxes](const QString& prompt, int, const QString&) {
        ++boxes;
        std::fprintf(stderr, "box: %s\n", prompt.toUtf8().constData());
        return static_cast<int>(kOk);
    });
    Platform::setEndHandler([] { throw ProgramEnded{}; });

    Extractnpak screen;
    screen.show();
    QElapsedTimer timer;
    timer.start();
    guarded([&screen] { screen.OKButton_Click(); });
    std::printf("%.3f %d %s\n", timer.elapsed() / 1000.0, boxes,
                screen.caption().toUtf8().constData());
    return Platform::endRequested() ? 0 : 1;
}
