#include "platform/ui/headless.h"

#include <chrono>
#include <thread>

namespace ui {
namespace {

HWND findAny(HWND root, int id) {
    Window* w = window(root);
    if (!w) return nullptr;
    if (w->id == id && w->kind != Kind::Dialog) return root;
    for (HWND c : w->children) {
        if (HWND found = findAny(c, id)) return found;
    }
    return nullptr;
}

}  // namespace

HeadlessDriver::HeadlessDriver() : scopedClock_(clock_) {
    setBackend(this);
    setGuiThread();
}

HeadlessDriver::~HeadlessDriver() {
    // The dialog object may have gone before us; its window goes with it.
    if (opened_ && window(openedHandle_) && window(openedHandle_)->object == opened_) opened_->FinishModal();
    opened_ = nullptr;
    discardAllPending();
    setBackend(nullptr);
}

bool HeadlessDriver::open(CDialog& dialog) {
    result_ = -1;
    if (!dialog.BeginModal()) return false;
    opened_ = &dialog;
    openedHandle_ = dialog.m_hWnd;
    settle();
    return true;
}

void HeadlessDriver::settle() {
    pumpMessages();
    if (opened_ && (opened_->ModalEnded() || !opened_->m_hWnd)) {
        CDialog* d = opened_;
        opened_ = nullptr;
        result_ = d->FinishModal();
        pumpMessages();
    }
}

HWND HeadlessDriver::dialog() const { return activeDialog(); }

HWND HeadlessDriver::find(int id) const {
    HWND root = dialog();
    if (HWND h = findVisible(root, id)) return h;
    return findAny(root, id);
}

std::string HeadlessDriver::text(int id) const {
    Window* w = control(id);
    return w ? w->text : std::string();
}
bool HeadlessDriver::enabled(int id) const {
    Window* w = control(id);
    return w && w->enabled();
}
bool HeadlessDriver::visible(int id) const {
    Window* w = control(id);
    return w && w->visible();
}
bool HeadlessDriver::checked(int id) const {
    Window* w = control(id);
    return w && w->checked;
}

bool HeadlessDriver::click(int id) {
    bool done = ui::click(find(id));
    settle();
    return done;
}

bool HeadlessDriver::press(Key key) {
    HWND d = dialog();
    bool done = d && pressKey(d, key);
    settle();
    return done;
}

void HeadlessDriver::pressEscape() { press(Key::Escape); }
void HeadlessDriver::pressEnter() { press(Key::Enter); }

void HeadlessDriver::closeWindow() {
    if (HWND d = dialog()) ui::closeWindow(d);
    settle();
}

int HeadlessDriver::focusedId() const {
    Window* w = window(focus(dialog()));
    return w ? w->id : 0;
}

int HeadlessDriver::pump() {
    int n = pumpMessages();
    settle();
    return n;
}

void HeadlessDriver::advance(uint32_t ms) {
    uint64_t target = clock_.nowUs() + uint64_t(ms) * 1000;
    for (;;) {
        settle();
        uint64_t next = nextTimerDueUs();
        if (next > target) break;
        clock_.advanceToUs(next);
        settle();
    }
    clock_.advanceToUs(target);
    settle();
}

bool HeadlessDriver::pumpUntil(const std::function<bool()>& done, uint32_t hostMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(hostMs);
    for (;;) {
        settle();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        // Posts from other threads wake us at once; other conditions are looked at every ms.
        waitForWake(1);
    }
}

HWND HeadlessDriver::createBareWindow() {
    Window proto;
    proto.kind = Kind::Dialog;
    proto.style = WS_VISIBLE;
    return createWindow(proto, nullptr);
}

void HeadlessDriver::queueMessageBoxAnswer(int answer) {
    std::lock_guard lock(mutex_);
    boxAnswers_.push_back(answer);
}

void HeadlessDriver::queueFileDialogAnswer(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    fileAnswers_.push_back(std::move(path));
}

void HeadlessDriver::whileNextBoxShown(std::function<void(HeadlessDriver&)> action) {
    std::lock_guard lock(mutex_);
    boxAction_ = std::move(action);
}

void HeadlessDriver::runBoxAction() {
    if (!onGuiThread()) return;
    std::function<void(HeadlessDriver&)> action;
    {
        std::lock_guard lock(mutex_);
        action = std::move(boxAction_);
        boxAction_ = nullptr;
    }
    if (action) action(*this);
}

int HeadlessDriver::messageBox(const MessageBoxRequest& request) {
    bool gui = onGuiThread();
    Window* owner = gui ? window(request.owner) : nullptr;
    bool ownerDisabled = owner && !owner->enabled();
    runBoxAction();
    std::lock_guard lock(mutex_);
    int answer;
    if (!boxAnswers_.empty()) {
        answer = boxAnswers_.front();
        boxAnswers_.pop_front();
    } else {
        switch (request.type & MB_TYPEMASK) {
        case MB_YESNO:
        case MB_YESNOCANCEL: answer = IDYES; break;
        case MB_ABORTRETRYIGNORE: answer = IDABORT; break;
        case MB_RETRYCANCEL: answer = IDRETRY; break;
        default: answer = IDOK; break;
        }
    }
    boxes_.push_back(ShownMessageBox{request.text, request.caption, request.type, answer, request.fromGuiThread,
                                     request.owner, gui, ownerDisabled, request.ownerDisabledForIt});
    return answer;
}

bool HeadlessDriver::fileDialog(FileDialogRequest& request) {
    runBoxAction();
    std::lock_guard lock(mutex_);
    bool chosen = false;
    if (!fileAnswers_.empty()) {
        std::optional<std::string> answer = std::move(fileAnswers_.front());
        fileAnswers_.pop_front();
        if (answer) {
            request.result = *answer;
            chosen = true;
        }
    }
    files_.push_back(ShownFileDialog{request, chosen});
    return chosen;
}

void HeadlessDriver::wake() {
    std::lock_guard lock(mutex_);
    ++wakes_;
    ++unseenWakes_;
    woken_.notify_all();
}

int HeadlessDriver::takeWakes() {
    std::lock_guard lock(mutex_);
    int n = wakes_;
    wakes_ = 0;
    return n;
}

bool HeadlessDriver::waitForWake(uint32_t hostMs) {
    std::unique_lock lock(mutex_);
    bool woken = woken_.wait_for(lock, std::chrono::milliseconds(hostMs), [&] { return unseenWakes_ > 0; });
    unseenWakes_ = 0;
    return woken;
}

bool HeadlessDriver::waitForInput(HWND) {
    if (!script_) return false;
    auto script = std::move(script_);
    script_ = nullptr;
    script(*this);
    return true;
}

}  // namespace ui
