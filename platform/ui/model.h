#pragma once
// The retained model every backend draws: windows and controls with their state, the posted
// message queues, timers and dialog templates. Nothing here draws; backends read the model and
// feed input back through the same functions page code uses.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/types.h"

namespace ui {

// What the model knows of the object behind a window (CWnd implements it): the model hands it
// every message sent to the window and tells it when the window is gone.
class WindowObject {
public:
    virtual LRESULT windowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // The window no longer exists; called after WM_DESTROY, once the handle is forgotten.
    virtual void windowGone() = 0;

protected:
    ~WindowObject() = default;
};

enum class Kind { Dialog, Static, Frame, Picture, Icon, PushButton, CheckBox, Edit, Progress };

struct ControlTemplate {
    int id;
    Kind kind;
    const char* text;
    int x, y, cx, cy;  // dialog units
    DWORD style;
    int image;  // bitmap or icon id for pictures and icons, else 0
};

struct DialogTemplate {
    int id;
    const char* caption;
    int cx, cy;
    DWORD style;
    const char* fontFace;
    int fontPoints;
    std::vector<ControlTemplate> controls;  // in tab order
};

// The system's templates plus any registered later; null for an unknown id.
const DialogTemplate* findDialogTemplate(int id);
// Tests and later modules may add templates; an id already present is replaced.
void registerDialogTemplate(DialogTemplate tmpl);

struct FontInfo {
    std::string face;
    int height = 0;
    int weight = 0;
    bool italic = false;
    bool underline = false;
};

struct Window {
    HWND handle = nullptr;
    HWND parent = nullptr;
    std::vector<HWND> children;
    WindowObject* object = nullptr;  // the attached object, if any
    Kind kind = Kind::Static;
    int id = 0;
    int templateId = 0;  // dialogs: the template they were made from
    std::string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect{};  // dialog units, relative to the parent's client area
    bool checked = false;
    int rangeLow = 0, rangeHigh = 100, position = 0;
    int firstVisibleLine = 0;
    int image = 0;  // template image id
    HICON icon = nullptr;
    HICON bigIcon = nullptr, smallIcon = nullptr;
    HFONT font = nullptr;
    unsigned invalidations = 0;  // how often the window asked to be redrawn
    bool modal = false;
    HWND focus = nullptr;  // top-level dialogs: the control with the keyboard focus

    bool enabled() const { return !(style & WS_DISABLED); }
    bool visible() const { return style & WS_VISIBLE; }
};

// GUI thread only, except where a function says otherwise.
Window* window(HWND handle);
HWND createWindow(const Window& proto, HWND parent);
// Builds a dialog and its controls from a template; null if there is no such template.
HWND createDialogFromTemplate(int templateId, HWND parent, bool child);
void destroyWindow(HWND handle);
HWND findChild(HWND parent, int id);
// Depth-first search through visible windows below (and including) `root`.
HWND findVisible(HWND root, int id);
std::vector<HWND> topLevelWindows();
// The top-most shown modal dialog: the one the operator works in; null when none is up.
HWND activeDialog();
// The window's top-left corner in top-level coordinates (dialog units).
POINT screenOrigin(HWND handle);
int editLineCount(const std::string& text);
// What a change notice says changed, so a backend updates one native control at a time.
namespace change {
constexpr unsigned Text = 1u << 0;
constexpr unsigned Enabled = 1u << 1;
constexpr unsigned Visible = 1u << 2;
constexpr unsigned Checked = 1u << 3;
constexpr unsigned Rect = 1u << 4;      // position or size of the window
constexpr unsigned Range = 1u << 5;     // progress bar range
constexpr unsigned Position = 1u << 6;  // progress bar position
constexpr unsigned Scroll = 1u << 7;    // first visible line of an edit box
constexpr unsigned Font = 1u << 8;
constexpr unsigned Icon = 1u << 9;
constexpr unsigned Focus = 1u << 10;
constexpr unsigned Style = 1u << 11;   // other style bits
constexpr unsigned Redraw = 1u << 12;  // nothing in the model changed; draw it again
}  // namespace change
using Changes = unsigned;

// Tells the backend what changed; nothing for a window that does not exist.
void changed(HWND handle, Changes what);
// State changes every layer makes through the model, each with its notice.
void setEnabled(HWND handle, bool enabled);
void setVisible(HWND handle, bool visible);
void setRect(HWND handle, const RECT& rect);
void setExStyle(HWND handle, DWORD exStyle);
// The handle of icon resource `id`; icons are named by their resource id alone.
HICON iconHandle(int id);
int iconId(HICON icon);

LRESULT sendMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
// Any thread. False when the window does not exist (any more).
BOOL postMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
// Default behaviour of the control or dialog kinds (text, check, range, dialog manager).
LRESULT defaultWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);

// A posted message that never reached a window: its owner of attached memory can free it.
using DiscardHandler = void (*)(UINT message, WPARAM wParam, LPARAM lParam);
void setDiscardHandler(UINT message, DiscardHandler handler);

// The thread that runs the windows; cross-thread message boxes go to it.
void setGuiThread();
bool onGuiThread();
// Runs `task` on the GUI thread inside its next pump and waits for it; runs it at once when
// called on the GUI thread or when no GUI thread is known.
void runOnGuiThread(const std::function<void()>& task);

// Dispatches posted messages and due timers of the calling thread until none is left, or, with
// a budget, until that many milliseconds of host time have gone by (a modal loop then lets the
// backend take native input before it pumps on). Returns how many were handled.
int pumpMessages(int budgetMs = -1);
bool hasPendingWork();
// Microseconds of the active clock when the next timer is due; UINT64_MAX when none runs.
uint64_t nextTimerDueUs();
UINT_PTR setTimer(HWND handle, UINT_PTR id, UINT periodMs);
BOOL killTimer(HWND handle, UINT_PTR id);
bool timerRunning(HWND handle, UINT_PTR id);
// Drops every posted message and timer (discard handlers run); for test teardown.
void discardAllPending();

// The dialog manager's Escape (and the close box's default) and Enter; see input.h.
void dialogCancel(HWND dialog);
void dialogEnter(HWND dialog);

}  // namespace ui
