#include <gtest/gtest.h>

#include "platform/ui/model.h"

namespace {

const ui::ControlTemplate* control(const ui::DialogTemplate& t, int id) {
    for (const auto& c : t.controls) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

TEST(TemplatesTest, EveryPageIsAHiddenDisabledChildOfTheSameSize) {
    for (int id : {136, 139, 141, 142, 143}) {
        SCOPED_TRACE(id);
        const ui::DialogTemplate* t = ui::findDialogTemplate(id);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->style, WS_CHILD | WS_DISABLED | DS_SETFONT);
        EXPECT_EQ(t->cx, 321);
        EXPECT_EQ(t->cy, 193);
        EXPECT_STREQ(t->fontFace, "MS Sans Serif");
        ASSERT_FALSE(t->controls.empty());
        EXPECT_EQ(t->controls[0].kind, ui::Kind::Picture);
        EXPECT_EQ(t->controls[0].image, 135);
    }
    EXPECT_EQ(ui::findDialogTemplate(4242), nullptr);
}

TEST(TemplatesTest, WizardFrameHasItsButtonsPlaceholderAndLabel) {
    const ui::DialogTemplate* t = ui::findDialogTemplate(131);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->caption, "Zantir KORAL Firmware Upload Wizard - ");
    ASSERT_EQ(t->controls.size(), 5u);
    EXPECT_EQ(t->controls[0].id, 12324);  // tab order: Next, Close, Back, placeholder, label
    EXPECT_EQ(t->controls[1].id, 2);
    EXPECT_EQ(t->controls[2].id, 12323);
    EXPECT_EQ(t->controls[0].style & 0xF, BS_DEFPUSHBUTTON);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(t->controls[size_t(i)].style & WS_TABSTOP);
    const ui::ControlTemplate* placeholder = control(*t, 1010);
    ASSERT_NE(placeholder, nullptr);
    EXPECT_FALSE(placeholder->style & WS_VISIBLE);
    EXPECT_TRUE(placeholder->style & WS_DISABLED);
    EXPECT_TRUE(control(*t, 1052)->style & WS_DISABLED);
}

TEST(TemplatesTest, ControlsTheLaterPagesBindExist) {
    const ui::DialogTemplate* upload = ui::findDialogTemplate(139);
    for (int id : {1049, 1044, 1061, 1046, 1065, 1047, 1062, 1063, 1064, 1066}) {
        EXPECT_NE(control(*upload, id), nullptr) << id;
    }
    EXPECT_EQ(control(*upload, 1065)->style & (WS_DISABLED | WS_TABSTOP), WS_DISABLED | WS_TABSTOP);
    EXPECT_EQ(control(*upload, 1061)->style & (ES_MULTILINE | ES_READONLY), ES_MULTILINE | ES_READONLY);
    EXPECT_EQ(control(*upload, 1062)->image, 162);
    EXPECT_EQ(control(*upload, 1066)->image, 165);

    const ui::DialogTemplate* service = ui::findDialogTemplate(142);
    EXPECT_EQ(control(*service, 1060)->kind, ui::Kind::Edit);
    EXPECT_EQ(control(*service, 1050)->kind, ui::Kind::CheckBox);
    EXPECT_EQ(control(*service, 1050)->style & 0xF, BS_AUTOCHECKBOX);
    EXPECT_STREQ(control(*ui::findDialogTemplate(136), 1018)->text,
                 "Welcome to the Zantir KORAL Firmware Upload Wizard");
}

}  // namespace
