#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include "platform/ui/win32/win32_backend.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/input.h"
#include "platform/ui/model.h"

namespace ui::win32 {
namespace {

class Win32Backend;
Win32Backend* g_backend = nullptr;

class Win32Backend final : public Backend {
public:
    Win32Backend() {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        white_ = CreateSolidBrush(RGB(255, 255, 255));
        guiThread_ = GetCurrentThreadId();
        g_backend = this;
    }
    ~Win32Backend() override {
        for (auto& [info, font] : fonts_) DeleteObject(font);
        for (auto& [key, icon] : icons_) {
            if (icon) DestroyIcon(icon);
        }
        DeleteObject(white_);
        g_backend = nullptr;
    }

    void windowCreated(HWND model) override {
        Window* w = window(model);
        if (!w) return;
        if (w->kind == Kind::Dialog && w->templateId != 0) {
            HWND parent = w->parent ? native(w->parent) : nullptr;
            HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(w->templateId), parent,
                                             dialogProc, 0);
            if (!dialog) return;
            pair(model, dialog);
            // The dialog manager made the controls already; the model's follow in the same order.
            std::vector<HWND>& unpaired = unpaired_[model];
            for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) unpaired.push_back(c);
            return;
        }
        auto it = unpaired_.find(w->parent);
        if (it == unpaired_.end() || it->second.empty()) return;
        HWND control = it->second.front();
        it->second.erase(it->second.begin());
        pair(model, control);
        windowChanged(model, change::Visible | change::Enabled | change::Checked | change::Icon);
    }

    void windowDestroyed(HWND model) override {
        HWND n = native(model);
        unpaired_.erase(model);
        if (!n) return;
        {
            std::lock_guard lock(mapMutex_);
            toNative_.erase(model);
            toModel_.erase(n);
        }
        Window* w = window(model);
        if (w && w->kind == Kind::Dialog) DestroyWindow(n);
    }

