// Posted-message queues, sending across threads, the GUI thread and the pump.
#include <chrono>
#include <future>

#include "platform/os/clock.h"
#include "platform/ui/backend.h"
#include "platform/ui/model_internal.h"

namespace ui {

namespace detail {

State& state() {
    static State s;
    return s;
}

std::shared_ptr<Queue>& threadQueue() {
    thread_local std::shared_ptr<Queue> queue = std::make_shared<Queue>();
    return queue;
}

void discardItem(const Item& item) {
    if (item.task) {
        item.task();  // a waiting thread must not hang
        return;
    }
    DiscardHandler handler = nullptr;
    {
        std::lock_guard lock(state().mutex);
        auto it = state().discard.find(item.message);
        if (it != state().discard.end()) handler = it->second;
    }
    if (handler) handler(item.message, item.wParam, item.lParam);
}

namespace {
// Only the GUI thread writes these; workers read them under boxMutex().
int g_guiDepth = 0;
unsigned g_spells = 0;
}  // namespace

GuiBusy::GuiBusy() : counted_(onGuiThread()) {
    if (!counted_) return;
    std::lock_guard lock(boxMutex());
    if (g_guiDepth++ == 0) {
        ++g_spells;
        boxChanged().notify_all();
    }
}

GuiBusy::~GuiBusy() {
    if (!counted_) return;
    std::lock_guard lock(boxMutex());
    --g_guiDepth;
}

unsigned GuiBusy::spell() { return g_guiDepth > 0 ? g_spells : 0; }

std::mutex& boxMutex() {
    static std::mutex m;
    return m;
}

std::condition_variable& boxChanged() {
    static std::condition_variable cv;
    return cv;
}

}  // namespace detail

using namespace detail;

namespace {

bool popItem(Item& out) {
    std::shared_ptr<Queue> queue = threadQueue();
    std::lock_guard lock(queue->mutex);
    if (queue->items.empty()) return false;
    out = std::move(queue->items.front());
    queue->items.pop_front();
    return true;
}

}  // namespace

LRESULT sendMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!onGuiThread()) {
        // As Win32 does across threads: the handler runs on the window's thread, the sender waits.
        bool known;
        {
            std::lock_guard lock(state().mutex);
            known = state().guiQueue != nullptr;
        }
        if (known) {
            LRESULT result = 0;
            runOnGuiThread([&] { result = sendMessage(handle, message, wParam, lParam); });
            return result;
        }
    }
    Window* w = window(handle);
    if (!w) return 0;
    GuiBusy busy;
    if (w->object) return w->object->windowProc(message, wParam, lParam);
    return defaultWindowProc(handle, message, wParam, lParam);
}

BOOL postMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<Queue> queue;
    bool isGui;
    {
        std::lock_guard lock(state().mutex);
        auto it = state().windows.find(reinterpret_cast<uintptr_t>(handle));
        if (it == state().windows.end()) return FALSE;
        queue = it->second.queue;
        isGui = queue == state().guiQueue;
    }
    {
        std::lock_guard lock(queue->mutex);
        queue->items.push_back(Item{handle, message, wParam, lParam, {}});
    }
    if (isGui) wakeGuiThread();
    return TRUE;
}

void setDiscardHandler(UINT message, DiscardHandler handler) {
    std::lock_guard lock(state().mutex);
    state().discard[message] = handler;
}

void setGuiThread() {
    std::lock_guard lock(state().mutex);
    state().guiQueue = threadQueue();
    state().guiThread = std::this_thread::get_id();
}

bool onGuiThread() {
    std::lock_guard lock(state().mutex);
    return state().guiThread == std::this_thread::get_id();
}

void runOnGuiThread(const std::function<void()>& task) {
    std::shared_ptr<Queue> queue = guiQueueIfOther();
    if (!queue) {
        task();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    postTask(queue, [task, done] {
        {
            GuiBusy busy;
            task();
        }
        done->set_value();
    });
    finished.wait();
}

namespace detail {

void postTask(const std::shared_ptr<Queue>& queue, std::function<void()> task) {
    {
        std::lock_guard lock(queue->mutex);
        queue->items.push_back(Item{nullptr, 0, 0, 0, std::move(task)});
    }
    wakeGuiThread();
}

std::shared_ptr<Queue> guiQueueIfOther() {
    std::lock_guard lock(state().mutex);
    if (state().guiThread == std::this_thread::get_id()) return nullptr;
    return state().guiQueue;
}

}  // namespace detail

int pumpMessages(int budgetMs) {
    int handled = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(budgetMs);
    // A handler that keeps posting to itself must not hang the caller.
    for (int guard = 0; guard < 1000000; ++guard) {
        if (budgetMs >= 0 && handled > 0 && std::chrono::steady_clock::now() >= until) break;
        Item item;
        if (popItem(item)) {
            ++handled;
            if (item.task) {
                item.task();
            } else if (window(item.handle)) {
                sendMessage(item.handle, item.message, item.wParam, item.lParam);
            } else {
                discardItem(item);
            }
            continue;
        }
        if (!fireDueTimer()) break;
        ++handled;
    }
    return handled;
}

bool hasPendingWork() {
    {
        std::shared_ptr<Queue> queue = threadQueue();
        std::lock_guard lock(queue->mutex);
        if (!queue->items.empty()) return true;
    }
    return nextTimerDueUs() <= platform::activeClock().nowUs();
}

void discardAllPending() {
    Item item;
    while (popItem(item)) discardItem(item);
    state().timers.clear();
}

}  // namespace ui
