#pragma once
// The terminal backend: draws the modal dialog of the window model centred on the screen, with a
// line of keys under it, and turns keys and mouse clicks into the toolkit's input. Message boxes
// and the open-file dialog are modal boxes on top of it.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/ui/terminal/model_view.h"
#include "platform/ui/terminal/screen.h"

namespace ui::term {

class TerminalBackend final : public Backend {
public:
    TerminalBackend() = default;

    void windowCreated(HWND) override { dirty_ = true; }
    void windowDestroyed(HWND) override { dirty_ = true; }
    void windowChanged(HWND, unsigned) override { dirty_ = true; }
    int messageBox(const MessageBoxRequest& request) override;
    bool fileDialog(FileDialogRequest& request) override;
    void beep(UINT) override { screen_.beep(); }
    bool waitForInput(HWND modalDialog) override;
    void wake() override { Screen::wake(); }

private:
    // Draws the dialog (and whatever `overlay` adds on top) when something changed.
    void paint(HWND dialog, bool force = false, const std::function<void(Canvas&)>& overlay = {});
    // How long a wait may last before a timer of the toolkit falls due.
    int waitBudgetMs() const;
    void handle(HWND dialog, const InputEvent& event);
    void clickButton(HWND dialog, int id);
    // Runs a modal box until `step` returns true. On the GUI thread the dialog behind it goes on
    // being pumped and redrawn; a worker (whose GUI thread is busy) draws over the last frame and
    // never touches the window model.
    void runBox(const std::function<void(Canvas&)>& draw, const std::function<bool(const InputEvent&)>& step);

    Screen screen_;
    // Held while the terminal is drawn or read: by a worker's box for its whole life, so that the
    // GUI thread, back from its handler, neither draws over the box nor takes its keys.
    std::recursive_mutex terminal_;  // recursive: a box on the GUI thread pumps messages that may open another
    Canvas canvas_;
    std::atomic<bool> dirty_{true};  // also set by a worker's box when it ends
    HWND painted_ = nullptr;
    std::vector<Hit> hits_;
    CellRect need_{0, 0, 80, 24};  // the smallest screen the dialog is drawn on
    bool tooSmall_ = false;        // the screen is smaller: it says so, and keys do nothing
    std::string status_;  // shown in the key line for a while
    uint32_t statusSince_ = 0;
};

}  // namespace ui::term
