// Start-up: the command line, the page list, the vendor library and the exit status.
#include <filesystem>
#include <fstream>

#include "app_fixture.h"
#include "device/cp210x.h"
#include "pages/connect_usb_page.h"
#include "sim/instrument.h"
#include "upload/upload_page.h"

namespace {

std::vector<UINT> pageTemplates(CMasterDlg& wizard) {
    std::vector<UINT> ids;
    for (int i = 0; i < wizard.GetPageCount(); ++i) ids.push_back(wizard.GetPageAt(i)->m_nTemplateID);
    return ids;
}

const std::vector<UINT> ALL_PAGES = {136, 141, 142, 143, 139};

TEST_F(AppTest, SkipServiceInSmallLettersStartsOnThePowerCyclingPage) {
    run({"/skipservice"}, [&](ui::HeadlessDriver& d, CMasterDlg& wizard) {
        EXPECT_EQ(pageTemplates(wizard), (std::vector<UINT>{143, 139}));
        EXPECT_EQ(activePage(wizard), IDD_CONNECT2);
        EXPECT_FALSE(d.enabled(ID_WIZBACK));
        EXPECT_FALSE(d.enabled(ID_WIZNEXT));
        d.advance(2000);
        EXPECT_FALSE(d.enabled(ID_WIZNEXT)) << "nothing was plugged in";
        d.click(IDCANCEL);
    });
    EXPECT_TRUE(shown);
    EXPECT_TRUE(app.m_cmdInfo.m_bSkipService);
}

TEST_F(AppTest, SkipServiceWithoutDashAndOtherArgumentsUseAllFivePages) {
    for (auto args : std::vector<std::vector<std::string>>{
             {"SKIPSERVICE"}, {"file.txt", "-x", "/SKIP", "--sim-speed=2", "-skipservices"}, {}}) {
        shown = false;
        app.m_cmdInfo = CWizAppCommandLineInfo();
        run(args, [&](ui::HeadlessDriver& d, CMasterDlg& wizard) {
            EXPECT_EQ(pageTemplates(wizard), ALL_PAGES);
            EXPECT_EQ(activePage(wizard), IDD_WELCOME);
            d.click(IDCANCEL);
        });
        EXPECT_TRUE(shown);
        EXPECT_FALSE(app.m_cmdInfo.m_bSkipService);
        EXPECT_FALSE(app.m_cmdInfo.m_bSimulate) << "--sim-* alone does not simulate";
    }
    EXPECT_TRUE(driver.messageBoxes().empty());
}

TEST_F(AppTest, TheVendorLibraryLivesExactlyAsLongAsTheWizard) {
    run({"-SkipService"}, [&](ui::HeadlessDriver& d, CMasterDlg&) {
        EXPECT_NE(g_pVendorModule, nullptr);
        uint32_t n = 99;
        EXPECT_EQ(CP210x_GetNumDevices(&n), 0);
        EXPECT_EQ(AfxGetAppName(), std::string("KoralLoader"));
        EXPECT_EQ(app.m_pszRegistryKey, std::string("Zantir"));
        d.click(IDCANCEL);
    });
    EXPECT_EQ(g_pVendorModule, nullptr);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
}

TEST_F(AppTest, TheExitStatusTellsTheOutcomeOfTheLastUpload) {
    for (int result : {0, 1, 2}) {
        int status = run({"/SKIPSERVICE"}, [&](ui::HeadlessDriver& d, CMasterDlg& wizard) {
            static_cast<CUploadPage*>(wizard.FindPageByTemplate(IDD_UPLOAD))->m_nResult = result;
            d.click(IDCANCEL);
        });
        EXPECT_EQ(status, result == 2 ? EXIT_STARTED : result == 1 ? EXIT_UNCONFIRMED : EXIT_NOT_PROGRAMMED);
    }
}

TEST_F(AppTest, AMalformedSimulationOptionEndsWithOneBoxUnderSimulate) {
    EXPECT_EQ(run({"/simulate", "--sim-infoa=12"}), EXIT_NO_START);
    EXPECT_FALSE(shown);
    ASSERT_EQ(driver.messageBoxes().size(), 1u);
    EXPECT_NE(driver.messageBoxes()[0].text.find("--sim-infoa"), std::string::npos);
}

TEST_F(AppTest, AStateThatCannotBeSavedMakesTheExitStatusSaySo) {
    const std::string state = (std::filesystem::temp_directory_path() / "koral_app_test_no_such_dir" / "state").string();
    EXPECT_EQ(run({"/SIMULATE", "--sim-state=" + state, "--sim-operator=hands"},
                  [&](ui::HeadlessDriver& d, CMasterDlg&) { d.click(IDCANCEL); }),
              EXIT_NOT_SAVED);
    EXPECT_TRUE(shown);
    EXPECT_EQ(run({"/SIMULATE", "--sim-state", state}), EXIT_NO_START) << "the name without its \"=\"";
    ASSERT_FALSE(driver.messageBoxes().empty());
    EXPECT_NE(driver.messageBoxes().back().text.find("--sim-state"), std::string::npos);
}

TEST_F(AppTest, ADamagedStateFileEndsWithOneBoxAndIsLeftAsItIs) {
    const std::string state = (std::filesystem::temp_directory_path() / "koral_app_test_damaged.txt").string();
    { std::ofstream(state) << "not an instrument\n"; }
    EXPECT_EQ(run({"/SIMULATE", "--sim-state=" + state}), EXIT_NO_START);
    EXPECT_FALSE(shown);
    ASSERT_EQ(driver.messageBoxes().size(), 1u);
    std::ifstream in(state);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not an instrument\n");
    std::filesystem::remove(state);
}

TEST_F(AppTest, SimulateSharesItsInstrumentThroughTheStateFile) {
    const std::string state = (std::filesystem::temp_directory_path() / "koral_app_test_state.txt").string();
    std::filesystem::remove(state);
    const std::string infoA(128, 'A');
    run({"-simulate", "--sim-state=" + state, "--sim-infoa=" + infoA, "--sim-operator=hands"},
        [&](ui::HeadlessDriver& d, CMasterDlg&) {
            ASSERT_NE(app.m_pSimulation, nullptr);
            uint32_t n = 99;
            EXPECT_EQ(CP210x_GetNumDevices(&n), 0);
            EXPECT_EQ(n, 0u) << "the cable waits for the operator";
            d.click(IDCANCEL);
        });
    ASSERT_TRUE(std::filesystem::exists(state));
    sim::Instrument saved;
    ASSERT_TRUE(saved.loadState(state));
    EXPECT_EQ(saved.read(sim::INFOA_ADDRESS, 2), (std::vector<uint8_t>{0xAA, 0xAA}));

    // A second run without --sim-infoa finds the same instrument.
    run({"/SIMULATE", "--sim-state=" + state, "--sim-operator=hands"}, [&](ui::HeadlessDriver& d, CMasterDlg&) {
        EXPECT_EQ(app.m_pSimulation->instrument().read(sim::INFOA_ADDRESS, 1), std::vector<uint8_t>{0xAA});
        d.click(IDCANCEL);
    });
    std::filesystem::remove(state);
}

}  // namespace
