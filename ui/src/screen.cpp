#include "ui/screen.h"

#include "ui/desktop_services.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

// The icon lives in a static library, whose resources are not registered by themselves.
static void registerResources() {
    Q_INIT_RESOURCE(resources);
}

namespace corvane {

int twipsToPixels(int twips, const QWidget* widget) {
    return qRound(twips * widget->logicalDpiX() / 1440.0);
}

void placeTwips(QWidget* control, int left, int top, int width, int height) {
    control->setGeometry(twipsToPixels(left, control), twipsToPixels(top, control),
                         twipsToPixels(width, control), twipsToPixels(height, control));
}

QIcon programIcon() {
    static const bool registered = (registerResources(), true);
    (void)registered;
    return QIcon(QStringLiteral(":/corvane/corvane.png"));
}

void setTabOrder(std::initializer_list<QWidget*> controls) {
    QWidget* previous = nullptr;
    for (QWidget* control : controls) {
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

QPushButton* makeCommandButton(QWidget* parent, const QString& objectName, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

CaptionLabel::CaptionLabel(QWidget* parent, const QString& objectName) : QLabel(parent) {
    setObjectName(objectName);
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void CaptionLabel::setCaption(const QString& caption) {
    m_caption = caption;
    QString shown = caption;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setText(shown);
}

Screen::Screen(Services& services, const QString& objectName, const QString& caption,
               int widthTwips, int heightTwips)
    : m_services(services) {
    setObjectName(objectName);
    setWindowTitle(caption);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowIcon(programIcon());
    // The layout is measured for a small dialog font; larger ones would not fit the labels.
    QFont small = font();
    small.setPointSizeF(7.5);
    setFont(small);
    setFixedSize(twipsToPixels(widthTwips, this), twipsToPixels(heightTwips, this));
}

void Screen::Form_Unload() {
    m_services.End();
}

void Screen::handle(const std::function<void()>& procedure) {
    guarded(m_services, procedure);
}

void Screen::closeEvent(QCloseEvent* event) {
    event->accept();
    handle([this] { Form_Unload(); });
}

void Screen::showEvent(QShowEvent* event) {
    if (!m_placed) {
        m_placed = true;
        QScreen* target = screen() ? screen() : QGuiApplication::primaryScreen();
        if (target) {
            QRect frame = frameGeometry();
            frame.moveCenter(target->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QWidget::showEvent(event);
}

} // namespace corvane
