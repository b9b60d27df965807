#include "platform/ui/model.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/os/clock.h"
#include "platform/ui/afxwin.h"
#include "platform/ui/backend.h"

namespace ui {
namespace {

struct Item {
    HWND handle = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::function<void()> task;
};

struct Queue {
    std::mutex mutex;
    std::deque<Item> items;
};

struct Entry {
    std::unique_ptr<Window> window;
    std::shared_ptr<Queue> queue;
};

struct Timer {
    HWND handle;
    UINT_PTR id;
    uint64_t periodUs;
    uint64_t dueUs;
};

struct State {
    std::mutex mutex;  // guards windows, nextHandle, guiQueue, discard
    std::unordered_map<uintptr_t, Entry> windows;
    std::vector<HWND> topLevel;
    uintptr_t nextHandle = 0x100;
    std::shared_ptr<Queue> guiQueue;
    std::thread::id guiThread;
    std::map<UINT, DiscardHandler> discard;
    std::vector<Timer> timers;  // GUI thread only
};

State& state() {
    static State s;
    return s;
}

std::shared_ptr<Queue>& threadQueue() {
    thread_local std::shared_ptr<Queue> queue = std::make_shared<Queue>();
    return queue;
}

void discardItem(const Item& item) {
    if (item.task) {
        item.task();  // a waiting thread must not hang
        return;
    }
    DiscardHandler handler = nullptr;
    {
        std::lock_guard lock(state().mutex);
        auto it = state().discard.find(item.message);
        if (it != state().discard.end()) handler = it->second;
    }
    if (handler) handler(item.message, item.wParam, item.lParam);
}

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

bool isDefaultButton(const Window& w) { return w.kind == Kind::PushButton && (w.style & 0xF) == BS_DEFPUSHBUTTON; }

}  // namespace

void setBackend(Backend* b) { g_backend = b; }
Backend& backend() { return g_backend ? *g_backend : g_nullBackend; }

Window* window(HWND handle) {
    if (!handle) return nullptr;
    std::lock_guard lock(state().mutex);
    auto it = state().windows.find(reinterpret_cast<uintptr_t>(handle));
    return it == state().windows.end() ? nullptr : it->second.window.get();
}

HWND createWindow(const Window& proto, HWND parent) {
    auto w = std::make_unique<Window>(proto);
    Window* raw = w.get();
    {
        std::lock_guard lock(state().mutex);
        raw->handle = reinterpret_cast<HWND>(state().nextHandle++);
        raw->parent = parent;
        raw->children.clear();
        raw->object = nullptr;
        state().windows[reinterpret_cast<uintptr_t>(raw->handle)] = Entry{std::move(w), threadQueue()};
        if (!parent) state().topLevel.push_back(raw->handle);
    }
    if (Window* p = window(parent)) p->children.push_back(raw->handle);
    backend().windowCreated(raw->handle);
    return raw->handle;
}

HWND createDialogFromTemplate(int templateId, HWND parent, bool child) {
    const DialogTemplate* t = findDialogTemplate(templateId);
    if (!t) return nullptr;
    Window dlg;
    dlg.kind = Kind::Dialog;
    dlg.templateId = templateId;
    dlg.text = t->caption ? t->caption : "";
    dlg.style = t->style & ~WS_VISIBLE;
    if (child) dlg.style = (dlg.style & ~WS_POPUP) | WS_CHILD;
    dlg.rect = RECT{0, 0, t->cx, t->cy};
    HWND handle = createWindow(dlg, parent);
    for (const ControlTemplate& c : t->controls) {
        Window w;
        w.kind = c.kind;
        w.id = c.id;
        w.text = c.text ? c.text : "";
        w.style = c.style;
        w.rect = RECT{c.x, c.y, c.x + c.cx, c.y + c.cy};
        w.image = c.image;
        if (c.kind == Kind::Icon) w.icon = AfxLoadIcon(c.image);
        createWindow(w, handle);
    }
    return handle;
}

void destroyWindow(HWND handle) {
    Window* w = window(handle);
    if (!w) return;
    sendMessage(handle, WM_DESTROY, 0, 0);
    w = window(handle);
    if (!w) return;
    std::vector<HWND> children = w->children;
    for (HWND c : children) destroyWindow(c);
    auto& timers = state().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.handle == handle; }),
                 timers.end());
    if (Window* p = window(w->parent)) {
        p->children.erase(std::remove(p->children.begin(), p->children.end(), handle), p->children.end());
    }
    backend().windowDestroyed(handle);
    CWnd* object = w->object;
    std::unique_ptr<Window> gone;
    {
        std::lock_guard lock(state().mutex);
        auto it = state().windows.find(reinterpret_cast<uintptr_t>(handle));
        gone = std::move(it->second.window);
        state().windows.erase(it);
        auto& top = state().topLevel;
        top.erase(std::remove(top.begin(), top.end(), handle), top.end());
    }
    if (object) {
        object->m_hWnd = nullptr;
        object->PostNcDestroy();
    }
}

