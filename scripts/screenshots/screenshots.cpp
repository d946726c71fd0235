// Draws the three screens of the wizard on the demo sandbox, as a user sees them, into PNG
// files: startup.png, search.png (after a search, both folders confirmed) and conversion.png;
// then the search and the conversion on a sandbox in Debian's layout: search-debian.png and
// conversion-debian.png.
// Usage: corvane_screenshots OUTPUT_FOLDER   (run by scripts/screenshots.sh under Xvfb)

#include "app/demo_sandbox.h"
#include "app/wizard.h"
#include "platform/files.h"
#include "ui/desktop_services.h"
#include "ui/extractnpak.h"
#include "ui/frm_q2toqf.h"
#include "ui/startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>

#include <cstdio>
#include <vector>

namespace {

// Saves `screen` once it is the active window, where its focused control shows its focus (Xvfb
// has no window manager to activate it).
void save(QWidget* screen, const QString& file) {
    screen->activateWindow();
    QElapsedTimer waited;
    waited.start();
    while (!screen->isActiveWindow() && waited.elapsed() < 2000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    QApplication::processEvents();
    if (!screen->grab().save(file))
        (void)std::fprintf(stderr, "cannot write %s\n", file.toUtf8().constData());
}

// The desktop, with the questions answered: the outer Quake 2 folder (the nested copy is
// offered first) and the Quake 3 one.
class AnsweringServices : public corvane::DesktopServices {
public:
    AnsweringServices(const QStringList& drives, std::vector<int> answers)
        : DesktopServices(drives), m_answers(std::move(answers)) {}
    int messageBox(const QString&, int buttons, const QString&) override {
        if (buttons != corvane::kYesNo)
            return corvane::kOk;
        return m_questions < m_answers.size() ? m_answers[m_questions++] : corvane::kYes;
    }

private:
    std::vector<int> m_answers;
    size_t m_questions = 0;
};

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        (void)std::fputs("usage: corvane_screenshots OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    using namespace corvane;
    const QString output = QString::fromLocal8Bit(argv[1]);
    // The outer Quake 2 folder (the nested copy is offered first) and the Quake 3 one; in
    // Debian's layout, Quake 3's data folder comes before the home path.
    const struct {
        DemoLayout layout;
        std::vector<int> answers;
        const char* suffix;
    } sandboxes[] = {{DemoLayout::Windows, {kNo, kYes, kYes}, ""},
                     {DemoLayout::Debian, {kYes, kNo, kYes}, "-debian"}};
    for (const auto& each : sandboxes) {
        const QString sandbox =
            makeDemoSandbox(QCoreApplication::applicationDirPath(), {}, each.layout);
        qputenv("XDG_DATA_DIRS", encodePath(sandbox + QStringLiteral("/usr/share")).c_str());
        AnsweringServices services(QStringList{sandbox + QChar(kSep)}, each.answers);
        Wizard wizard(services);
        wizard.start();
        if (each.layout == DemoLayout::Windows)
            save(wizard.startup(), output + "/startup.png");
        wizard.startup()->OKButton->click();
        wizard.search()->cmdSearch->click();
        save(wizard.search(), output + "/search" + QLatin1String(each.suffix) + ".png");
        wizard.search()->cmdNext->click();
        save(wizard.conversion(), output + "/conversion" + QLatin1String(each.suffix) + ".png");
        removeFolderTree(sandbox);
    }
    return 0;
}