    void windowChanged(HWND model, unsigned what) override {
        Window* w = window(model);
        HWND n = native(model);
        if (!w || !n) return;
        syncing_ = true;
        bool top = !(GetWindowLongA(n, GWL_STYLE) & WS_CHILD);
        if (what & change::Text) SetWindowTextA(n, w->text.c_str());
        if (what & change::Enabled) EnableWindow(n, w->enabled());
        if (what & change::Checked && w->kind == Kind::CheckBox) {
            SendMessageA(n, BM_SETCHECK, w->checked ? BST_CHECKED : BST_UNCHECKED, 0);
        }
        if (what & change::Rect && !top) {
            RECT r = w->rect;
            MapDialogRect(GetParent(n), &r);
            SetWindowPos(n, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
        }
        if (what & (change::Range | change::Position) && w->kind == Kind::Progress) {
            SendMessageA(n, PBM_SETRANGE32, WPARAM(w->rangeLow), LPARAM(w->rangeHigh));
            SendMessageA(n, PBM_SETPOS, WPARAM(w->position), 0);
        }
        if (what & (change::Scroll | change::Text) && w->kind == Kind::Edit) {
            LRESULT first = SendMessageA(n, EM_GETFIRSTVISIBLELINE, 0, 0);
            SendMessageA(n, EM_LINESCROLL, 0, LPARAM(w->firstVisibleLine - first));
        }
        if (what & change::Font && w->font) SendMessageA(n, WM_SETFONT, WPARAM(nativeFont(w->font)), TRUE);
        if (what & change::Icon) {
            if (w->kind == Kind::Icon && w->icon) SendMessageA(n, STM_SETICON, WPARAM(nativeIcon(w->icon, 0)), 0);
            if (w->bigIcon) SendMessageA(n, WM_SETICON, ICON_BIG, LPARAM(nativeIcon(w->bigIcon, 32)));
            if (w->smallIcon) SendMessageA(n, WM_SETICON, ICON_SMALL, LPARAM(nativeIcon(w->smallIcon, 16)));
        }
        if (what & change::Visible) {
            ShowWindow(n, w->visible() ? (top ? SW_SHOW : SW_SHOWNA) : SW_HIDE);
            if (top && w->visible()) SetForegroundWindow(n);
        }
        if (what & change::Redraw) InvalidateRect(n, nullptr, TRUE);
        syncing_ = false;
    }

    // May run on a worker's thread (see backend.h): it touches only the handle map.
    int messageBox(const MessageBoxRequest& request) override {
        HWND owner = boxOwner(request.owner, request.ownerDisabledForIt);
        UINT type = request.type | (onGuiThread() ? 0 : MB_SETFOREGROUND);
        Pumping pumping;
        return MessageBoxA(owner, request.text.c_str(), request.caption.c_str(), type);
    }

    bool fileDialog(FileDialogRequest& request) override {
        // "Name|pattern|...||" as MFC takes it becomes Win32's zero-separated list.
        std::string filter = request.filter;
        for (char& c : filter) {
            if (c == '|') c = '\0';
        }
        filter.push_back('\0');
        std::string ext = request.defaultExt;
        if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
        char path[MAX_PATH] = "";
        lstrcpynA(path, request.fileName.c_str(), MAX_PATH);
        OPENFILENAMEA ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = boxOwner(request.owner, request.ownerDisabledForIt);
        ofn.lpstrTitle = request.title.empty() ? nullptr : request.title.c_str();
        ofn.lpstrInitialDir = request.initialDir.empty() ? nullptr : request.initialDir.c_str();
        ofn.lpstrFilter = filter.c_str();
        ofn.lpstrFile = path;
        ofn.nMaxFile = MAX_PATH;
        ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
        ofn.Flags = request.flags | OFN_EXPLORER;
        Pumping pumping;
        BOOL chosen = request.open ? GetOpenFileNameA(&ofn) : GetSaveFileNameA(&ofn);
        if (!chosen) return false;
        request.result = path;
        return true;
    }

    void beep(UINT type) override { MessageBeep(type); }

    // Any thread: ends the GUI thread's wait in waitForInput.
    void wake() override { PostThreadMessageA(guiThread_, WM_NULL, 0, 0); }

    bool waitForInput(HWND modalDialog) override {
        // Posts from other threads wake this wait; the toolkit's timers are looked at every 10 ms.
        MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        return dispatchNative(modalDialog);
    }

    void pollInput(HWND modalDialog) override { dispatchNative(modalDialog); }

    // False when the system asked the program to quit.
    bool dispatchNative(HWND modalDialog) {
        HWND dialog = native(modalDialog);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(int(msg.wParam));
                return false;
            }
            if (dialog && IsDialogMessageA(dialog, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        return true;
    }

private:
    // A worker's box has no owner: the system disables and enables an owner by messages sent to
    // its thread, and the GUI thread may be busy waiting for that very worker. On the GUI thread
    // the owner the toolkit disabled is enabled again just before the box, so that the system's
    // modal loop disables it and enables it before the box's window goes: activation then falls
    // back to the wizard instead of to another program's window.
    HWND boxOwner(HWND model, bool disabledForIt) {
        if (!onGuiThread()) return nullptr;
        HWND owner = native(model);
        if (owner && disabledForIt) EnableWindow(owner, TRUE);
        return owner;
    }

    // While a box or file dialog runs its own loop on the GUI thread, the toolkit's messages and
    // timers go on.
    struct Pumping {
        UINT_PTR timer = onGuiThread() ? SetTimer(nullptr, 0, 10, pump) : 0;
        ~Pumping() {
            if (timer) KillTimer(nullptr, timer);
        }
        static void CALLBACK pump(HWND, UINT, UINT_PTR, DWORD) {
            static bool inside = false;
            if (inside) return;
            inside = true;
            pumpMessages();
            inside = false;
        }
    };

    static INT_PTR CALLBACK dialogProc(HWND n, UINT message, WPARAM wParam, LPARAM lParam) {
        Win32Backend* self = g_backend;
        if (!self) return FALSE;
        switch (message) {
        case WM_COMMAND:
            if (!self->syncing_) self->command(n, wParam, lParam);
            return TRUE;
        case WM_CLOSE:
            if (HWND model = self->modelOf(n)) closeWindow(model);
            return TRUE;
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            // The pages are white; the frame keeps the system's colour.
            if (GetWindowLongA(n, GWL_STYLE) & WS_CHILD) {
                SetBkColor(HDC(wParam), RGB(255, 255, 255));
                return INT_PTR(self->white_);
            }
            return FALSE;
        default:
            return FALSE;
        }
    }

    void command(HWND dialog, WPARAM wParam, LPARAM lParam) {
        HWND control = HWND(lParam);
        if (control) {
            HWND model = modelOf(control);
            if (!model || HIWORD(wParam) != BN_CLICKED) return;
            click(model);
            // A click the model refused must not leave a native check box toggled.
            if (Window* w = window(model); w && w->kind == Kind::CheckBox) windowChanged(model, change::Checked);
            return;
        }
        // The dialog manager's Enter and Escape (no control): the toolkit's rules decide.
        HWND top = modelOf(GetAncestor(dialog, GA_ROOT));
        if (!top) return;
        if (LOWORD(wParam) == IDCANCEL) pressKey(top, Key::Escape);
        if (LOWORD(wParam) == IDOK) pressKey(top, Key::Enter);
    }

    HWND native(HWND model) const {
        std::lock_guard lock(mapMutex_);
        auto it = toNative_.find(model);
        return it == toNative_.end() ? nullptr : it->second;
    }
    HWND modelOf(HWND n) const {
        std::lock_guard lock(mapMutex_);
        auto it = toModel_.find(n);
        return it == toModel_.end() ? nullptr : it->second;
    }
    void pair(HWND model, HWND n) {
        std::lock_guard lock(mapMutex_);
        toNative_[model] = n;
        toModel_[n] = model;
    }

    // Each icon at each size is loaded once (the upload page sets its result icon on every
    // upload) and lives as long as the backend. Size 0: the resource's default.
    HICON nativeIcon(HICON model, int size) {
        HICON& icon = icons_[{iconId(model), size}];
        if (!icon) {
            icon = HICON(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId(model)), IMAGE_ICON, size, size,
                                    size ? 0 : LR_DEFAULTSIZE));
        }
        return icon;
    }

    HFONT nativeFont(HFONT model) {
        auto it = fonts_.find(model);
        if (it != fonts_.end()) return it->second;
        // The toolkit's font handle is its description (CFont).
        const FontInfo* info = reinterpret_cast<const FontInfo*>(model);
        HFONT font = CreateFontA(info->height, 0, 0, 0, info->weight, info->italic, info->underline, FALSE,
                                 DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 DEFAULT_PITCH, info->face.c_str());
        fonts_[model] = font;
        return font;
    }

    mutable std::mutex mapMutex_;  // workers' boxes look up their owner
    std::map<HWND, HWND> toNative_, toModel_;
    DWORD guiThread_ = 0;
    std::map<HWND, std::vector<HWND>> unpaired_;
    std::map<HFONT, HFONT> fonts_;
    std::map<std::pair<int, int>, HICON> icons_;
    HBRUSH white_ = nullptr;
    bool syncing_ = false;
};

}  // namespace

std::unique_ptr<Backend> makeBackend() { return std::make_unique<Win32Backend>(); }

}  // namespace ui::win32
