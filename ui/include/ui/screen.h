#pragma once

// What every screen of the wizard shares: layout in twips, the window frame, the program
// icon, labels that keep their caption exactly, and an unload that ends the program.

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <functional>

class QCloseEvent;

namespace corvane {

class Services;

// Twips to device-independent pixels: 15 twips a pixel at 96 dpi, scaled with the screen.
int twipsToPixels(int twips, const QWidget* widget);
// Places a control at Left, Top, Width, Height given in twips.
void placeTwips(QWidget* control, int left, int top, int width, int height);
// The program's 32 x 32 icon.
QIcon programIcon();
// Gives the controls the tab order in which they are listed.
void setTabOrder(std::initializer_list<QWidget*> controls);

// A command button: Return, Enter and Space press it while it has the focus, as a command button
// of the desktop the wizard was drawn for does. No button is a default or cancel button: Return
// presses only the focused one, and Escape none.
class CommandButton : public QPushButton {
    Q_OBJECT
public:
    CommandButton(const QString& caption, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A command button with its caption.
QPushButton* makeCommandButton(QWidget* parent, const QString& objectName, const QString& caption);

// A label whose caption is kept exactly as set (line breaks are CR LF), shown word-wrapped.
class CaptionLabel : public QLabel {
    Q_OBJECT
public:
    explicit CaptionLabel(QWidget* parent, const QString& objectName);
    const QString& caption() const { return m_caption; }
    void setCaption(const QString& caption);

private:
    QString m_caption;
};

// A top-level screen: fixed client size in twips, its frame centred on the screen, no minimise
// or maximise button, the program icon, the focus shown from the start. Closing the window runs
// Form_Unload, which ends the program.
class Screen : public QWidget {
    Q_OBJECT
public:
    Screen(Services& services, const QString& objectName, const QString& caption, int widthTwips,
           int heightTwips);

    QString caption() const { return windowTitle(); }
    void setCaption(const QString& caption) { setWindowTitle(caption); }

    // Closing the window: ends the program at once (the unload is never refused).
    virtual void Form_Unload();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Runs an event procedure as the toolkit calls it (see guarded()).
    void handle(const std::function<void()>& procedure);

    Services& m_services;

private:
    // Centres the window's frame, the window system's frame taken as `frame`.
    void centre(const QMargins& frame);
    // Centres it again once the window system has told the frame, unless it moved meanwhile.
    void centreOnKnownFrame(int triesLeft);

    bool m_placed = false;
    QPoint m_placedAt;
};

} // namespace corvane
