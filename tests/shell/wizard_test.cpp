#include "conversion/extractnpak.h"
#include "discovery/frm_q2toqf.h"
#include "shell/pakinfo.h"
#include "shell/startup.h"
#include "shell/wizard.h"
#include "support/test_support.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

namespace {

class WizardFlow : public ::testing::Test {
protected:
    void SetUp() override {
        pakinfo::Quake2Path.clear();
        pakinfo::Quake3Path.clear();
        wizard.start();
    }
    void TearDown() override {
        pakinfo::Quake2Path.clear();
        pakinfo::Quake3Path.clear();
    }

    FakePlatform platform;
    Wizard wizard;
};

TEST_F(WizardFlow, ContinueHidesTheDisclaimerThenShowsTheSearch) {
    ASSERT_TRUE(wizard.startup()->isVisible());
    EXPECT_EQ(wizard.search(), nullptr);
    wizard.startup()->OKButton->click();
    ASSERT_NE(wizard.search(), nullptr);
    EXPECT_FALSE(wizard.startup()->isVisible());
    EXPECT_TRUE(wizard.search()->isVisible());
    EXPECT_FALSE(wizard.search()->cmdNext->isEnabled());
    EXPECT_FALSE(platform.ended());
}

TEST_F(WizardFlow, NextShowsTheConversionWithThePathsExactlyAsConfirmed) {
    wizard.startup()->OKButton->click();
    pakinfo::Quake2Path = "/home/u/Games/Quake 2 \u00fc/";
    pakinfo::Quake3Path = "/";
    wizard.search()->cmdNext->setEnabled(true);
    wizard.search()->cmdNext->click();
    Extractnpak* conversion = wizard.conversion();
    ASSERT_NE(conversion, nullptr);
    EXPECT_TRUE(conversion->isVisible());
    EXPECT_FALSE(wizard.search()->isVisible());
    EXPECT_FALSE(wizard.startup()->isVisible());
    EXPECT_EQ(conversion->lblq2path->caption(), "/home/u/Games/Quake 2 \u00fc/");
    EXPECT_EQ(conversion->lblq3path->caption(), "/");
    EXPECT_EQ(conversion->caption(), "Extracting and Packing, Click continue now to start");
    EXPECT_EQ(conversion->Label1->caption(),
              "Time to unpak and repak. This may take a bit of time and needs a bit of hard drive "
              "space to uncompress and repak to pk3 files. Click the OK button when ready!");
    EXPECT_FALSE(conversion->Command1->isVisible());
}

TEST(WizardExits, EveryExitAndEveryCloseEndsTheProgram) {
    struct Way {
        const char* name;
        std::function<void(Wizard&)> prepare;
        std::function<void(Wizard&)> leave;
    };
    auto toSearch = [](Wizard& w) { w.startup()->OKButton->click(); };
    auto toConversion = [&](Wizard& w) {
        toSearch(w);
        w.search()->cmdNext->setEnabled(true);
        w.search()->cmdNext->click();
    };
    const Way ways[] = {
        {"disclaimer Exit", [](Wizard&) {}, [](Wizard& w) { w.startup()->CancelButton->click(); }},
        {"disclaimer close", [](Wizard&) {}, [](Wizard& w) { w.startup()->close(); }},
        {"search close", toSearch, [](Wizard& w) { w.search()->close(); }},
        {"conversion Exit", toConversion, [](Wizard& w) { w.conversion()->CancelButton->click(); }},
        {"conversion close", toConversion, [](Wizard& w) { w.conversion()->close(); }},
    };
    for (const Way& way : ways) {
        FakePlatform fresh;
        Wizard wizard;
        wizard.start();
        way.prepare(wizard);
        ASSERT_FALSE(fresh.ended()) << way.name;
        way.leave(wizard);
        EXPECT_EQ(fresh.endCount(), 1) << way.name;
        EXPECT_TRUE(fresh.boxes().empty()) << way.name;
        if (std::string(way.name) == "disclaimer close") {
            EXPECT_EQ(wizard.search(), nullptr);
        }
    }
}

TEST_F(WizardFlow, ScreensHaveTheirCaptionsSizesAndFrames) {
    wizard.startup()->OKButton->click();
    wizard.search()->cmdNext->setEnabled(true);
    wizard.search()->cmdNext->click();
    struct Expected {
        Screen* screen;
        const char* caption;
        int width, height; // pixels at 96 dpi
    };
    const Expected screens[] = {
        {wizard.startup(), "Corvane", 521, 259},
        {wizard.search(), "Convert Quake2 Paks to Q3 Paks", 567, 196},
        {wizard.conversion(), "Extracting and Packing, Click continue now to start", 416, 183},
    };
    for (const Expected& e : screens) {
        SCOPED_TRACE(e.caption);
        const double scale = e.screen->logicalDpiX() / 96.0;
        EXPECT_EQ(e.screen->caption(), e.caption);
        EXPECT_EQ(e.screen->size(), QSize(qRound(e.width * scale), qRound(e.height * scale)));
        EXPECT_EQ(e.screen->minimumSize(), e.screen->maximumSize());
        const Qt::WindowFlags flags = e.screen->windowFlags();
        EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
        EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
        EXPECT_EQ(e.screen->windowIcon().pixmap(32, 32).size(), QSize(32, 32));
    }
}

TEST(Disclaimer, TextsAreComposedExactly) {
    FakePlatform platform;
    Startup startup;
    const QString introduction = QString::fromUtf8(
        "This Program will search your hard drives for installations of \xc2\xaeQuake 2 and "
        "\xc2\xaeQuake 3 to make pk3 files from q2 pak files for use in QFusion Bastion... \r\n"
        "\r\n"
        "This program is intended to make converting files from \xc2\xaeQuake2 for \xc2\xaeQuake3 "
        "and Qfusion easier on typical user who would find this difficult or tedious to do. \r\n"
        "You may need administrative priviledges on the machine due to the nature of the the "
        "application.");
    const QString requirements = QString::fromUtf8(
        "You need licensed copies of \xc2\xaeQuake 2 and \xc2\xaeQuake 3 to use this application. "
        "\r\n"
        "If you don't have them installed exit this program and install them, then rerun this "
        "application. \r\n"
        "If you don't have one or the other of these installed you will not be able to play this "
        "game .\r\n");
    EXPECT_EQ(startup.Label1->caption(), introduction);
    EXPECT_EQ(startup.Label3->caption(), requirements);
    EXPECT_EQ(startup.Label2->caption(),
              "DISCLAIMER: Not responsible for damages incurred upon using this application in "
              "whole or in part.");
    EXPECT_EQ(startup.Label3->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

TEST(Disclaimer, ContinueHasTheFocusAndNoButtonAnswersEnterOrEscape) {
    FakePlatform platform;
    Startup startup;
    startup.show();
    EXPECT_EQ(startup.focusWidget(), startup.OKButton);
    for (QPushButton* button : {startup.OKButton, startup.CancelButton}) {
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }
    EXPECT_EQ(startup.OKButton->text(), "Continue");
    EXPECT_EQ(startup.CancelButton->text(), "Exit");
    EXPECT_EQ(startup.OKButton->nextInFocusChain(), startup.CancelButton);
}

} // namespace
