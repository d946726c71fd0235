#include "ui/screen.h"

#include "ui/desktop_services.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>

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

CommandButton::CommandButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {}

void CommandButton::keyPressEvent(QKeyEvent* event) {
    // The toolkit lets Return press only a default button; Space it handles itself.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        event->accept();
        if (!event->isAutoRepeat())
            click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

QPushButton* makeCommandButton(QWidget* parent, const QString& objectName, const QString& caption) {
    auto* button = new CommandButton(caption, parent);
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

namespace {

// The frame the window system drew around the last screen shown: the next is centred with it
// from the start.
QMargins g_frame;

// Tries, 50 ms apart, to learn the frame of a screen just shown.
constexpr int kFrameTries = 40;

} // namespace

void Screen::centre(const QMargins& frame) {
    QScreen* target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!target)
        return;
    QRect outer = QRect(QPoint(), size()).marginsAdded(frame);
    outer.moveCenter(target->availableGeometry().center());
    m_placedAt = outer.topLeft() + QPoint(frame.left(), frame.top());
    setGeometry(QRect(m_placedAt, size()));
}

void Screen::centreOnKnownFrame(int triesLeft) {
    const QMargins assumed = g_frame;
    QTimer::singleShot(50, this, [this, triesLeft, assumed] {
        // Moved by the user or placed by the window manager: that place stands.
        if (!isVisible() || geometry().topLeft() != m_placedAt)
            return;
        const QRect outer = frameGeometry(), inner = geometry();
        const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                             outer.right() - inner.right(), outer.bottom() - inner.bottom());
        if (frame.isNull()) {
            if (triesLeft > 0)
                centreOnKnownFrame(triesLeft - 1);
            return;
        }
        g_frame = frame;
        if (frame != assumed)
            centre(frame);
    });
}

void Screen::showEvent(QShowEvent* event) {
    if (!m_placed) {
        m_placed = true;
        centre(g_frame);
        centreOnKnownFrame(kFrameTries);
    }
    // The focus is shown from the start, not only once a key has moved it: the wizard can be
    // done with the keyboard alone.
    setAttribute(Qt::WA_KeyboardFocusChange);
    QWidget::showEvent(event);
}

} // namespace corvane
