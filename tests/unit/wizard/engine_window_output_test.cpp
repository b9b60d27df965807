#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bsl/output.h"
#include "platform/os/thread.h"
#include "platform/ui/headless.h"
#include "upload/engine_window_output.h"

namespace {

// Receives the engine's messages as the upload page will: copies, then frees owned buffers.
class Receiver : public CWnd {
public:
    Receiver() {
        SubclassWindow(ui::HeadlessDriver::createBareWindow());
    }
    ~Receiver() override { DestroyWindow(); }

    std::vector<std::string> texts;
    std::vector<std::pair<uint32_t, uint32_t>> progress;

    LRESULT OnEngineText(WPARAM owned, LPARAM text) {
        texts.emplace_back(reinterpret_cast<const char*>(text));
        if (owned) freeEngineText(reinterpret_cast<char*>(text));
        return 0;
    }
    LRESULT OnEngineProgress(WPARAM consumed, LPARAM total) {
        progress.emplace_back(uint32_t(consumed), uint32_t(total));
        return 0;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Receiver, CWnd)
ON_MESSAGE(WM_ENGINE_TEXT, &Receiver::OnEngineText)
ON_MESSAGE(WM_ENGINE_PROGRESS, &Receiver::OnEngineProgress)
END_MESSAGE_MAP()

class EngineWindowOutputTest : public ::testing::Test {
protected:
    void TearDown() override { setOutputTarget(nullptr); }
    ui::HeadlessDriver driver;
};

TEST_F(EngineWindowOutputTest, WorkerTextsArriveInOrderAsOwnedBuffers) {
    Receiver page;
    setEngineOutputWindow(page.m_hWnd);
    constexpr int kLines = 300;
    auto worker = platform::createSuspendedThread([] {
        postOutput("BSL version: %X.%02X", 1, 0x61);
        postOutput(" - Family member: %02X%02X", 0xF1, 0x49);
        postOutput(" - Process: %02X%02X\n", 0, 0);
        for (int i = 0; i < kLines; ++i) {
            postProgress(uint32_t(i * 10), uint32_t(kLines * 10));
            postOutput("line %i\n", i);
        }
        return 0u;
    });
    ASSERT_TRUE(worker);
    ASSERT_TRUE(worker->resume());
    ASSERT_TRUE(driver.pumpUntil([&] { return worker->exitCode() != platform::THREAD_STILL_ACTIVE; }));
    driver.pump();

    ASSERT_EQ(page.texts.size(), size_t(3 + kLines));
    EXPECT_EQ(page.texts[0], "BSL version: 1.61");
    EXPECT_EQ(page.texts[1], " - Family member: F149");
    EXPECT_EQ(page.texts[2], " - Process: 0000\n");
    for (int i = 0; i < kLines; ++i) EXPECT_EQ(page.texts[size_t(3 + i)], "line " + std::to_string(i) + "\n");
    ASSERT_EQ(page.progress.size(), size_t(kLines));
    EXPECT_EQ(page.progress.back(), std::make_pair(uint32_t((kLines - 1) * 10), uint32_t(kLines * 10)));
}

TEST_F(EngineWindowOutputTest, TextsWithoutAReceiverAreFreedNotLost) {
    // Run under the sanitizer preset: a leak or a second free of any buffer fails there.
    setEngineOutputWindow(nullptr);
    postOutput("nobody listens\n");

    HWND gone;
    {
        Receiver page;
        gone = page.m_hWnd;
        setEngineOutputWindow(gone);
        postOutput("queued, never handled %d\n", 1);
        postOutput("queued, never handled %d\n", 2);
        postProgress(1, 2);
    }
    driver.pump();  // the window is gone: its queued texts are released
    postOutput("after the window went away\n");
    EXPECT_EQ(engineWindowOutput().window(), gone);
}

TEST_F(EngineWindowOutputTest, OverlongTextIsCutToTheBuffer) {
    Receiver page;
    setEngineOutputWindow(page.m_hWnd);
    std::string path(2000, 'p');
    postOutput("Read file %s\n", path.c_str());
    driver.pump();
    ASSERT_EQ(page.texts.size(), 1u);
    EXPECT_EQ(page.texts[0].size(), ENGINE_TEXT_SIZE - 1);
}

}  // namespace
