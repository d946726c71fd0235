// The parts of the platform layer that the toolkit provides on every system: message boxes,
// the event pump, the end of the program and the program folder.

#include "platform.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>

namespace corvane {

namespace {

struct Hooks {
    QString appPath;
    Platform::MessageBoxHandler messageBox;
    Platform::EndHandler end;
    bool endRequested = false;
};

Hooks& hooks() {
    static Hooks instance;
    return instance;
}

// Message texts keep CR LF line breaks; the toolkit wants LF alone.
QString displayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

int showMessageBox(const QString& prompt, int buttons, const QString& title) {
    QMessageBox box;
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

} // namespace

QString nativePath(const QString& path) {
    QString native = path;
    for (QChar& c : native)
        if (c == u'\\' || c == u'/')
            c = QChar(kSep);
    return native;
}

QString AppPath() {
    if (!hooks().appPath.isEmpty())
        return hooks().appPath;
    return QCoreApplication::applicationDirPath();
}

int MsgBox(const QString& prompt, int buttons, const QString& title) {
    if (hooks().messageBox)
        return hooks().messageBox(prompt, buttons, title);
    return showMessageBox(prompt, buttons, title);
}

void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // An end observed while events ran keeps unwinding the code that yielded.
    if (hooks().endRequested)
        throw ProgramEnded{};
}

void End() {
    if (hooks().end)
        hooks().end();
    std::fflush(nullptr);
    std::_Exit(0);
}

void guarded(const std::function<void()>& procedure) {
    try {
        procedure();
    } catch (const ProgramEnded&) {
        hooks().endRequested = true;
    } catch (const RuntimeError& error) {
        // An error no procedure handles ends the program with the runtime's own message.
        guarded([&error] {
            MsgBox(QStringLiteral("Run-time error '%1':\r\n\r\n%2")
                       .arg(error.number())
                       .arg(error.description()));
            End();
        });
    }
}

void Platform::setAppPath(const QString& folder) {
    hooks().appPath = folder;
}
void Platform::setMessageBoxHandler(MessageBoxHandler handler) {
    hooks().messageBox = std::move(handler);
}
void Platform::setEndHandler(EndHandler handler) {
    hooks().end = std::move(handler);
}
bool Platform::endRequested() {
    return hooks().endRequested;
}
void Platform::reset() {
    hooks() = Hooks{};
}

} // namespace corvane
