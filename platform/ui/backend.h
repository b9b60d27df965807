#pragma once
// What a backend does: draw the model as it changes, show message boxes and file dialogs, beep,
// and feed input while a modal loop waits. The headless one draws nothing.
#include <string>

#include "platform/ui/types.h"

namespace ui {

struct MessageBoxRequest {
    std::string text;
    std::string caption;
    UINT type = MB_OK;  // buttons and icon, icon already defaulted
    bool fromGuiThread = true;
};

struct FileDialogRequest {
    bool open = true;
    std::string defaultExt;
    std::string fileName;
    std::string filter;  // "Name|*.ext|...||" as MFC takes it
    DWORD flags = 0;
    std::string result;  // filled on IDOK
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual void windowCreated(HWND) {}
    virtual void windowDestroyed(HWND) {}
    // `what` holds change:: bits (model.h).
    virtual void windowChanged(HWND, unsigned what) {}
    // GUI thread; returns the button pressed (IDOK, IDCANCEL, IDYES, ...).
    virtual int messageBox(const MessageBoxRequest& request) = 0;
    // GUI thread; true with request.result set when the operator chose a file.
    virtual bool fileDialog(FileDialogRequest& request) = 0;
    virtual void beep(UINT type) = 0;
    // Called by a modal loop that found nothing to do: wait for input, time or posted messages.
    // Return false when no input can ever come; the loop then ends the dialog with -1.
    virtual bool waitForInput(HWND modalDialog) = 0;
    // A box or file dialog that someone else answered (a simulated operator): backends that keep
    // a record of the session show it with its answer.
    virtual void messageBoxAnswered(const MessageBoxRequest&, int answer) {}
    virtual void fileDialogAnswered(const FileDialogRequest&, bool chosen) {}
};

// Not owned; null restores the built-in one, which answers every box with its first button,
// cancels every file dialog and ends any modal loop that waits.
void setBackend(Backend* backend);
Backend& backend();

}  // namespace ui
