#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
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

namespace {

constexpr int kBoxDialog = 5200, kGo = 300;

void registerBoxDialog() {
    ui::registerDialogTemplate(ui::DialogTemplate{
        kBoxDialog, "Owner", 100, 50, WS_POPUP | WS_CAPTION, "MS Sans Serif", 8,
        {{kGo, ui::Kind::PushButton, "Go", 5, 5, 40, 14, WS_CHILD | WS_VISIBLE, 0}}});
}

// A modal loop whose wait blocks until the toolkit wakes it, as a real backend's does.
struct BlockingBackend : ui::Backend {
    std::mutex m;
    std::condition_variable cv;
    bool woken = false;
    int waits = 0, timeouts = 0;
    BlockingBackend() { ui::setBackend(this); }
    ~BlockingBackend() override { ui::setBackend(nullptr); }
    void wake() override {
        std::lock_guard lock(m);
        woken = true;
        cv.notify_all();
    }
    bool waitForInput(HWND) override {
        std::unique_lock lock(m);
        ++waits;
        if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return woken; })) ++timeouts;
        woken = false;
        return timeouts == 0;
    }
    int messageBox(const ui::MessageBoxRequest&) override { return IDOK; }
    bool fileDialog(ui::FileDialogRequest&) override { return false; }
    void beep(UINT) override {}
};

class EndsOnTest : public CDialog {
public:
    EndsOnTest() : CDialog(kBoxDialog) {}
    std::atomic<HWND> handle{nullptr};  // for the worker, once the dialog exists
    BOOL OnInitDialog() override {
        handle = m_hWnd;
        return CDialog::OnInitDialog();
    }
    LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
        if (m == WM_TEST) EndDialog(int(w));
        return CDialog::WindowProc(m, w, l);
    }
};

TEST(WakeTest, AModalLoopWaitingForInputWakesForAWorkersPostAndTask) {
    ui::HeadlessDriver driver;  // GUI thread, clock
    registerBoxDialog();
    BlockingBackend backend;
    EndsOnTest dlg;
    std::atomic<bool> ran{false};
    std::thread worker([&] {
        while (!dlg.handle) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ui::runOnGuiThread([&] { ran = true; });
        ui::postMessage(dlg.handle, WM_TEST, 7, 0);
    });
    EXPECT_EQ(dlg.DoModal(), 7);
    worker.join();
    EXPECT_TRUE(ran);
    EXPECT_EQ(backend.timeouts, 0);
    EXPECT_GE(backend.waits, 1);
}

TEST(WakeTest, PostsToTheGuiThreadWakeTheDriver) {
    ui::HeadlessDriver driver;
    Sink sink;
    driver.takeWakes();
    std::thread worker([&] { sink.PostMessage(WM_TEST, 1, 0); });
    EXPECT_TRUE(driver.waitForWake(5000));
    worker.join();
    EXPECT_EQ(driver.takeWakes(), 1);
    sink.SendMessage(WM_TEST, 2, 0);  // a send on the GUI thread wakes nobody
    EXPECT_EQ(driver.takeWakes(), 0);
}

class BoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerBoxDialog();
        ASSERT_TRUE(driver.open(dlg));
        app.m_pMainWnd = &dlg;
    }
    ui::HeadlessDriver driver;
    CWinApp app{"KoralLoader"};
    CDialog dlg{kBoxDialog};
};

