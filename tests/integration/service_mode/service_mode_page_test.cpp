// The service-mode page in the wizard, its console fed by the simulated instrument through the
// reader thread, or by messages the test posts itself; under the worker clock.
#include <gtest/gtest.h>

#include "app/master_dlg.h"
#include "bsl/bsl.h"
#include "pages/service_mode_page.h"
#include "tests/support/instrument.h"
#include "tests/support/worker_clock.h"

using namespace std::string_literals;

namespace {

// Stand-ins for the neighbours: the connect page before, the power-cycling page after, the
// upload page last. They only need their template ids and their effect on Next.
class StandInPage : public CNewWizPage {
public:
    explicit StandInPage(UINT id) : CNewWizPage(id) {}
    void OnEnterPage() override { m_pWizard->EnableNext(FALSE); }
};

sim::InstrumentConfig instrumentConfig() {
    sim::InstrumentConfig c = koral_test::instrumentWithApplication();
    c.comPort = 5;
    return c;
}

class ServiceModePage : public ::testing::Test {
protected:
    void SetUp() override {
        bslResetState();
        previousOpener_ = platform::setSerialOpener(sim::makeOpener(instrument));
        wizard.AddPage(&connect, 141);
        wizard.AddPage(&page, IDD_SERVICEMODE);
        wizard.AddPage(&powerCycling, 143);
        wizard.AddPage(&upload, 139);
    }
    void TearDown() override {
        if (driver.isOpen()) driver.pressEscape();
        platform::setSerialOpener(previousOpener_);
    }
    // Opens the wizard on the connect page and moves to the service-mode page with `port`.
    void enter(int port) {
        ASSERT_TRUE(driver.open(wizard));
        wizard.m_nComPort = port;  // what the connect page found
        wizard.EnableNext(TRUE);
        ASSERT_TRUE(driver.click(ID_WIZNEXT));
        ASSERT_EQ(wizard.GetActivePage(), &page);
    }
    // What the reader would post, one byte per message.
    void post(const std::string& bytes) {
        for (char c : bytes) ASSERT_TRUE(page.PostMessage(WM_CONSOLE_CHAR, WPARAM(uint8_t(c)), 0));
        driver.pump();
    }
    bool nextEnabled() { return driver.enabled(ID_WIZNEXT); }
    std::string console() { return driver.text(IDC_CONSOLE); }

