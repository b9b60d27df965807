#pragma once
// Message boxes and the file dialog that the upload worker asks for, shown on the GUI thread while
// the worker waits. The requests reach the page as a posted message, and the page also serves them
// while it waits for the worker to end, so neither side can wait on the other for ever.
#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/ui/types.h"

// Private to the upload page: a worker's request waits in the page's GuiCalls.
constexpr UINT WM_UPLOAD_GUI_CALL = WM_USER + 1007;

class GuiCalls {
public:
    // The window whose WM_UPLOAD_GUI_CALL handler calls serve(); null: tasks run where asked.
    void setWindow(HWND window);
    // Runs `task` on the GUI thread and returns when it has run. On the GUI thread itself, or
    // when the window is gone, it runs at once.
    void run(const std::function<void()>& task);
    // GUI thread: runs the waiting request, if any; true when one ran.
    bool serve();

private:
    std::mutex mutex_;
    std::condition_variable served_;
    HWND window_ = nullptr;
    const std::function<void()>* pending_ = nullptr;
    bool done_ = false;
};

// The application's standard box (text, OK, exclamation icon), through `gui` when given.
void TellOperator(GuiCalls* gui, const char* text);