TEST_F(BoxTest, BoxIsOwnedByTheMainWindowWhichIsDisabledWhileItIsUp) {
    Sink sink;
    bool clickedBehind = true;
    driver.whileNextBoxShown([&](ui::HeadlessDriver& d) {
        EXPECT_FALSE(dlg.IsWindowEnabled());
        clickedBehind = d.click(kGo);
        sink.PostMessage(WM_TEST, 5, 0);  // what is posted meanwhile still arrives
        d.pump();
        EXPECT_EQ(sink.got.size(), 1u);
    });
    EXPECT_EQ(AfxMessageBox("Error opening file"), IDOK);
    EXPECT_FALSE(clickedBehind);
    EXPECT_TRUE(dlg.IsWindowEnabled());
    ASSERT_EQ(driver.messageBoxes().size(), 1u);
    const ui::ShownMessageBox& box = driver.messageBoxes()[0];
    EXPECT_EQ(box.owner, dlg.m_hWnd);
    EXPECT_TRUE(box.ownerDisabled);
    EXPECT_TRUE(box.ownerDisabledForIt);  // a native box gives the owner back before it goes
    EXPECT_EQ(box.type, MB_OK | MB_ICONEXCLAMATION);

    dlg.EnableWindow(FALSE);  // an owner disabled before stays disabled after
    AfxMessageBox("again");
    EXPECT_FALSE(dlg.IsWindowEnabled());
    EXPECT_FALSE(driver.messageBoxes()[1].ownerDisabledForIt);
}

TEST_F(BoxTest, WorkersBoxIsShownByTheGuiThreadWhenItIsFree) {
    std::atomic<int> answer{0};
    driver.queueMessageBoxAnswer(IDOK);
    std::thread worker([&] { answer = AfxMessageBox("Could not open device"); });
    EXPECT_TRUE(driver.pumpUntil([&] { return answer != 0; }));
    worker.join();
    ASSERT_EQ(driver.messageBoxes().size(), 1u);
    EXPECT_TRUE(driver.messageBoxes()[0].onGuiThread);
    EXPECT_TRUE(driver.messageBoxes()[0].ownerDisabled);
    EXPECT_TRUE(dlg.IsWindowEnabled());
}

// The page's stop loop: a handler that polls until its worker has ended, pumping nothing; or,
// with `waits` off, a handler busy for a moment only, as one adding a log line.
struct Stopper : CWnd {
    bool waits = true;
    std::atomic<bool> workerDone{false};
    std::atomic<int> answer{0};
    std::thread worker;
    Stopper() { SubclassWindow(ui::HeadlessDriver::createBareWindow()); }
    ~Stopper() override { DestroyWindow(); }
    LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
        if (m != WM_TEST) return CWnd::WindowProc(m, w, l);
        worker = std::thread([this] {
            answer = AfxMessageBox("Timeout waiting for device after reset");
            workerDone = true;
        });
        if (!waits) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return 0;
        }
        while (!workerDone) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        worker.join();
        return 0;
    }
};

TEST_F(BoxTest, WorkersBoxWhileTheGuiThreadWaitsForThatWorkerIsShownByTheWorker) {
    driver.queueMessageBoxAnswer(IDCANCEL);
    Stopper stopper;
    stopper.SendMessage(WM_TEST);  // returns only because the box did not need this thread
    EXPECT_EQ(stopper.answer, IDCANCEL);
    ASSERT_EQ(driver.messageBoxes().size(), 1u);
    EXPECT_FALSE(driver.messageBoxes()[0].onGuiThread);
    EXPECT_FALSE(driver.messageBoxes()[0].fromGuiThread);
    EXPECT_EQ(driver.messageBoxes()[0].owner, dlg.m_hWnd);
    EXPECT_FALSE(driver.messageBoxes()[0].ownerDisabledForIt);  // the worker never touches the owner
    driver.pump();  // the owner's switching, queued for the GUI thread, leaves it as it was
    EXPECT_TRUE(dlg.IsWindowEnabled());
}

TEST_F(BoxTest, WorkersBoxAskedDuringAShortHandlerStillWaitsForTheGuiThread) {
    driver.queueMessageBoxAnswer(IDOK);
    Stopper stopper;
    stopper.waits = false;
    stopper.SendMessage(WM_TEST);
    EXPECT_TRUE(driver.pumpUntil([&] { return stopper.workerDone.load(); }));
    stopper.worker.join();
    ASSERT_EQ(driver.messageBoxes().size(), 1u);
    EXPECT_TRUE(driver.messageBoxes()[0].onGuiThread);
}

}  // namespace
