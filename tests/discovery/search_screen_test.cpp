// The search screen as loaded: its window, controls, tab order, and "Next".

#include "discovery_fixture.h"

using namespace corvane;
using namespace corvane::test;

namespace {

class SearchScreen : public DiscoveryTest {};

QString captionOf(const QWidget* control) {
    if (auto* label = qobject_cast<const CaptionLabel*>(control))
        return label->caption();
    if (auto* button = qobject_cast<const QPushButton*>(control))
        return button->text();
    if (auto* frame = qobject_cast<const QGroupBox*>(control))
        return frame->title();
    return QString();
}

TEST_F(SearchScreen, LoadsWithItsCaptionsVisibilityAndEnabledStates) {
    FrmQ2toQf& form = makeScreen({drive.path()});
    EXPECT_EQ(form.caption(), "Convert Quake2 Paks to Q3 Paks");
    EXPECT_EQ(form.Quake2ExeName, "quake2.exe");
    EXPECT_EQ(form.Quake3ExeName, "quake3.exe");
    const struct {
        QWidget* control;
        QString caption;
        bool visible;
        bool enabled;
    } controls[] = {
        {form.lblq2, "Quake 2 directories found", true, true},
        {form.lstFoundFileq2, "", true, true},
        {form.Command1, "...", false, true},
        {form.lblq3, "Quak3 directories found", true, true},
        {form.lstFoundFileq3, "", true, true},
        {form.Command2, "...", false, true},
        {form.lbldir,
         "Click the Auto Search button to begin searching for Quake2 and Quake3 game "
         "directories",
         true, true},
        {form.cmdSearch, "Auto Search", true, true},
        {form.cmdNext, "Next", true, false},
        {form.Frame1, "Frame1", false, true},
        {form.dirList, "", false, true},
        {form.filList, "", false, true},
        {form.Drvlist, "", false, true},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.control->objectName().toStdString());
        EXPECT_EQ(captionOf(c.control), c.caption);
        EXPECT_EQ(c.control->isVisibleTo(&form), c.visible);
        EXPECT_EQ(c.control->isEnabled(), c.enabled);
    }
    // The hidden frame lies below the client area.
    EXPECT_GE(form.Frame1->geometry().top(), form.height());
    EXPECT_EQ(form.lstFoundFileq2->count() + form.lstFoundFileq3->count(), 0);
}

TEST_F(SearchScreen, TabOrderFollowsTheControlsTable) {
    FrmQ2toQf& form = makeScreen({drive.path()});
    // Labels, the frame and the hidden browser never take the focus; the rest keep the
    // table's order.
    const QList<QWidget*> table = {
        form.Command1, form.Command2, form.cmdSearch, form.lstFoundFileq2, form.lstFoundFileq3,
        form.lbldir,   form.cmdNext,  form.Frame1,    form.dirList,        form.filList,
        form.Drvlist,  form.lblq2,    form.lblq3};
    QList<QWidget*> expected;
    for (QWidget* control : table)
        if (control->focusPolicy() != Qt::NoFocus)
            expected << control;
    ASSERT_EQ(expected, QList<QWidget*>({form.Command1, form.Command2, form.cmdSearch,
                                         form.lstFoundFileq2, form.lstFoundFileq3, form.cmdNext}));
    QList<QWidget*> chain;
    QWidget* control = form.Command1;
    do {
        if (expected.contains(control))
            chain << control;
        control = control->nextInFocusChain();
    } while (control != form.Command1 && chain.size() < expected.size());
    EXPECT_EQ(chain, expected);
}

TEST_F(SearchScreen, NextIsOfferedOnlyAfterBothFoldersAreConfirmed) {
    installQuake2(drive.file("Q2"));
    installQuake3(drive.file("Q3"));
    FrmQ2toQf& form = makeScreen({drive.path()});
    int next = 0;
    QObject::connect(&form, &FrmQ2toQf::nextClicked, &form, [&next] { ++next; });
    form.show();
    form.cmdNext->click();
    EXPECT_EQ(next, 0);

    platform.answer({kYes, kYes});
    form.cmdSearch->click();
    ASSERT_TRUE(form.cmdNext->isEnabled());
    EXPECT_FALSE(form.cmdSearch->isVisible());
    form.cmdNext->click();
    EXPECT_EQ(next, 1);
    EXPECT_FALSE(platform.ended());
}

} // namespace
