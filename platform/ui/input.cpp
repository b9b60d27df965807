// The rules of input: clicks per kind of button, focus and tab order, the dialog manager's keys.
#include "platform/ui/input.h"

#include "platform/ui/backend.h"

namespace ui {
namespace {

UINT buttonType(const Window& w) { return w.style & 0xF; }

bool isPushButton(const Window& w) { return w.kind == Kind::PushButton; }

HWND topLevelOf(HWND handle) {
    HWND top = handle;
    for (Window* w = window(handle); w; w = window(w->parent)) top = w->handle;
    return top;
}

// The auto radio buttons of `radio`'s group: from the last WS_GROUP at or before it up to the
// next WS_GROUP, as Win32 groups a dialog's controls.
std::vector<HWND> radioGroup(HWND radio) {
    Window* r = window(radio);
    Window* parent = r ? window(r->parent) : nullptr;
    if (!parent) return {radio};
    const std::vector<HWND>& siblings = parent->children;
    size_t at = 0;
    while (at < siblings.size() && siblings[at] != radio) ++at;
    size_t first = at;
    while (first > 0) {
        Window* w = window(siblings[first]);
        if (w && (w->style & WS_GROUP)) break;
        --first;
    }
    std::vector<HWND> group;
    for (size_t i = first; i < siblings.size(); ++i) {
        Window* w = window(siblings[i]);
        if (!w) continue;
        if (i > first && (w->style & WS_GROUP)) break;
        if (w->kind == Kind::CheckBox && buttonType(*w) == BS_AUTORADIOBUTTON) group.push_back(siblings[i]);
    }
    return group;
}

void collectTabStops(HWND parent, std::vector<HWND>& out) {
    Window* p = window(parent);
    if (!p) return;
    for (HWND h : p->children) {
        Window* c = window(h);
        if (!c || !c->visible()) continue;
        if (c->kind == Kind::Dialog) {
            if ((p->exStyle & WS_EX_CONTROLPARENT) || (c->exStyle & WS_EX_CONTROLPARENT)) collectTabStops(h, out);
            continue;
        }
        if ((c->style & WS_TABSTOP) && canTakeInput(h)) out.push_back(h);
    }
}

HWND templateDefaultButton(HWND dialog) {
    Window* d = window(dialog);
    if (!d) return nullptr;
    for (HWND h : d->children) {
        Window* c = window(h);
        if (c && isPushButton(*c) && buttonType(*c) == BS_DEFPUSHBUTTON) return h;
    }
    return nullptr;
}

bool pressButton(HWND button) {
    if (!canTakeInput(button)) {
        backend().beep(MB_OK);
        return false;
    }
    return click(button);
}

}  // namespace

bool canTakeInput(HWND control) {
    for (Window* w = window(control); w; w = window(w->parent)) {
        if (!w->enabled() || !w->visible()) return false;
    }
    return control != nullptr;
}

void sendCommand(HWND control, UINT code) {
    Window* w = window(control);
    if (!w) return;
    sendMessage(w->parent, WM_COMMAND, MAKEWPARAM(w->id, code), reinterpret_cast<LPARAM>(control));
}

bool click(HWND control) {
    Window* w = window(control);
    if (!w || !canTakeInput(control)) return false;
    if (w->kind != Kind::PushButton && w->kind != Kind::CheckBox) return false;
    if (w->style & WS_TABSTOP) setFocus(control);
    if (w->kind == Kind::CheckBox) {
        if (buttonType(*w) == BS_AUTOCHECKBOX) {
            sendMessage(control, BM_SETCHECK, w->checked ? BST_UNCHECKED : BST_CHECKED, 0);
        } else if (buttonType(*w) == BS_AUTORADIOBUTTON) {
            for (HWND other : radioGroup(control)) {
                if (other != control) sendMessage(other, BM_SETCHECK, BST_UNCHECKED, 0);
            }
            sendMessage(control, BM_SETCHECK, BST_CHECKED, 0);
        }
    }
    sendCommand(control);
    return true;
}

HWND focus(HWND dialog) {
    // A focused control that was hidden or disabled since has lost the keyboard.
    Window* d = window(topLevelOf(dialog));
    if (!d || !canTakeInput(d->focus)) return nullptr;
    return d->focus;
}

bool setFocus(HWND control) {
    if (!canTakeInput(control)) return false;
    Window* d = window(topLevelOf(control));
    if (d->focus == control) return true;
    HWND old = d->focus;
    d->focus = control;
    changed(old, change::Focus);
    changed(control, change::Focus);
    return true;
}

std::vector<HWND> tabOrder(HWND dialog) {
    std::vector<HWND> stops;
    collectTabStops(dialog, stops);
    return stops;
}

HWND defaultButton(HWND dialog) {
    HWND f = focus(dialog);
    if (Window* w = window(f); w && isPushButton(*w) && canTakeInput(f)) return f;
    return templateDefaultButton(dialog);
}

bool pressKey(HWND dialog, Key key) {
    Window* d = window(dialog);
    if (!d || !canTakeInput(dialog)) return false;
    switch (key) {
    case Key::Tab:
    case Key::BackTab: {
        std::vector<HWND> stops = tabOrder(dialog);
        if (stops.empty()) return false;
        HWND current = focus(dialog);
        size_t at = 0;
        while (at < stops.size() && stops[at] != current) ++at;
        size_t next;
        if (at == stops.size()) {
            next = key == Key::Tab ? 0 : stops.size() - 1;
        } else if (key == Key::Tab) {
            next = (at + 1) % stops.size();
        } else {
            next = (at + stops.size() - 1) % stops.size();
        }
        return setFocus(stops[next]);
    }
    case Key::Space: {
        HWND f = focus(dialog);
        return f && canTakeInput(f) && click(f);
    }
    case Key::Enter: {
        if (HWND button = defaultButton(dialog)) return pressButton(button);
        sendMessage(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return true;
    }
    case Key::Escape: dialogCancel(dialog); return true;
    }
    return false;
}

void closeWindow(HWND dialog) { sendMessage(dialog, WM_CLOSE, 0, 0); }

void dialogCancel(HWND dialog) {
    HWND cancel = findChild(dialog, IDCANCEL);
    Window* c = window(cancel);
    if (c && !c->enabled()) {
        backend().beep(MB_OK);
        return;
    }
    sendMessage(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
}

void dialogEnter(HWND dialog) { pressKey(dialog, Key::Enter); }

}  // namespace ui
