// The backend in use, and the built-in one for programs that install none.
#include "platform/ui/backend.h"

#include <atomic>
#include <mutex>

namespace ui {
namespace {

class NullBackend final : public Backend {
public:
    int messageBox(const MessageBoxRequest& r) override {
        switch (r.type & MB_TYPEMASK) {
        case MB_YESNO:
        case MB_YESNOCANCEL: return IDYES;
        case MB_ABORTRETRYIGNORE: return IDABORT;
        case MB_RETRYCANCEL: return IDRETRY;
        default: return IDOK;
        }
    }
    bool fileDialog(FileDialogRequest&) override { return false; }
    void beep(UINT) override {}
    bool waitForInput(HWND) override { return false; }
};

NullBackend g_nullBackend;
std::atomic<Backend*> g_backend{nullptr};
// A worker's wake must not reach a backend that is being replaced.
std::mutex g_wakeMutex;

}  // namespace

void setBackend(Backend* b) {
    std::lock_guard lock(g_wakeMutex);
    g_backend = b;
}

Backend& backend() {
    Backend* b = g_backend.load();
    return b ? *b : g_nullBackend;
}

void wakeGuiThread() {
    std::lock_guard lock(g_wakeMutex);
    backend().wake();
}

}  // namespace ui
