#include "upload/gui_calls.h"

#include "platform/ui/afxwin.h"
#include "platform/ui/model.h"

void GuiCalls::setWindow(HWND window) {
    std::lock_guard lock(mutex_);
    window_ = window;
}

void GuiCalls::run(const std::function<void()>& task) {
    if (ui::onGuiThread()) return task();
    std::unique_lock lock(mutex_);
    HWND window = window_;
    if (!window) {
        lock.unlock();
        return task();
    }
    pending_ = &task;
    done_ = false;
    lock.unlock();
    bool posted = ui::postMessage(window, WM_UPLOAD_GUI_CALL, 0, 0);
    lock.lock();
    if (!posted && pending_ == &task) {
        // Nobody will serve it: the toolkit's own way is all that is left.
        pending_ = nullptr;
        lock.unlock();
        return task();
    }
    served_.wait(lock, [this] { return done_; });
}

bool GuiCalls::serve() {
    std::unique_lock lock(mutex_);
    const std::function<void()>* task = pending_;
    if (!task) return false;
    pending_ = nullptr;
    lock.unlock();
    (*task)();
    lock.lock();
    done_ = true;
    served_.notify_all();
    return true;
}

void TellOperator(GuiCalls* gui, const char* text) {
    auto show = [text] { AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION); };
    if (gui) gui->run(show);
    else show();
}
