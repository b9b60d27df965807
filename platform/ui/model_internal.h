#pragma once
// State the model's files share: the window table, the posted-message queues and the timers.
// Only platform/ui's own sources include this.
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/ui/model.h"

namespace ui::detail {

struct Item {
    HWND handle = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::function<void()> task;
};

struct Queue {
    std::mutex mutex;
    std::deque<Item> items;
};

struct Entry {
    std::unique_ptr<Window> window;
    std::shared_ptr<Queue> queue;  // of the thread that created the window
};

struct Timer {
    HWND handle;
    UINT_PTR id;
    uint64_t periodUs;
    uint64_t dueUs;
};

struct State {
    std::mutex mutex;  // guards windows, topLevel, nextHandle, guiQueue, guiThread, discard
    std::unordered_map<uintptr_t, Entry> windows;
    std::vector<HWND> topLevel;
    uintptr_t nextHandle = 0x100;
    std::shared_ptr<Queue> guiQueue;
    std::thread::id guiThread;
    std::map<UINT, DiscardHandler> discard;
    std::vector<Timer> timers;  // GUI thread only
};

State& state();
// The calling thread's queue of posted messages.
std::shared_ptr<Queue>& threadQueue();
// Runs a task that will never be dispatched (so its waiter is released), or hands a message
// to its discard handler.
void discardItem(const Item& item);
void dropTimersOf(HWND handle);

// The GUI thread is busy while it runs a handler or a task; between them, and while it waits for
// input, it is free to show a worker's box. Workers waiting to have a box shown watch this.
class GuiBusy {
public:
    // Counts only on the GUI thread.
    GuiBusy();
    ~GuiBusy();
    GuiBusy(const GuiBusy&) = delete;
    GuiBusy& operator=(const GuiBusy&) = delete;
    // The current busy spell's number, 0 while free; call with boxMutex() held.
    static unsigned spell();

private:
    bool counted_;
};
// Queues a task (which runs unless the queue is dropped: then it runs at once) and wakes.
void postTask(const std::shared_ptr<Queue>& queue, std::function<void()> task);
// The GUI thread's queue when a GUI thread is known and it is not the calling one, else null.
std::shared_ptr<Queue> guiQueueIfOther();
// Box requests wait on this; it is notified whenever the GUI thread becomes busy.
std::mutex& boxMutex();
std::condition_variable& boxChanged();
// Sends WM_TIMER for one due timer; false when none is due.
bool fireDueTimer();

}  // namespace ui::detail
