#pragma once
// Input as the system's dialog manager and controls take it. Every backend and the test driver
// feed raw input here (a click on a control, a key pressed in a dialog, the close box); the
// rules of what it does live here once. GUI thread only.
#include <vector>

#include "platform/ui/model.h"

namespace ui {

enum class Key { Tab, BackTab, Enter, Escape, Space };

// The operator can reach the control: it and every window it sits in are shown and enabled.
// While a message box owned by its dialog is up the dialog is disabled, so nothing in it is.
bool canTakeInput(HWND control);

// A click on a control. Push button: BN_CLICKED to its parent. Auto check box: toggles, then
// BN_CLICKED. Auto radio button: checks itself and clears the others of its group, then
// BN_CLICKED. Plain check boxes and radio buttons only notify. A tab stop takes the focus.
// False when the control cannot take input or is no button.
bool click(HWND control);

// A key pressed while `dialog` (a top-level dialog) is active. Tab and BackTab move the focus
// through the tab stops (into child dialogs when the parent or the child is a control parent);
// Space clicks the focused button; Enter clicks the focused push button, else the default push
// button, else sends IDOK; Escape sends IDCANCEL. A disabled default or Cancel button beeps and
// sends nothing. False when the key did nothing.
bool pressKey(HWND dialog, Key key);

// The close box of the title bar, the system menu's Close or Alt+F4: WM_CLOSE to the dialog.
void closeWindow(HWND dialog);

// The control with the keyboard focus in `dialog`'s tree; null when none has it or the one that
// had it can no longer take input.
HWND focus(HWND dialog);
// Gives `control` the focus of its top-level dialog; false when it cannot take input.
bool setFocus(HWND control);
// The controls Tab visits, in order.
std::vector<HWND> tabOrder(HWND dialog);
// What Enter would press: the focused push button, else the dialog's default push button.
HWND defaultButton(HWND dialog);

// WM_COMMAND with the control's id and `code` to the control's parent.
void sendCommand(HWND control, UINT code = BN_CLICKED);

}  // namespace ui
