// The upload page in the wizard on the headless backend, its worker on its own thread, against the
// simulated instrument and its bridge. The clock is the driver's virtual one: while the worker
// talks to the instrument it alone moves time, so host scheduling never shows on the wire (under a
// scaled clock a short host stall between two bytes of a frame is a gap the loader drops the
// frame for).
#include "app/master_dlg.h"
#include "device/console_reader.h"
#include "pages/connect_usb_page.h"
#include "pages/welcome_page.h"
#include "tests/integration/upload/upload_fixture.h"
#include "upload/engine_window_output.h"
#include "upload/upload_page.h"
#include "upload/upload_thread.h"
#include "vendor/simulated.h"

#include <chrono>
#include <future>
#include <optional>

namespace uploadtest {
namespace {

using Strings = std::vector<std::string>;

class UploadPageTest : public UploadFixture {
protected:
    ~UploadPageTest() override {
        try {
            releasePort();
        } catch (const std::future_error&) {
        }
        page.StopUploadThread();
    }

    // The wizard on its welcome page, the instrument plugged in at COM3 (or no port found).
    void open(sim::InstrumentConfig config = {}, bool programmed = true, int comPort = 3, UINT firstPage = IDD_WELCOME) {
        makeInstrument(config, programmed);
        bus.add(*instrument);
        vendor = std::make_unique<vendor::SimulatedVendor>(bus);
        ASSERT_TRUE(vendor->installed());
        wizard.AddPage(&welcome, firstPage);
        wizard.AddPage(&page, IDD_UPLOAD);
        wizard.m_nComPort = comPort;
        wizard.m_strDevicePath = instrument->bridgePath();
        ASSERT_TRUE(driver.open(wizard));
    }
    bool finished() const { return !driver.visible(IDC_ICON_BUSY); }
    // Next to the upload page; the operator switches the instrument on when asked to, and hits
    // Cancel if it then stays silent. Returns when the page shows its result.
    void upload() {
        instrument->setSwitch(false);
        ASSERT_TRUE(driver.click(ID_WIZNEXT));
        ASSERT_EQ(wizard.GetActivePage(), &page);
        std::optional<std::chrono::steady_clock::time_point> switchedAt;
        ASSERT_TRUE(pumpUntil([&] {
            if (finished()) return true;
            if (!driver.enabled(IDC_UPLOAD_CANCEL)) return false;
            if (!switchedAt) {
                EXPECT_NE(log().find("Firmware has been uploaded."), std::string::npos) << "Cancel only in the console phase";
                instrument->setSwitch(true);
                switchedAt = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - *switchedAt > std::chrono::seconds(3)) {
                driver.click(IDC_UPLOAD_CANCEL);
            }
            return false;
        }));
        driver.pump();
    }
    bool pumpUntil(const std::function<bool()>& done) { return driver.pumpUntil(done, 120000); }
    // Keeps the worker waiting in its first port open, so the page's state on entry can be seen;
    // the port then fails to open.
    void holdPort() {
        platform::setSerialOpener([gate = gate.get_future().share()](const std::string&) {
            gate.wait();
            return std::unique_ptr<platform::SerialLine>();
        });
    }
    void releasePort() { gate.set_value(); }
    std::promise<void> gate;
    std::string log() const { return driver.text(IDC_UPLOAD_LOG); }
    std::string shownIcons() const {
        std::string icons;
        for (auto [id, name] : {std::pair{IDC_ICON_BUSY, "busy"}, {IDC_ICON_DONE, "done"}, {IDC_ICON_UNSURE, "unsure"},
                                {IDC_ICON_FAILED, "failed"}})
            if (driver.visible(id)) icons += name;
        return icons;
    }

