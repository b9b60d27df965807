#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/ui/headless.h"

namespace {

constexpr UINT WM_TEST = WM_USER + 50;
constexpr UINT WM_OWNED = WM_USER + 51;

// A window of its own that records what reaches it.
struct Sink : CWnd {
    std::vector<std::pair<WPARAM, LPARAM>> got;
    std::vector<std::thread::id> threads;
    Sink() {
        SubclassWindow(ui::HeadlessDriver::createBareWindow());
    }
    ~Sink() override { DestroyWindow(); }
    LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
        if (m == WM_TEST) {
            got.emplace_back(w, l);
            threads.push_back(std::this_thread::get_id());
            return 42;
        }
        return CWnd::WindowProc(m, w, l);
    }
};

std::atomic<int> g_discarded{0};
void countDiscard(UINT, WPARAM w, LPARAM) { g_discarded += int(w); }

TEST(MessagesTest, SendRunsAtOncePostWaitsForPump) {
    ui::HeadlessDriver driver;
    Sink sink;
    EXPECT_EQ(sink.SendMessage(WM_TEST, 1, 2), 42);
    EXPECT_EQ(sink.got.size(), 1u);
    EXPECT_TRUE(sink.PostMessage(WM_TEST, 3, 4));
    EXPECT_EQ(sink.got.size(), 1u);
    driver.pump();
    ASSERT_EQ(sink.got.size(), 2u);
    EXPECT_EQ(sink.got[1], std::make_pair(WPARAM(3), LPARAM(4)));
}

TEST(MessagesTest, SendFromAnotherThreadRunsOnTheGuiThread) {
    ui::HeadlessDriver driver;
    Sink sink;
    std::atomic<LRESULT> result{0};
    std::thread worker([&] { result = ui::sendMessage(sink.m_hWnd, WM_TEST, 9, 9); });
    EXPECT_TRUE(driver.pumpUntil([&] { return result != 0; }));
    worker.join();
    EXPECT_EQ(result, 42);
    ASSERT_EQ(sink.threads.size(), 1u);
    EXPECT_EQ(sink.threads[0], std::this_thread::get_id());
}

TEST(MessagesTest, PostsFromManyThreadsKeepEachThreadsOrder) {
    ui::HeadlessDriver driver;
    Sink sink;
    constexpr int kThreads = 4, kEach = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) ui::postMessage(sink.m_hWnd, WM_TEST, WPARAM(t), LPARAM(i));
        });
    }
    // Pumping while they post: nothing may be lost or reordered.
    driver.pumpUntil([&] { return sink.got.size() == size_t(kThreads * kEach); });
    for (auto& th : threads) th.join();
    driver.pump();
    ASSERT_EQ(sink.got.size(), size_t(kThreads * kEach));
    std::vector<LPARAM> next(kThreads, 0);
    for (auto [t, i] : sink.got) EXPECT_EQ(i, next[t]++);
}

TEST(MessagesTest, MessagesForAGoneWindowAreHandedToTheDiscardHandler) {
    ui::HeadlessDriver driver;
    ui::setDiscardHandler(WM_OWNED, &countDiscard);
    g_discarded = 0;
    HWND gone;
    {
        Sink sink;
        gone = sink.m_hWnd;
        ui::postMessage(gone, WM_OWNED, 5, 0);
    }
    EXPECT_FALSE(ui::postMessage(gone, WM_OWNED, 7, 0));  // refused at once: the poster keeps it
    driver.pump();
    EXPECT_EQ(g_discarded, 5);

    Sink later;
    ui::postMessage(later.m_hWnd, WM_OWNED, 11, 0);
    ui::discardAllPending();
    EXPECT_EQ(g_discarded, 16);
}

TEST(MessagesTest, MessageBoxFromWorkerBlocksUntilGuiThreadAnswers) {
    ui::HeadlessDriver driver;
    CWinApp app("KoralLoader");
    driver.queueMessageBoxAnswer(IDCANCEL);
    std::atomic<int> answer{0};
    std::thread worker([&] { answer = AfxMessageBox("from worker", MB_OKCANCEL); });
    // Nothing answers while the GUI thread does not pump.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(answer, 0);
    EXPECT_TRUE(driver.pumpUntil([&] { return answer != 0; }));
    worker.join();
    EXPECT_EQ(answer, IDCANCEL);
    ASSERT_EQ(driver.messageBoxes().size(), 1u);
    EXPECT_FALSE(driver.messageBoxes()[0].fromGuiThread);
    EXPECT_EQ(driver.messageBoxes()[0].caption, "KoralLoader");
}

}  // namespace
