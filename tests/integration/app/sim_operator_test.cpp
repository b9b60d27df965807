// The simulated operator under SIMULATE: physical steps when a page asks, clicks in auto mode.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/sim_operator.h"
#include "app/simulation.h"
#include "app_fixture.h"
#include "device/cp210x.h"
#include "pages/connect_usb_page.h"
#include "pages/service_mode_page.h"
#include "platform/ui/model.h"
#include "tests/support/worker_clock.h"
#include "upload/upload_page.h"

namespace {

uint32_t bridges() {
    uint32_t n = 0;
    return CP210x_GetNumDevices(&n) == 0 ? n : 99;
}

TEST_F(AppTest, AutoOperatorPlaysThePagesUpToTheUpload) {
    koral_test::WorkerClock clock;  // the service-mode page reads the console on a thread
    run({"/SIMULATE"}, [&](ui::HeadlessDriver& d, CMasterDlg& wizard) {
        ASSERT_TRUE(clock.pumpUntil(d, [&] { return activePage(wizard) == IDD_CONNECT; }));
        EXPECT_EQ(bridges(), 0u);
        ASSERT_TRUE(clock.pumpUntil(d, [&] { return activePage(wizard) == IDD_SERVICEMODE; }));
        EXPECT_EQ(wizard.m_nComPort, app.m_pSimulation->instrument().comPort())
            << "the connect page found the port in the simulated registry";
        // The connect page moves on by itself; on the service-mode page the hands toggle the
        // switch into programming mode and the operator clicks Next.
        ASSERT_TRUE(clock.pumpUntil(d, [&] { return activePage(wizard) == IDD_UPLOAD; }));
        d.click(IDCANCEL);
    });
}

// The cable pulled while the service-mode page waits: the console goes quiet, the operator plugs
// it back once the page has sat idle, and after a patient while without "PROGRAMMING MODE" (as on
// a blank flash, which prints nothing) ticks the power-cycling box and goes that way.
TEST_F(AppTest, AutoOperatorPlugsAPulledCableBackAndTakesThePowerCyclingWayWhenNoMarkerComes) {
    koral_test::WorkerClock clock;
    run({"/SIMULATE"}, [&](ui::HeadlessDriver& d, CMasterDlg& wizard) {
        ASSERT_TRUE(clock.pumpUntil(d, [&] { return activePage(wizard) == IDD_SERVICEMODE; }));
        sim::Instrument& instrument = app.m_pSimulation->instrument();
        instrument.unplug();
        ASSERT_TRUE(clock.pumpFor(d, SimulatedOperator::IDLE_CABLE_MS + 500));
        EXPECT_TRUE(instrument.plugged()) << "plugged back";
        EXPECT_EQ(activePage(wizard), IDD_SERVICEMODE);
        EXPECT_FALSE(d.checked(IDC_POWERCYCLING)) << "not yet";
        ASSERT_TRUE(clock.pumpUntil(d, [&] { return activePage(wizard) != IDD_SERVICEMODE; }));
        EXPECT_EQ(activePage(wizard), IDD_CONNECT2);
        ASSERT_TRUE(clock.pumpUntil(d, [&] { return activePage(wizard) == IDD_UPLOAD; }));
        d.click(IDCANCEL);
    });
}

TEST_F(AppTest, HandsOperatorLeavesTheClicksToAPerson) {
    run({"/SIMULATE", "--sim-operator=hands"}, [&](ui::HeadlessDriver& d, CMasterDlg& wizard) {
        d.advance(5000);
        EXPECT_EQ(activePage(wizard), IDD_WELCOME);
        EXPECT_EQ(bridges(), 0u);
        d.click(ID_WIZNEXT);
        d.advance(3000);
        EXPECT_EQ(bridges(), 1u);
        EXPECT_EQ(AfxMessageBox("Really?", MB_OKCANCEL), IDOK) << "the person's own backend answers";
        EXPECT_EQ(d.messageBoxes().size(), 1u);
        d.click(IDCANCEL);
    });
}

TEST_F(AppTest, AutoOperatorClosesTheWizardAFewSecondsAfterTheUploadsResult) {
    int status = run({"/SIMULATE", "/SKIPSERVICE"}, [&](ui::HeadlessDriver& d, CMasterDlg& wizard) {
        EXPECT_EQ(activePage(wizard), IDD_CONNECT2);
        for (int i = 0; i < 100 && activePage(wizard) == IDD_CONNECT2; ++i) d.advance(100);
        ASSERT_EQ(activePage(wizard), IDD_UPLOAD) << "power cycled, found, Next clicked";
        EXPECT_EQ(bridges(), 1u);
        // The upload runs to its end on the page's worker: gears gone, the green tick shown.
        auto* upload = static_cast<CUploadPage*>(wizard.GetActivePage());
        ASSERT_TRUE(d.pumpUntil([&] { return !d.visible(1066); }, 120000));
        EXPECT_EQ(upload->m_nResult, 2) << d.text(1061);
        d.advance(SimulatedOperator::CLOSE_AFTER_MS - 500);
        EXPECT_FALSE(wizard.ModalEnded()) << "not yet";
        d.advance(1000);
        EXPECT_TRUE(wizard.ModalEnded()) << "closed by the operator";
    });
    EXPECT_EQ(status, EXIT_STARTED);
}

TEST_F(AppTest, AutoOperatorAnswersBoxesWithOkAndPicksTheNewestSavedInfoA) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "koral_operator_test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    auto write = [&](const char* name, int ageS) {
        std::ofstream(dir / name) << "@10C0\r\nq\r\n";
        fs::last_write_time(dir / name, fs::file_time_type::clock::now() - std::chrono::seconds(ageS));
    };
    write("KORLDR_INFOA_260101_120000.TXT", 100);
    write("KORLDR_INFOA_260101_110000_2.TXT", 10);  // newer, though its name sorts first
    write("KORLDR_INFOA_260101_130000.TXT.bak", 1);
    write("OTHER_260101_130000.TXT", 1);
    const char* oldTmp = std::getenv("TMPDIR");
    std::string saved = oldTmp ? oldTmp : "";
    setenv("TMPDIR", dir.string().c_str(), 1);

    run({"/SIMULATE"}, [&](ui::HeadlessDriver& d, CMasterDlg&) {
        EXPECT_EQ(AfxMessageBox("Go on?", MB_OKCANCEL), IDOK);
        EXPECT_EQ(AfxMessageBox("Restore?", MB_YESNO), IDYES);
        CFileDialog dialog(TRUE, "TXT", nullptr, 0, "InfoA backup|KORLDR_INFOA_*.TXT||");
        ASSERT_EQ(dialog.DoModal(), IDOK);
        EXPECT_EQ(fs::path(std::string(dialog.GetPathName())), dir / "KORLDR_INFOA_260101_110000_2.TXT");
        // Asked again, the wizard refused that one: the next candidate, then Cancel, then afresh.
        ASSERT_EQ(dialog.DoModal(), IDOK);
        EXPECT_EQ(fs::path(std::string(dialog.GetPathName())), dir / "KORLDR_INFOA_260101_120000.TXT");
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        ASSERT_EQ(dialog.DoModal(), IDOK);
        EXPECT_EQ(fs::path(std::string(dialog.GetPathName())), dir / "KORLDR_INFOA_260101_110000_2.TXT");
        EXPECT_TRUE(d.messageBoxes().empty()) << "the operator answered, nobody else";
        d.click(IDCANCEL);
    });
    fs::remove_all(dir);
    EXPECT_EQ(SimulatedOperator::newestSavedInfoA(dir.string()), "");
    if (oldTmp) setenv("TMPDIR", saved.c_str(), 1);
    else unsetenv("TMPDIR");
}

}  // namespace