    ui::HeadlessDriver driver;
    koral_test::WorkerClock clock;
    sim::Instrument instrument{instrumentConfig()};
    CMasterDlg wizard;
    StandInPage connect{141}, powerCycling{143}, upload{139};
    CServiceModePage page;
    platform::SerialOpener previousOpener_;
};

TEST_F(ServiceModePage, TheToggledInstrumentEnablesNextAndNextJumpsToTheUploadPage) {
    instrument.runOperator({.plugDelayMs = 0});  // toggles once the console is opened at 115200
    enter(5);
    EXPECT_EQ(page.m_strPortPath, "\\\\.\\COM5");
    EXPECT_FALSE(nextEnabled());
    ASSERT_TRUE(clock.pumpUntil(driver, [&] { return nextEnabled(); }));
    EXPECT_TRUE(page.m_bModeSeen);
    // The line end may come in a later read than the marker that enabled Next.
    ASSERT_TRUE(clock.pumpUntil(driver, [&] { return console().size() >= 18; }));
    EXPECT_EQ(console(), "PROGRAMMING MODE\r\n");
    ui::Window* box = driver.control(IDC_CONSOLE);
    EXPECT_EQ(box->firstVisibleLine, ui::editLineCount(box->text) - 1) << "the newest line is in view";

    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    EXPECT_EQ(wizard.GetActivePage(), &upload) << "the power-cycling page is passed over";
    EXPECT_EQ(page.m_pReaderThread, nullptr);
    EXPECT_EQ(page.m_hStopEvent, nullptr);
    EXPECT_FALSE(serialPortOpen());
}

TEST_F(ServiceModePage, MarkersAreFoundOverTheAccumulatedTextExactlyAsWritten) {
    enter(-1);  // nothing on the port: the test is the console
    post("\r\nprogramming mode\r\nPROGRAMMING mode\r\nBSL zantirkoral\r\n");
    EXPECT_FALSE(nextEnabled());
    post("A\0B"s);
    EXPECT_EQ(console().substr(console().size() - 2), "AB") << "a NUL leaves no trace";
    post("PROGRAMMING MOD");
    EXPECT_FALSE(nextEnabled());
    post("E");
    EXPECT_TRUE(nextEnabled()) << "found on its last byte";
    EXPECT_TRUE(page.m_bModeSeen);

    // The other marker, on a fresh visit.
    ASSERT_TRUE(driver.click(ID_WIZBACK));
    wizard.EnableNext(TRUE);
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    EXPECT_FALSE(nextEnabled());
    post("BSL ZantirKORAL");
    EXPECT_TRUE(nextEnabled());
}

TEST_F(ServiceModePage, TheBoxChoosesThePowerCyclingPageAndComingBackResetsThePage) {
    enter(-1);  // an unopenable port leaves the box as the way on
    ASSERT_TRUE(clock.pumpUntil(driver, [&] { return page.m_pReaderThread->exitCode() != platform::THREAD_STILL_ACTIVE; }));
    ASSERT_TRUE(driver.click(IDC_POWERCYCLING));
    EXPECT_TRUE(nextEnabled());
    ASSERT_TRUE(driver.click(IDC_POWERCYCLING));
    EXPECT_FALSE(nextEnabled()) << "ticked and cleared before any marker";
    ASSERT_TRUE(driver.click(IDC_POWERCYCLING));
    post("PROGRAMMING MODE");
    EXPECT_TRUE(page.m_bPowerCycling && page.m_bModeSeen);
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    EXPECT_EQ(wizard.GetActivePage(), &powerCycling);

    // Bytes the stopped reader left queued must not reach the page now shown.
    post("PROGRAMMING MODE");
    EXPECT_FALSE(nextEnabled());

    ASSERT_TRUE(driver.click(ID_WIZBACK));
    ASSERT_EQ(wizard.GetActivePage(), &page);
    EXPECT_EQ(console(), "");
    EXPECT_FALSE(driver.checked(IDC_POWERCYCLING));
    EXPECT_FALSE(page.m_bPowerCycling || page.m_bModeSeen);
    EXPECT_FALSE(nextEnabled());
    EXPECT_NE(page.m_pReaderThread, nullptr) << "a fresh reader";
}

TEST_F(ServiceModePage, ClearingTheBoxAfterAMarkerKeepsNextForTheUploadPage) {
    enter(-1);
    post("BSL ZantirKORAL\r\n");
    ASSERT_TRUE(driver.click(IDC_POWERCYCLING));
    ASSERT_TRUE(driver.click(IDC_POWERCYCLING));
    EXPECT_TRUE(nextEnabled());
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    EXPECT_EQ(wizard.GetActivePage(), &upload);
}

TEST_F(ServiceModePage, ALongTalkKeepsTheBoxBoundedAndTheMarkerSeen) {
    enter(-1);
    std::string line(99, '.');
    line += '\n';
    post("PROGRAMMING MODE\r\n");
    for (int i = 0; i < 60; ++i) post(line);
    EXPECT_LE(console().size(), CONSOLE_CAPACITY);
    EXPECT_EQ(console().find("PROGRAMMING MODE"), std::string::npos) << "trimmed away";
    post(".");
    EXPECT_TRUE(nextEnabled()) << "seen stays seen";
    EXPECT_EQ(console().back(), '.');
}

// A flood reaches the box in batches: a marker early in one is seen though the box keeps only
// the batch's end.
TEST_F(ServiceModePage, AMarkerInABatchLongerThanTheBoxIsSeen) {
    enter(-1);
    std::string talk = "BSL ZantirKORAL\n";
    for (int i = 0; i < 60; ++i) talk += std::string(99, '.') + '\n';
    post(talk);
    EXPECT_TRUE(nextEnabled());
    EXPECT_LE(console().size(), CONSOLE_CAPACITY);
    EXPECT_EQ(console().find("ZantirKORAL"), std::string::npos);
}

TEST(ConsoleText, TrimmingDropsWholeOldLinesButNeverAMarkerArrivingAtTheEnd) {
    CString full(CONSOLE_CAPACITY - 1, 'x');
    full += '\n';
    trimConsoleText(full);
    EXPECT_EQ(full.size(), CONSOLE_CAPACITY) << "within the capacity nothing goes";

    CString longLine(CONSOLE_CAPACITY, 'y');
    longLine += "\nPROGRAMMING MO";  // the last line break is too near the end to cut at
    trimConsoleText(longLine);
    EXPECT_EQ(longLine.size(), CONSOLE_KEEP);
    EXPECT_EQ(longLine.substr(longLine.size() - 14), "PROGRAMMING MO");

    CString lines;
    for (int i = 0; i < 50; ++i) lines += std::string(99, char('a' + i % 26)) + "\n";
    trimConsoleText(lines);
    EXPECT_GE(lines.size(), CONSOLE_KEEP - 100);
    EXPECT_LE(lines.size(), CONSOLE_KEEP);
    EXPECT_EQ(lines.size() % 100, 0u) << "whole lines only";
}

}  // namespace