HWND findChild(HWND parent, int id) {
    Window* p = window(parent);
    if (!p) return nullptr;
    for (HWND c : p->children) {
        Window* w = window(c);
        if (w && w->id == id) return c;
    }
    return nullptr;
}

HWND findVisible(HWND root, int id) {
    Window* w = window(root);
    if (!w || !w->visible()) return nullptr;
    if (w->id == id && w->kind != Kind::Dialog) return root;
    for (HWND c : w->children) {
        if (HWND found = findVisible(c, id)) return found;
    }
    return nullptr;
}

std::vector<HWND> topLevelWindows() {
    std::lock_guard lock(state().mutex);
    return state().topLevel;
}

POINT screenOrigin(HWND handle) {
    POINT p{0, 0};
    for (Window* w = window(handle); w; w = window(w->parent)) {
        p.x += w->rect.left;
        p.y += w->rect.top;
    }
    return p;
}

int editLineCount(const std::string& text) { return 1 + int(std::count(text.begin(), text.end(), '\n')); }

void changed(HWND handle) {
    if (window(handle)) backend().windowChanged(handle);
}

LRESULT sendMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!onGuiThread()) {
        // As Win32 does across threads: the handler runs on the window's thread, the sender waits.
        bool known;
        {
            std::lock_guard lock(state().mutex);
            known = state().guiQueue != nullptr;
        }
        if (known) {
            LRESULT result = 0;
            runOnGuiThread([&] { result = sendMessage(handle, message, wParam, lParam); });
            return result;
        }
    }
    Window* w = window(handle);
    if (!w) return 0;
    if (w->object) return w->object->WindowProc(message, wParam, lParam);
    return defaultWindowProc(handle, message, wParam, lParam);
}

BOOL postMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<Queue> queue;
    {
        std::lock_guard lock(state().mutex);
        auto it = state().windows.find(reinterpret_cast<uintptr_t>(handle));
        if (it == state().windows.end()) return FALSE;
        queue = it->second.queue;
    }
    std::lock_guard lock(queue->mutex);
    queue->items.push_back(Item{handle, message, wParam, lParam, {}});
    return TRUE;
}

void setDiscardHandler(UINT message, DiscardHandler handler) {
    std::lock_guard lock(state().mutex);
    state().discard[message] = handler;
}

LRESULT defaultWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = window(handle);
    if (!w) return 0;
    switch (message) {
    case WM_SETTEXT:
        w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
        changed(handle);
        return TRUE;
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam) return 0;
        size_t n = std::min<size_t>(w->text.size(), size_t(wParam) - 1);
        std::memcpy(reinterpret_cast<char*>(lParam), w->text.data(), n);
        reinterpret_cast<char*>(lParam)[n] = 0;
        return LRESULT(n);
    }
    case WM_GETTEXTLENGTH: return LRESULT(w->text.size());
    case WM_SETFONT:
        w->font = reinterpret_cast<HFONT>(wParam);
        if (lParam) changed(handle);
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(w->font);
    case WM_SETICON: {
        HICON& slot = wParam == ICON_BIG ? w->bigIcon : w->smallIcon;
        HICON old = slot;
        slot = reinterpret_cast<HICON>(lParam);
        changed(handle);
        return reinterpret_cast<LRESULT>(old);
    }
    case STM_SETICON: {
        HICON old = w->icon;
        w->icon = reinterpret_cast<HICON>(wParam);
        changed(handle);
        return reinterpret_cast<LRESULT>(old);
    }
    case STM_GETICON: return reinterpret_cast<LRESULT>(w->icon);
    case EM_GETLINECOUNT: return editLineCount(w->text);
    case EM_GETFIRSTVISIBLELINE: return w->firstVisibleLine;
    case EM_LINESCROLL: {
        int last = editLineCount(w->text) - 1;
        w->firstVisibleLine = std::clamp(w->firstVisibleLine + int(lParam), 0, last);
        changed(handle);
        return TRUE;
    }
    case BM_GETCHECK: return w->checked ? BST_CHECKED : BST_UNCHECKED;
    case BM_SETCHECK:
        w->checked = wParam == BST_CHECKED;
        changed(handle);
        return 0;
    case PBM_SETRANGE32: {
        LRESULT old = LRESULT(MAKEWPARAM(w->rangeLow, w->rangeHigh));
        w->rangeLow = int(wParam);
        w->rangeHigh = int(lParam);
        w->position = std::clamp(w->position, w->rangeLow, std::max(w->rangeLow, w->rangeHigh));
        changed(handle);
        return old;
    }
    case PBM_GETRANGE:
        if (lParam) {
            reinterpret_cast<int*>(lParam)[0] = w->rangeLow;
            reinterpret_cast<int*>(lParam)[1] = w->rangeHigh;
        }
        return wParam ? w->rangeLow : w->rangeHigh;
    case PBM_SETPOS: {
        int old = w->position;
        w->position = std::clamp(int(wParam), w->rangeLow, std::max(w->rangeLow, w->rangeHigh));
        changed(handle);
        return old;
    }
    case PBM_GETPOS: return w->position;
    case WM_CLOSE:
        if (w->kind == Kind::Dialog) dialogCancel(handle);
        return 0;
    default: return 0;
    }
}

