#pragma once
// The backend that draws nothing (library koral_ui_headless, linked only by tests), with the
// driver tests put in place of an operator: it clicks controls by id, reads texts and states,
// answers message boxes and file dialogs, pumps posted messages and timers and moves a virtual
// clock.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/clock.h"
#include "platform/ui/afxwin.h"
#include "platform/ui/backend.h"
#include "platform/ui/input.h"

namespace ui {

struct ShownMessageBox {
    std::string text;
    std::string caption;
    UINT type;
    int answer;
    bool fromGuiThread;  // asked for on the GUI thread
    HWND owner;
    bool onGuiThread;  // shown by the GUI thread (else by the worker that asked)
    // The owner's state as the box came up; the GUI thread's to see, so false when shown elsewhere.
    bool ownerDisabled;
    bool ownerDisabledForIt;  // as the request said: the toolkit disabled the owner for this box
};

struct ShownFileDialog {
    FileDialogRequest request;
    bool chosen;
};

class HeadlessDriver final : public Backend {
public:
    // Installs itself as the backend, the calling thread as the GUI thread and its virtual clock
    // as the active clock; the destructor undoes all three and drops what is still queued.
    HeadlessDriver();
    ~HeadlessDriver() override;
    HeadlessDriver(const HeadlessDriver&) = delete;
    HeadlessDriver& operator=(const HeadlessDriver&) = delete;

    platform::VirtualClock& clock() { return clock_; }

    // Runs a modal dialog step by step: created and initialised here, then driven by the calls
    // below; once it ends it is destroyed and result() holds its result.
    bool open(CDialog& dialog);
    bool isOpen() const { return opened_ != nullptr; }
    intptr_t result() const { return result_; }
    // For code that calls DoModal itself: `script` runs once inside the modal loop. A dialog
    // still open when it returns ends with -1.
    void setScript(std::function<void(HeadlessDriver&)> script) { script_ = std::move(script); }

    // The top-most visible modal dialog, or null.
    HWND dialog() const;
    // A control of the current dialog: visible ones first (so the shown page wins), else any.
    HWND find(int id) const;
    Window* control(int id) const { return window(find(id)); }
    std::string text(int id) const;
    bool enabled(int id) const;
    bool visible(int id) const;
    bool checked(int id) const;

    // Operator input, fed to the toolkit's input rules (input.h); each pumps afterwards. click and
    // press are false when the control cannot be clicked or the key did nothing.
    bool click(int id);
    bool press(Key key);
    void pressEscape();
    void pressEnter();
    void closeWindow();
    // The id of the control with the focus in the current dialog; 0 for none.
    int focusedId() const;

    int pump();
    // Moves the clock by `ms`, stopping at every timer due on the way, as real time would.
    void advance(uint32_t ms);
    // Pumps until `done` holds, waiting for other threads up to `hostMs` of real time.
    bool pumpUntil(const std::function<bool()>& done, uint32_t hostMs = 5000);

    // Boxes and dialogs may be shown on a worker's thread: answers may be queued at any time;
    // read what was shown while no worker is showing one.
    void queueMessageBoxAnswer(int answer);
    // nullopt cancels the dialog.
    void queueFileDialogAnswer(std::optional<std::string> path);
    const std::vector<ShownMessageBox>& messageBoxes() const { return boxes_; }
    const std::vector<ShownFileDialog>& fileDialogs() const { return files_; }
    const std::vector<UINT>& beeps() const { return beeps_; }
    // Runs `action` on the GUI thread while the next box or file dialog it shows is up, before
    // it is answered: what an operator could see (and what keeps arriving) behind the box.
    void whileNextBoxShown(std::function<void(HeadlessDriver&)> action);

    // Wakes since the last call: how often the toolkit told the GUI thread to look.
    int takeWakes();
    // Blocks until a wake or `hostMs` of real time; true when woken.
    bool waitForWake(uint32_t hostMs);

    // A shown top-level window made from nothing, for code that only needs a message target.
    static HWND createBareWindow();

    int messageBox(const MessageBoxRequest& request) override;
    bool fileDialog(FileDialogRequest& request) override;
    void beep(UINT type) override { beeps_.push_back(type); }
    bool waitForInput(HWND modalDialog) override;
    void wake() override;

private:
    void settle();
    void runBoxAction();

    platform::VirtualClock clock_;
    platform::ScopedClock scopedClock_;
    CDialog* opened_ = nullptr;
    HWND openedHandle_ = nullptr;
    intptr_t result_ = -1;
    std::function<void(HeadlessDriver&)> script_;
    mutable std::mutex mutex_;  // guards the answers, what was shown, the box action and wakes
    std::deque<int> boxAnswers_;
    std::deque<std::optional<std::string>> fileAnswers_;
    std::vector<ShownMessageBox> boxes_;
    std::vector<ShownFileDialog> files_;
    std::function<void(HeadlessDriver&)> boxAction_;
    std::condition_variable woken_;
    int wakes_ = 0;
    int unseenWakes_ = 0;
    std::vector<UINT> beeps_;
};

}  // namespace ui
