// The console reader against the simulated instrument, under the worker clock.
#include <gtest/gtest.h>

#include "bsl/bsl.h"
#include "device/console_reader.h"
#include "tests/support/instrument.h"
#include "tests/support/worker_clock.h"

namespace {

const std::string MODE_TEXT("PROGRAMMING MODE\0\xFF\r\n", 20);

struct ConsoleSink : CWnd {
    std::string bytes;
    int badParams = 0;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_CONSOLE_CHAR) {
            if (wParam > 0xFF || lParam != 0) ++badParams;
            bytes += char(wParam);
            return 0;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }
};

sim::InstrumentConfig instrumentConfig() {
    sim::InstrumentConfig c = koral_test::instrumentWithApplication();
    c.programmingModeText = MODE_TEXT;
    return c;
}

class ConsoleReader : public ::testing::Test {
protected:
    void SetUp() override {
        bslResetState();
        previousOpener_ = platform::setSerialOpener(sim::makeOpener(instrument));
        ASSERT_TRUE(sink.SubclassWindow(ui::HeadlessDriver::createBareWindow()));
        monitor.m_strPortPath = "\\\\.\\COM3";
        // The operator toggles the switch whenever the console is opened at 115200.
        instrument.runOperator({.plugDelayMs = 0});
    }
    void TearDown() override {
        monitor.StopConsoleReader();
        platform::setSerialOpener(previousOpener_);
        sink.DestroyWindow();
    }
    bool receive(const std::string& text) {
        return clock.pumpUntil(driver, [&] { return sink.bytes.size() >= text.size(); }) && sink.bytes == text;
    }
    bool threadEnded() {
        return clock.pumpUntil(driver, [&] { return monitor.m_pReaderThread->exitCode() != platform::THREAD_STILL_ACTIVE; });
    }

    ui::HeadlessDriver driver;
    koral_test::WorkerClock clock;
    sim::Instrument instrument{instrumentConfig()};
    ConsoleSink sink;
    CConsoleMonitor monitor{sink};
    platform::SerialOpener previousOpener_;
};

TEST_F(ConsoleReader, PostsEveryByteInOrderOneMessageEachZeroAndFFIncluded) {
    monitor.StartConsoleReader();
    ASSERT_NE(monitor.m_pReaderThread, nullptr);
    ASSERT_NE(monitor.m_hStopEvent, nullptr);
    EXPECT_TRUE(receive(MODE_TEXT)) << sink.bytes;
    EXPECT_EQ(sink.badParams, 0);
    EXPECT_EQ(instrument.deviceBaud(), 115200u);
    monitor.StopConsoleReader();
    EXPECT_EQ(monitor.m_pReaderThread, nullptr);
    EXPECT_EQ(monitor.m_hStopEvent, nullptr);
    EXPECT_FALSE(serialPortOpen()) << "the reader closes the port it opened";
}

TEST_F(ConsoleReader, StopsAtOnceWhenNothingEverArrived) {
    instrument.stopOperator();
    monitor.StartConsoleReader();
    ASSERT_TRUE(clock.pumpFor(driver, 50));
    monitor.StopConsoleReader();
    EXPECT_EQ(monitor.m_pReaderThread, nullptr);
    EXPECT_EQ(monitor.m_hStopEvent, nullptr);
    EXPECT_FALSE(serialPortOpen());
    EXPECT_TRUE(sink.bytes.empty());
}

TEST_F(ConsoleReader, UnopenablePortEndsTheThreadAndStopStillCleansUp) {
    monitor.m_strPortPath = "\\\\.\\COM-1";
    monitor.StartConsoleReader();
    ASSERT_NE(monitor.m_pReaderThread, nullptr);
    EXPECT_TRUE(threadEnded()) << "the thread ends by itself";
    EXPECT_EQ(monitor.m_pReaderThread->exitCode(), 0u);
    monitor.StopConsoleReader();
    EXPECT_EQ(monitor.m_pReaderThread, nullptr);
    EXPECT_EQ(monitor.m_hStopEvent, nullptr);
    ASSERT_TRUE(clock.pumpFor(driver, 50));
    EXPECT_TRUE(sink.bytes.empty());
}

TEST_F(ConsoleReader, StartingAgainOpensThePortAgainWithAFreshThread) {
    monitor.StartConsoleReader();
    ASSERT_TRUE(receive(MODE_TEXT));
    monitor.StopConsoleReader();
    sink.bytes.clear();
    monitor.StartConsoleReader();
    EXPECT_TRUE(receive(MODE_TEXT)) << "the second reader hears the second toggling";
}

}  // namespace
