// The window tree: creating windows and dialogs from templates, finding and destroying them.
#include <algorithm>

#include "platform/ui/backend.h"
#include "platform/ui/model_internal.h"

namespace ui {

using namespace detail;

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
        if (c.kind == Kind::Icon) w.icon = iconHandle(c.image);
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
    dropTimersOf(handle);
    if (Window* p = window(w->parent)) {
        p->children.erase(std::remove(p->children.begin(), p->children.end(), handle), p->children.end());
    }
    backend().windowDestroyed(handle);
    WindowObject* object = w->object;
    std::unique_ptr<Window> gone;
    {
        std::lock_guard lock(state().mutex);
        auto it = state().windows.find(reinterpret_cast<uintptr_t>(handle));
        gone = std::move(it->second.window);
        state().windows.erase(it);
        auto& top = state().topLevel;
        top.erase(std::remove(top.begin(), top.end(), handle), top.end());
    }
    if (object) object->windowGone();
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

HWND activeDialog() {
    std::vector<HWND> top = topLevelWindows();
    for (auto it = top.rbegin(); it != top.rend(); ++it) {
        Window* w = window(*it);
        if (w && w->modal && w->visible()) return *it;
    }
    return nullptr;
}

POINT screenOrigin(HWND handle) {
    POINT p{0, 0};
    for (Window* w = window(handle); w; w = window(w->parent)) {
        p.x += w->rect.left;
        p.y += w->rect.top;
    }
    return p;
}

void changed(HWND handle, Changes what) {
    if (window(handle)) backend().windowChanged(handle, what);
}

void setEnabled(HWND handle, bool enabled) {
    Window* w = window(handle);
    if (!w || w->enabled() == enabled) return;
    w->style = enabled ? w->style & ~WS_DISABLED : w->style | WS_DISABLED;
    changed(handle, change::Enabled);
}

void setVisible(HWND handle, bool visible) {
    Window* w = window(handle);
    if (!w) return;
    bool was = w->visible();
    w->style = visible ? w->style | WS_VISIBLE : w->style & ~WS_VISIBLE;
    // Shown again: the backend draws it anew even when the flag did not change.
    changed(handle, was == visible ? change::Redraw : change::Visible);
}

void setRect(HWND handle, const RECT& rect) {
    Window* w = window(handle);
    if (!w) return;
    w->rect = rect;
    changed(handle, change::Rect);
}

void setExStyle(HWND handle, DWORD exStyle) {
    Window* w = window(handle);
    if (!w || w->exStyle == exStyle) return;
    w->exStyle = exStyle;
    changed(handle, change::Style);
}

HICON iconHandle(int id) { return reinterpret_cast<HICON>(uintptr_t(id)); }
int iconId(HICON icon) { return int(reinterpret_cast<uintptr_t>(icon)); }

}  // namespace ui
