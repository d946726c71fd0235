#pragma once

#include "conversion.h"
#include "shell/screen.h"

#include <QPushButton>

namespace corvane {

// The conversion screen: shows the two game folders and runs the conversion on "Continue".
class Extractnpak : public Screen, public ConversionView {
    Q_OBJECT
public:
    Extractnpak();

    CaptionLabel* Label1;
    CaptionLabel* lblq2path;
    CaptionLabel* lblq3path;
    QPushButton* OKButton;
    QPushButton* Command1;
    QPushButton* CancelButton;

    Conversion& conversion() { return m_conversion; }

    void Form_Load();
    void Form_Activate();
    void OKButton_Click() { m_conversion.OKButton_Click(); }
    void Command1_Click() { m_conversion.RemoveTempTree(); }
    void CancelButton_Click();

    void setScreenEnabled(bool enabled) override { setEnabled(enabled); }
    void setOkButtonEnabled(bool enabled) override { OKButton->setEnabled(enabled); }
    void setCaption(const QString& caption) override { Screen::setCaption(caption); }
    void setProgressText(const QString& text) override { Label1->setCaption(text); }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    Conversion m_conversion{*this};
};

} // namespace corvane