void dialogCancel(HWND dialog) {
    HWND cancel = findChild(dialog, IDCANCEL);
    Window* c = window(cancel);
    if (c && !c->enabled()) {
        backend().beep(MB_OK);
        return;
    }
    postMessage(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
}

void dialogEnter(HWND dialog) {
    Window* d = window(dialog);
    if (!d) return;
    for (HWND h : d->children) {
        Window* c = window(h);
        if (!c || !isDefaultButton(*c)) continue;
        if (!c->enabled() || !c->visible()) {
            backend().beep(MB_OK);
            return;
        }
        postMessage(dialog, WM_COMMAND, MAKEWPARAM(c->id, BN_CLICKED), reinterpret_cast<LPARAM>(h));
        return;
    }
    postMessage(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void setGuiThread() {
    std::lock_guard lock(state().mutex);
    state().guiQueue = threadQueue();
    state().guiThread = std::this_thread::get_id();
}

bool onGuiThread() {
    std::lock_guard lock(state().mutex);
    return state().guiThread == std::this_thread::get_id();
}

void runOnGuiThread(const std::function<void()>& task) {
    std::shared_ptr<Queue> queue;
    {
        std::lock_guard lock(state().mutex);
        if (state().guiThread != std::this_thread::get_id()) queue = state().guiQueue;
    }
    if (!queue) {
        task();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    {
        std::lock_guard lock(queue->mutex);
        queue->items.push_back(Item{nullptr, 0, 0, 0, [task, done] {
                                        task();
                                        done->set_value();
                                    }});
    }
    finished.wait();
}

namespace {

bool popItem(Item& out) {
    std::shared_ptr<Queue> queue = threadQueue();
    std::lock_guard lock(queue->mutex);
    if (queue->items.empty()) return false;
    out = std::move(queue->items.front());
    queue->items.pop_front();
    return true;
}

bool fireDueTimer() {
    uint64_t now = platform::activeClock().nowUs();
    auto& timers = state().timers;
    for (Timer& t : timers) {
        if (t.dueUs > now) continue;
        t.dueUs = now + t.periodUs;
        HWND h = t.handle;
        UINT_PTR id = t.id;
        sendMessage(h, WM_TIMER, WPARAM(id), 0);
        return true;
    }
    return false;
}

}  // namespace

int pumpMessages() {
    int handled = 0;
    // A handler that keeps posting to itself must not hang the caller.
    for (int guard = 0; guard < 1000000; ++guard) {
        Item item;
        if (popItem(item)) {
            ++handled;
            if (item.task) {
                item.task();
            } else if (window(item.handle)) {
                sendMessage(item.handle, item.message, item.wParam, item.lParam);
            } else {
                discardItem(item);
            }
            continue;
        }
        if (!fireDueTimer()) break;
        ++handled;
    }
    return handled;
}

bool hasPendingWork() {
    {
        std::shared_ptr<Queue> queue = threadQueue();
        std::lock_guard lock(queue->mutex);
        if (!queue->items.empty()) return true;
    }
    return nextTimerDueUs() <= platform::activeClock().nowUs();
}

uint64_t nextTimerDueUs() {
    uint64_t next = UINT64_MAX;
    for (const Timer& t : state().timers) next = std::min(next, t.dueUs);
    return next;
}

UINT_PTR setTimer(HWND handle, UINT_PTR id, UINT periodMs) {
    if (!window(handle)) return 0;
    uint64_t period = uint64_t(std::max<UINT>(periodMs, 10)) * 1000;  // Win32's shortest period
    uint64_t due = platform::activeClock().nowUs() + period;
    for (Timer& t : state().timers) {
        if (t.handle == handle && t.id == id) {
            t.periodUs = period;
            t.dueUs = due;
            return id;
        }
    }
    state().timers.push_back(Timer{handle, id, period, due});
    return id;
}

BOOL killTimer(HWND handle, UINT_PTR id) {
    auto& timers = state().timers;
    auto it = std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.handle == handle && t.id == id; });
    if (it == timers.end()) return FALSE;
    timers.erase(it);
    return TRUE;
}

bool timerRunning(HWND handle, UINT_PTR id) {
    for (const Timer& t : state().timers) {
        if (t.handle == handle && t.id == id) return true;
    }
    return false;
}

void discardAllPending() {
    Item item;
    while (popItem(item)) discardItem(item);
    state().timers.clear();
}

}  // namespace ui
