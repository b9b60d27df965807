// Message boxes and file dialogs asked for on any thread, shown without ever waiting for a GUI
// thread that may itself be waiting for the asker.
#include <chrono>

#include "platform/ui/backend.h"
#include "platform/ui/model_internal.h"

namespace ui {

using namespace detail;

namespace {

// GUI thread: the owner is disabled while the box is up, and enabled after only if it was
// enabled before, as the system's own boxes do.
class OwnerDisabled {
public:
    explicit OwnerDisabled(HWND owner) : owner_(owner) {
        Window* w = window(owner);
        if (w && w->enabled()) {
            setEnabled(owner, false);
            disabled_ = true;
        }
    }
    ~OwnerDisabled() {
        if (disabled_) setEnabled(owner_, true);
    }
    bool disabled() const { return disabled_; }
    OwnerDisabled(const OwnerDisabled&) = delete;
    OwnerDisabled& operator=(const OwnerDisabled&) = delete;

private:
    HWND owner_;
    bool disabled_ = false;
};

enum class Stage { Waiting, Claimed, Done };

// Long enough for any ordinary handler, short enough to go unnoticed before a box.
constexpr auto kGrace = std::chrono::milliseconds(250);

// Runs `show` with the owner disabled. On the GUI thread at once. From a worker: by the GUI
// thread when it comes to the request; by the worker itself when the GUI thread stays busy in one
// spell of handlers for kGrace, as it does when it waits for that worker. The owner's state
// belongs to the GUI thread, so then it is switched by tasks the GUI thread runs when it can.
template <typename Show>
void showModal(HWND owner, Show& show) {
    std::shared_ptr<Queue> gui = guiQueueIfOther();
    if (!gui) {
        GuiBusy busy;
        OwnerDisabled off(owner);
        show(off.disabled());
        return;
    }
    auto stage = std::make_shared<Stage>(Stage::Waiting);
    // The task may outlive this call (when the worker claimed the box); it touches `show` only
    // after claiming it, and then this call waits for it.
    postTask(gui, [stage, owner, &show] {
        {
            std::lock_guard lock(boxMutex());
            if (*stage != Stage::Waiting) return;
            *stage = Stage::Claimed;
        }
        {
            GuiBusy busy;
            OwnerDisabled off(owner);
            show(off.disabled());
        }
        std::lock_guard lock(boxMutex());
        *stage = Stage::Done;
        boxChanged().notify_all();
    });
    std::unique_lock lock(boxMutex());
    unsigned watched = 0;
    auto since = std::chrono::steady_clock::now();
    for (;;) {
        if (*stage == Stage::Done) return;
        unsigned spell = GuiBusy::spell();
        if (*stage == Stage::Waiting && spell != 0) {
            auto now = std::chrono::steady_clock::now();
            if (spell != watched) {
                watched = spell;
                since = now;
            }
            if (now - since >= kGrace) break;
            boxChanged().wait_until(lock, since + kGrace);
            continue;
        }
        boxChanged().wait(lock);
    }
    *stage = Stage::Claimed;
    lock.unlock();
    auto disabled = std::make_shared<bool>(false);
    postTask(gui, [owner, disabled] {
        Window* w = window(owner);
        if (w && w->enabled()) {
            setEnabled(owner, false);
            *disabled = true;
        }
    });
    show(false);
    postTask(gui, [owner, disabled] {
        if (*disabled) setEnabled(owner, true);
    });
}

}  // namespace

int showMessageBox(MessageBoxRequest request) {
    request.fromGuiThread = onGuiThread();
    int answer = IDOK;
    auto show = [&](bool ownerDisabled) {
        request.ownerDisabledForIt = ownerDisabled;
        answer = backend().messageBox(request);
    };
    showModal(request.owner, show);
    return answer;
}

bool showFileDialog(FileDialogRequest& request) {
    request.fromGuiThread = onGuiThread();
    bool chosen = false;
    auto show = [&](bool ownerDisabled) {
        request.ownerDisabledForIt = ownerDisabled;
        chosen = backend().fileDialog(request);
    };
    showModal(request.owner, show);
    return chosen;
}

}  // namespace ui
