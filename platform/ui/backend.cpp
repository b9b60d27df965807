// The backend in use, and the built-in one for programs that install none.
#include "platform/ui/backend.h"

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
Backend* g_backend = nullptr;

}  // namespace

void setBackend(Backend* b) { g_backend = b; }
Backend& backend() { return g_backend ? *g_backend : g_nullBackend; }

}  // namespace ui
