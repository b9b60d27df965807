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
    bool fromGuiThread = true;  // asked for on the GUI thread (else by a worker, which waits)
    HWND owner = nullptr;       // disabled by the toolkit while the box is up; may be null
    // The toolkit disabled the owner for this box (on the GUI thread): a native box enables it
    // again before it goes, so activation returns to it and not to another program's window.
    bool ownerDisabledForIt = false;
};

struct FileDialogRequest {
    bool open = true;
    std::string defaultExt;  // without a leading dot
    std::string fileName;
    std::string filter;  // "Name|*.ext|...||" as MFC takes it
    DWORD flags = 0;     // OFN_ flags with Win32's values
    std::string result;  // filled on IDOK
    std::string title;       // empty: the backend's own
    std::string initialDir;  // empty: the backend's choice
    HWND owner = nullptr;    // null: no owner
    bool fromGuiThread = true;
    bool ownerDisabledForIt = false;  // as for message boxes
};

// Threads. The model and every call below belong to the GUI thread, except wake(), and except
// messageBox and fileDialog asked for by a worker: the toolkit hands those to the GUI thread while
// it waits for input, and calls them on the worker's own thread while the GUI thread is busy in a
// handler (which may be waiting for that very worker). Such a call must not wait for the GUI
// thread. While a box or dialog runs its own loop on the GUI thread, the backend keeps calling
// ui::pumpMessages() there, so posted messages still reach their windows.
class Backend {
public:
    virtual ~Backend() = default;
    virtual void windowCreated(HWND) {}
    virtual void windowDestroyed(HWND) {}
    // `what` holds change:: bits (model.h).
    virtual void windowChanged(HWND, unsigned what) {}
    // Returns the button pressed (IDOK, IDCANCEL, IDYES, ...).
    virtual int messageBox(const MessageBoxRequest& request) = 0;
    // True with request.result set when the operator chose a file.
    virtual bool fileDialog(FileDialogRequest& request) = 0;
    virtual void beep(UINT type) = 0;
    // Called by a modal loop that found nothing to do: wait for input, time or a wake.
    // Return false when no input can ever come; the loop then ends the dialog with -1.
    virtual bool waitForInput(HWND modalDialog) = 0;
    // Called by a modal loop between spells of the toolkit's own work: take the native input
    // that is there (and answer what other threads sent), without waiting.
    virtual void pollInput(HWND modalDialog) {}
    // A box or file dialog that someone else answered (a simulated operator): backends that keep
    // a record of the session show it with its answer.
    virtual void messageBoxAnswered(const MessageBoxRequest&, int answer) {}
    virtual void fileDialogAnswered(const FileDialogRequest&, bool chosen) {}
    // Any thread: something was posted to the GUI thread (a message, a task, a box). Return at
    // once; the GUI thread's wait ends and it pumps. Never calls back into the toolkit.
    virtual void wake() {}
};

// How long a modal loop pumps the toolkit's queue before it lets the backend take native input:
// well under the 100 ms in which a window should answer the system.
constexpr int PUMP_SPELL_MS = 20;

// Not owned; null restores the built-in one, which answers every box with its first button,
// cancels every file dialog and ends any modal loop that waits.
void setBackend(Backend* backend);
Backend& backend();
// Any thread: wakes the GUI thread's wait through the backend.
void wakeGuiThread();

// What AfxMessageBox and CFileDialog use: any thread; the caller waits for the answer. The
// owner, if any, is disabled while the box or dialog is up and enabled again after, unless it
// was disabled before.
int showMessageBox(MessageBoxRequest request);
bool showFileDialog(FileDialogRequest& request);

}  // namespace ui
