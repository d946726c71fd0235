// Draws the three screens of the wizard on the demo sandbox, as a user sees them, into PNG
// files: startup.png, search.png (after a search, both folders confirmed) and conversion.png.
// Usage: corvane_screenshots OUTPUT_FOLDER   (run by scripts/screenshots.sh under Xvfb)

#include "conversion/extractnpak.h"
#include "discovery/frm_q2toqf.h"
#include "shell/demo_sandbox.h"
#include "shell/platform.h"
#include "shell/platform_folders.h"
#include "shell/startup.h"
#include "shell/wizard.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

namespace {

void save(QWidget* screen, const QString& file) {
    QApplication::processEvents();
    if (!screen->grab().save(file))
        std::fprintf(stderr, "cannot write %s\n", file.toUtf8().constData());
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fputs("usage: corvane_screenshots OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    using namespace corvane;
    const QString output = QString::fromLocal8Bit(argv[1]);
    const QString sandbox = MakeDemoSandbox();
    PlatformFolders::setDriveRoots(QStringList{sandbox + QChar(kSep)});
    // Confirm the outer Quake 2 folder (the nested copy is offered first) and the Quake 3 one.
    int questions = 0;
    Platform::setMessageBoxHandler([&questions](const QString&, int buttons, const QString&) {
        return buttons == kYesNo ? (questions++ == 0 ? kNo : kYes) : kOk;
    });

    Wizard wizard;
    wizard.start();
    save(wizard.startup(), output + "/startup.png");
    wizard.startup()->OKButton->click();
    wizard.search()->cmdSearch->click();
    save(wizard.search(), output + "/search.png");
    wizard.search()->cmdNext->click();
    save(wizard.conversion(), output + "/conversion.png");
    RemoveTree(sandbox);
    return 0;
}
