#include "ui/startup.h"

#include "platform/services.h"

namespace corvane {

namespace {

QLabel* makeIconBox(QWidget* parent, const QString& name) {
    auto* box = new QLabel(parent);
    box->setObjectName(name);
    box->setPixmap(programIcon().pixmap(32, 32));
    box->setAccessibleName(QStringLiteral("Corvane icon"));
    return box;
}

} // namespace

DisclaimerTexts composeDisclaimerTexts() {
    const QString lineBreak = QStringLiteral("\r\n");
    const QString p1 = QStringLiteral("This Program will search your hard drives for installations "
                                      "of \u00aeQuake 2 and \u00aeQuake 3 ");
    const QString p2 =
        QStringLiteral("to make pk3 files from q2 pak files for use in QFusion Bastion... ");
    const QString p3 = QStringLiteral(
        "You need licensed copies of \u00aeQuake 2 and \u00aeQuake 3 to use this application. ");
    const QString p4 = QStringLiteral("If you don't have them installed exit this program and "
                                      "install them, then rerun this application. ");
    const QString p5 = QStringLiteral("If you don't have one or the other of these installed you "
                                      "will not be able to play this game .");
    const QString p6 = QStringLiteral("This program is intended to make converting files from "
                                      "\u00aeQuake2 for \u00aeQuake3 and Qfusion easier on ");
    const QString p7 =
        QStringLiteral("typical user who would find this difficult or tedious to do. ");
    const QString p8 = QStringLiteral("You may need administrative priviledges on the machine due "
                                      "to the nature of the the application.");
    const QString p9 = QStringLiteral("DISCLAIMER: Not responsible for damages incurred upon using "
                                      "this application in whole or in part.");

    DisclaimerTexts texts;
    texts.introduction = p1 + p2 + lineBreak + lineBreak;
    texts.requirements = p3 + lineBreak + p4 + lineBreak + p5 + lineBreak;
    texts.introduction += p6 + p7 + lineBreak + p8;
    texts.disclaimer = p9;
    return texts;
}

Startup::Startup(Services& services)
    : Screen(services, QStringLiteral("Startup"), QStringLiteral("Corvane"), 7815, 3885) {
    OKButton = makeCommandButton(this, QStringLiteral("OKButton"), QStringLiteral("Continue"));
    CancelButton = makeCommandButton(this, QStringLiteral("CancelButton"), QStringLiteral("Exit"));
    Label1 = new CaptionLabel(this, QStringLiteral("Label1"));
    Label2 = new CaptionLabel(this, QStringLiteral("Label2"));
    Label3 = new CaptionLabel(this, QStringLiteral("Label3"));
    Picture1 = makeIconBox(this, QStringLiteral("Picture1"));
    Picture2 = makeIconBox(this, QStringLiteral("Picture2"));

    placeTwips(OKButton, 120, 3240, 1215, 375);
    placeTwips(CancelButton, 6480, 3240, 1215, 375);
    placeTwips(Label1, 120, 120, 7575, 1335);
    placeTwips(Label2, 120, 2640, 7695, 375);
    placeTwips(Label3, 120, 1680, 7575, 735);
    placeTwips(Picture1, 1440, 3240, 495, 495);
    placeTwips(Picture2, 5760, 3240, 495, 495);
    corvane::setTabOrder({OKButton, CancelButton, Label1, Label2, Label3, Picture1, Picture2});

    QPalette red = Label3->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label3->setPalette(red);

    connect(OKButton, &QPushButton::clicked, this, [this] { emit OKButton_Click(); });
    connect(CancelButton, &QPushButton::clicked, this,
            [this] { handle([this] { CancelButton_Click(); }); });
    Form_Load();
}

void Startup::Form_Load() {
    const DisclaimerTexts texts = composeDisclaimerTexts();
    Label1->setCaption(texts.introduction);
    Label2->setCaption(texts.disclaimer);
    Label3->setCaption(texts.requirements);
}

void Startup::CancelButton_Click() {
    m_services.End();
}

void Startup::showEvent(QShowEvent* event) {
    Screen::showEvent(event);
    // As a key would have moved it there: the focus frame shows at once.
    OKButton->setFocus(Qt::TabFocusReason);
}

} // namespace corvane
