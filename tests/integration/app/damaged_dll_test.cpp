// A vendor library resource the loader refuses: one box, no wizard.
#include "app_fixture.h"
#include "device/cp210x.h"

TEST_F(AppTest, ADamagedVendorLibraryGivesOneBoxAndNoWizard) {
    EXPECT_EQ(run({}), EXIT_NO_START);
    EXPECT_FALSE(shown);
    ASSERT_EQ(driver.messageBoxes().size(), 1u);
    const ui::ShownMessageBox& box = driver.messageBoxes()[0];
    EXPECT_EQ(box.text, "Could not load CP210xManufacturing.dll from memory");
    EXPECT_EQ(box.caption, "KoralLoader");
    EXPECT_EQ(box.type, UINT(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_EQ(g_pVendorModule, nullptr);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
}
