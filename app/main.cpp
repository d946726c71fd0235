#include "shell/wizard.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    corvane::Wizard wizard;
    wizard.start();
    return QApplication::exec();
}
