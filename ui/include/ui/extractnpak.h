#pragma once

#include "conversion/conversion.h"
#include "screen.h"

#include <QPushButton>

namespace corvane {

struct GamePaths;

// The conversion screen: shows the two game folders and runs the conversion on "Continue".
class Extractnpak : public Screen, public ConversionView {
    Q_OBJECT
public:
    Extractnpak(Services& services, const GamePaths& paths);

    CaptionLabel* Label1;
    CaptionLabel* lblq2path;
    CaptionLabel* lblq3path;
    QPushButton* OKButton;
    QPushButton* Command1;
    QPushButton* CancelButton;

    Conversion& conversion() { return m_conversion; }

    void Form_Load();
    void Form_Activate();
    // The conversion always ends the program, however it went.
    void OKButton_Click();
    void Command1_Click() { m_conversion.removeTempTreeAlone(); }
    void CancelButton_Click();

    void setScreenEnabled(bool enabled) override { setEnabled(enabled); }
    void setOkButtonEnabled(bool enabled) override { OKButton->setEnabled(enabled); }
    void setCaption(const QString& caption) override { Screen::setCaption(caption); }
    void setProgressText(const QString& text) override { Label1->setCaption(text); }
    // Each notice of the conversion is a box, or two.
    void notice(const Notice& notice) override;
    void passStarted() override;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    const GamePaths& m_paths;
    Conversion m_conversion;
};

} // namespace corvane