    sim::UsbBus bus;
    std::unique_ptr<vendor::SimulatedVendor> vendor;
    CMasterDlg wizard;
    CWelcomePage welcome;
    CUploadPage page;
};

constexpr const char* FINAL_LINE = "\r\nIt is now safe to remove the USB cable.\r\n";

TEST_F(UploadPageTest, WholeUploadEndsWithTheTickWhenTheInstrumentShowsItsIdentity) {
    open();
    std::vector<uint8_t> infoA = instrument->read(0x10C0, 64);
    upload();
    EXPECT_EQ(page.m_nResult, 2) << log();
    EXPECT_NE(shownIcons().find("done"), std::string::npos);
    EXPECT_TRUE(instrument->holdsFirmware());
    EXPECT_EQ(instrument->read(0x10C0, 64), infoA);
    EXPECT_TRUE(filesInDir().empty());
    EXPECT_TRUE(boxTexts().empty());
    std::string text = log();
    EXPECT_EQ(text.substr(text.size() - std::string(FINAL_LINE).size()), FINAL_LINE);
    EXPECT_NE(text.find("\r\nLogger ready\r\nZantirKORAL" + std::string(FINAL_LINE)), std::string::npos);
    for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; ++at) ASSERT_EQ(text[at - 1], '\r');
    EXPECT_EQ(driver.text(IDC_UPLOAD_PERCENT), "100% complete");
    EXPECT_EQ(driver.control(IDC_UPLOAD_PROGRESS)->position, 0) << "the bar empties at the end";
    EXPECT_TRUE(driver.enabled(ID_WIZBACK));
    EXPECT_TRUE(driver.enabled(IDCANCEL));
    EXPECT_FALSE(driver.enabled(IDC_UPLOAD_CANCEL));
    EXPECT_FALSE(driver.enabled(ID_WIZNEXT));
}

TEST_F(UploadPageTest, CancelInTheConsolePhaseEndsWithTheQuestionMark) {
    sim::InstrumentConfig config;
    config.bootText = "\r\nKORAL VKT\r\nSelf test... FAILED\r\n";
    open(config);
    instrument->setSwitch(false);
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    ASSERT_TRUE(pumpUntil([&] { return driver.enabled(IDC_UPLOAD_CANCEL); }));
    instrument->setSwitch(true);
    ASSERT_TRUE(pumpUntil([&] { return log().ends_with("FAILED\r\n"); }));
    ASSERT_TRUE(driver.click(IDC_UPLOAD_CANCEL));  // returns once the worker has ended
    driver.pump();
    EXPECT_EQ(shownIcons(), "unsure");
    EXPECT_EQ(page.m_nResult, 1);
    EXPECT_TRUE(log().ends_with(std::string("FAILED\r\n") + FINAL_LINE));
    EXPECT_TRUE(driver.enabled(IDCANCEL));
}

TEST_F(UploadPageTest, FailedFirstReadingShowsTheCrossAndNothingCanLeaveBeforeTheEnd) {
    open({}, true, -1);  // no port found: COM-1 opens nowhere
    holdPort();
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    // From the entry on, Close is off and Back keeps the page.
    EXPECT_FALSE(driver.enabled(IDCANCEL));
    driver.closeWindow();
    driver.pressEscape();
    driver.click(ID_WIZBACK);
    EXPECT_TRUE(driver.isOpen());
    EXPECT_EQ(wizard.GetActivePage(), &page);
    releasePort();
    ASSERT_TRUE(pumpUntil([&] { return finished(); }));
    EXPECT_EQ(shownIcons(), "failed");
    EXPECT_EQ(page.m_nResult, 0);
    EXPECT_EQ(boxTexts(), Strings{"Error reading InfoA"});
    EXPECT_TRUE(driver.messageBoxes()[0].onGuiThread) << "shown by the GUI thread while the worker waited";
    EXPECT_EQ(driver.text(IDC_UPLOAD_PERCENT), "");
}

TEST_F(UploadPageTest, LogProgressAndIdentityWordAsThePageShowsThem) {
    open({}, true, -1);
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    ASSERT_TRUE(pumpUntil([&] { return finished(); }));
    // Only a console byte that completes the word at the very end of the log counts.
    page.SendMessage(WM_ENGINE_TEXT, 0, reinterpret_cast<LPARAM>("one\ntwo ZantirKORAL"));
    for (char c : std::string("\nx\r\n\0", 5)) page.SendMessage(WM_CONSOLE_CHAR, WPARAM(uint8_t(c)));
    EXPECT_TRUE(log().ends_with("ZantirKORAL")) << "a batch of bytes goes in at once, when the queue comes to it";
    driver.pump();
    EXPECT_TRUE(log().ends_with("one\r\ntwo ZantirKORAL\nx\r\n")) << "console bytes unchanged, the zero adds nothing";
    EXPECT_EQ(page.m_nResult, 0);
    EXPECT_FALSE(ui::timerRunning(page.m_hWnd, ID_STOP_TIMER));
    EXPECT_EQ(driver.text(IDC_UPLOAD_PERCENT), "");

    page.SendMessage(WM_ENGINE_PROGRESS, 42, 0);  // ignored: no share of nothing
    EXPECT_EQ(driver.text(IDC_UPLOAD_PERCENT), "");
    for (char c : std::string("ZantirK")) page.SendMessage(WM_CONSOLE_CHAR, WPARAM(uint8_t(c)));
    driver.pump();
    for (char c : std::string("ORAL")) page.SendMessage(WM_CONSOLE_CHAR, WPARAM(uint8_t(c)));
    page.SendMessage(WM_UPLOAD_FINISHED);  // the worker's last word comes after the bytes it read
    EXPECT_EQ(page.m_nResult, 2) << "the word split between two batches";
    EXPECT_NE(shownIcons().find("done"), std::string::npos);
    EXPECT_TRUE(ui::timerRunning(page.m_hWnd, ID_STOP_TIMER));
    driver.pump();
    EXPECT_EQ(driver.text(IDC_UPLOAD_PERCENT), "100% complete");
    EXPECT_EQ(driver.control(IDC_UPLOAD_PROGRESS)->rangeHigh, 100);
    EXPECT_EQ(driver.control(IDC_UPLOAD_PROGRESS)->position, 100);
    page.SendMessage(WM_ENGINE_PROGRESS, 178409, 178410);
    EXPECT_EQ(driver.text(IDC_UPLOAD_PERCENT), "99% complete");

    // Back goes to the welcome page; entering again starts afresh.
    ASSERT_TRUE(driver.click(ID_WIZBACK));
    EXPECT_EQ(wizard.GetActivePage(), &welcome);
    holdPort();
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    EXPECT_EQ(driver.text(IDC_UPLOAD_PERCENT), "");
    EXPECT_EQ(shownIcons(), "busy");
    EXPECT_EQ(driver.control(IDC_UPLOAD_PROGRESS)->position, 0);
    EXPECT_EQ(driver.text(IDC_UPLOAD_TITLE), "Firmware Image Transfer");
    EXPECT_EQ(log().find("one"), std::string::npos);
    releasePort();
    ASSERT_TRUE(pumpUntil([&] { return finished(); }));
}

TEST_F(UploadPageTest, BlankInfoAIsRestoredFromTheKeptBackupThenTheRetryUploads) {
    sim::InstrumentConfig config;
    std::vector<uint8_t> original = calibration(21);
    config.infoA = original;
    config.faults.blankInfoA = true;
    open(config);
    std::string kept = dir + "/KORLDR_INFOA_261208_101500.TXT";
    spit(kept, infoAImage(original));
    driver.queueFileDialogAnswer(std::nullopt);
    driver.queueFileDialogAnswer(kept);

    upload();  // cancelled dialogue
    EXPECT_EQ(shownIcons(), "failed");
    ASSERT_TRUE(driver.click(ID_WIZBACK));
    upload();  // restored
    EXPECT_EQ(shownIcons(), "failed");
    EXPECT_EQ(boxTexts(), (Strings{"InfoA is blank! You need to restore it from file",
                                   "InfoA is blank! You need to restore it from file",
                                   "InfoA successfully restored. Hit Back to try again."}));
    EXPECT_EQ(instrument->read(0x10C0, 64), original);
    ASSERT_TRUE(driver.click(ID_WIZBACK));
    upload();
    EXPECT_NE(shownIcons().find("done"), std::string::npos);
    EXPECT_EQ(instrument->read(0x10C0, 64), original);
    EXPECT_TRUE(instrument->holdsFirmware());
    EXPECT_EQ(filesInDir(), Strings{"KORLDR_INFOA_261208_101500.TXT"}) << "not made by the wizard: never deleted";
}

// Started at the power-cycling page there is no welcome page; "Hit Back to try again" must still
// lead somewhere. The welcome page object stands in for the power-cycling page here.
TEST_F(UploadPageTest, WithoutTheWelcomePageBackGoesToThePowerCyclingPage) {
    open({}, true, 3, IDD_CONNECT2);
    holdPort();
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    releasePort();
    ASSERT_TRUE(pumpUntil([&] { return finished(); }));
    ASSERT_TRUE(driver.click(ID_WIZBACK));
    EXPECT_EQ(wizard.GetActivePage(), &welcome);
}

}  // namespace
}  // namespace uploadtest
