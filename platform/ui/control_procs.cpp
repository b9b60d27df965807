// What controls and dialogs do with a message nobody handled.
#include <algorithm>
#include <cstring>

#include "platform/ui/input.h"
#include "platform/ui/model.h"

namespace ui {

int editLineCount(const std::string& text) { return 1 + int(std::count(text.begin(), text.end(), '\n')); }

LRESULT defaultWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = window(handle);
    if (!w) return 0;
    switch (message) {
    case WM_SETTEXT:
        w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
        changed(handle, change::Text);
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
        changed(handle, lParam ? change::Font | change::Redraw : change::Font);
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(w->font);
    case WM_SETICON: {
        HICON& slot = wParam == ICON_BIG ? w->bigIcon : w->smallIcon;
        HICON old = slot;
        slot = reinterpret_cast<HICON>(lParam);
        changed(handle, change::Icon);
        return reinterpret_cast<LRESULT>(old);
    }
    case STM_SETICON: {
        HICON old = w->icon;
        w->icon = reinterpret_cast<HICON>(wParam);
        changed(handle, change::Icon);
        return reinterpret_cast<LRESULT>(old);
    }
    case STM_GETICON: return reinterpret_cast<LRESULT>(w->icon);
    case EM_GETLINECOUNT: return editLineCount(w->text);
    case EM_GETFIRSTVISIBLELINE: return w->firstVisibleLine;
    case EM_LINESCROLL: {
        int last = editLineCount(w->text) - 1;
        w->firstVisibleLine = std::clamp(w->firstVisibleLine + int(lParam), 0, last);
        changed(handle, change::Scroll);
        return TRUE;
    }
    case BM_GETCHECK: return w->checked ? BST_CHECKED : BST_UNCHECKED;
    case BM_SETCHECK:
        w->checked = wParam == BST_CHECKED;
        changed(handle, change::Checked);
        return 0;
    case PBM_SETRANGE32: {
        LRESULT old = LRESULT(MAKEWPARAM(w->rangeLow, w->rangeHigh));
        w->rangeLow = int(wParam);
        w->rangeHigh = int(lParam);
        w->position = std::clamp(w->position, w->rangeLow, std::max(w->rangeLow, w->rangeHigh));
        changed(handle, change::Range | change::Position);
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
        changed(handle, change::Position);
        return old;
    }
    case PBM_GETPOS: return w->position;
    case WM_CLOSE:
        if (w->kind == Kind::Dialog) dialogCancel(handle);
        return 0;
    default: return 0;
    }
}

}  // namespace ui
