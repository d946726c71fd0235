#include "ui/desktop_services.h"

#include "platform/error.h"
#include "platform/files.h"
#include "platform/stop_signals.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>

namespace corvane {

namespace {

// Message texts keep CR LF line breaks; the toolkit wants LF alone.
QString displayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

// A box as the desktop the wizard was drawn for shows it: the focused button takes Return and
// Space, and the focus shows from the start; a Yes/No question has no way out but its two
// buttons, so Escape and the window's close do nothing (but for a stop request, which ends the
// program).
class Box : public QMessageBox {
public:
    explicit Box(bool question) : m_question(question) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (m_question && event->matches(QKeySequence::Cancel)) {
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        if (m_question && stopRequested() == 0) {
            event->ignore();
            return;
        }
        QMessageBox::closeEvent(event);
    }
    void showEvent(QShowEvent* event) override {
        setAttribute(Qt::WA_KeyboardFocusChange);
        QMessageBox::showEvent(event);
    }

private:
    bool m_question;
};

} // namespace

int DesktopServices::messageBox(const QString& prompt, int buttons, const QString& title) {
    // After a stop request nobody waits for the boxes: the program is on its way out.
    if (stopRequested() != 0)
        return buttons == kYesNo ? kNo : kOk;
    Box box(buttons == kYesNo);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(title.isEmpty() ? QStringLiteral("Corvane") : title);
    box.setTextFormat(Qt::PlainText);
    box.setText(displayText(prompt));
    if (buttons == kYesNo) {
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        box.addButton(QMessageBox::No);
        box.setDefaultButton(yes);
        box.exec();
        return box.clickedButton() == yes ? kYes : kNo;
    }
    box.setDefaultButton(box.addButton(QMessageBox::Ok));
    box.exec();
    return kOk;
}

void DesktopServices::doEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void DesktopServices::end(int status) {
    (void)std::fflush(nullptr); // the status says how it ended, whatever is lost

    std::_Exit(status);
}

QString DesktopServices::programFolder() {
    return runningProgramFolder();
}

void guarded(Services& services, const std::function<void()>& procedure) {
    try {
        procedure();
    } catch (const ProgramEnded&) {
    } catch (const Error& error) {
        // An error no procedure handles ends the program with the runtime's own message.
        guarded(services, [&] {
            services.MsgBox(QStringLiteral("Run-time error '%1':\r\n\r\n%2")
                                .arg(error.number())
                                .arg(error.description()));
            services.End();
        });
    }
}

} // namespace corvane
