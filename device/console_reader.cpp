#include "device/console_reader.h"

#include "bsl/bsl.h"
#include "platform/os/clock.h"
#include "platform/ui/model.h"

namespace {
constexpr uint32_t ANSWER_TIMEOUT_MS = 300;
constexpr uint32_t ANSWER_FACTOR = 4;
constexpr uint32_t CONSOLE_BAUD = 115200;
constexpr uint32_t STOP_POLL_MS = 10;
}  // namespace

void CConsoleMonitor::StartConsoleReader() {
    StopConsoleReader();  // a reader left running would never be stopped again
    m_hStopEvent = platform::createManualResetEvent(false);
    if (!m_hStopEvent) return;
    // Our thread objects never delete themselves, so the body need not clear an auto-delete flag.
    std::unique_ptr<platform::Thread> thread = platform::createSuspendedThread([this] { return ConsoleReaderThread(this); });
    // A thread that cannot be resumed would answer STILL_ACTIVE for ever and hang the stop.
    if (!thread || !thread->resume()) {
        m_hStopEvent.reset();
        return;
    }
    m_pReaderThread = std::move(thread);
}

void CConsoleMonitor::StopConsoleReader() {
    if (!m_pReaderThread) return;
    m_hStopEvent->set();
    do {
        platform::sleepMs(STOP_POLL_MS);
    } while (m_pReaderThread->exitCode() == platform::THREAD_STILL_ACTIVE);
    m_hStopEvent.reset();
    m_pReaderThread.reset();
}

UINT ConsoleReaderThread(CConsoleMonitor* pPage) {
    if (openSerialPort(pPage->m_strPortPath.c_str(), ANSWER_TIMEOUT_MS, ANSWER_FACTOR) != BSL_OK) return 0;
    if (setBaudRate(CONSOLE_BAUD) != BSL_OK) {
        closeSerialPort();  // the failed change has closed the port already
        return 0;
    }
    ReadConsoleUntilStopped(pPage->m_wndOwner.GetSafeHwnd(), *pPage->m_hStopEvent);
    closeSerialPort();
    return 0;
}

void ReadConsoleUntilStopped(HWND window, platform::Event& stop) {
    if (stop.isSet()) return;
    do {
        uint32_t queued = waitForInput(1, 1);
        if (queued >= 1) {
            for (uint32_t i = 0; i < queued; ++i) {
                // The read's result is not examined; a failed read posts the zero it leaves,
                // which the console box drops like any NUL.
                uint8_t byte = 0;
                readSerialByte(byte);
                ui::postMessage(window, WM_CONSOLE_CHAR, WPARAM(byte), 0);
            }
            platform::sleepMs(1);
        }
    } while (!stop.isSet());
}
