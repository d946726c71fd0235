#pragma once

#include "screen.h"

#include <QPushButton>

namespace corvane {

// The three texts of the disclaimer screen.
struct DisclaimerTexts {
    QString introduction; // Label1
    QString requirements; // Label3
    QString disclaimer;   // Label2
};
DisclaimerTexts composeDisclaimerTexts();

// The disclaimer screen: what the program does, what it needs, and who is not responsible.
class Startup : public Screen {
    Q_OBJECT
public:
    explicit Startup(Services& services);

    QPushButton* OKButton;
    QPushButton* CancelButton;
    CaptionLabel* Label1;
    CaptionLabel* Label2;
    CaptionLabel* Label3;
    QLabel* Picture1;
    QLabel* Picture2;

    void Form_Load();
    void CancelButton_Click();

signals:
    // "Continue": the wizard moves on to the search screen.
    void OKButton_Click();

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace corvane
