// CWnd and the controls over the model, GDI objects, icons and the colour query.
// Defines the members <windows.h> would rename; see afxwin.h.
#define KORAL_UI_PLAIN_NAMES
#include <memory>
#include <unordered_map>

#include "platform/ui/afxwin.h"

BOOL CFont::CreateFont(int nHeight, int, int, int, int nWeight, BYTE bItalic, BYTE bUnderline, BYTE, BYTE, BYTE,
                       BYTE, BYTE, BYTE, const char* face) {
    m_info = ui::FontInfo{face ? face : "", nHeight, nWeight, bItalic != 0, bUnderline != 0};
    m_created = true;
    return TRUE;
}

BOOL CBrush::CreateSolidBrush(COLORREF color) {
    m_color = color;
    m_created = true;
    return TRUE;
}

namespace {

// Stand-ins for windows that no object of the program is attached to, as MFC's temporary map.
std::unordered_map<HWND, std::unique_ptr<CWnd>>& wrappers() {
    static std::unordered_map<HWND, std::unique_ptr<CWnd>> map;
    return map;
}

CWnd* fromHandle(HWND handle) {
    ui::Window* w = ui::window(handle);
    if (!w) return nullptr;
    if (w->object) return static_cast<CWnd*>(w->object);
    auto& slot = wrappers()[handle];
    if (!slot) {
        slot = std::make_unique<CWnd>();
        slot->m_hWnd = handle;
    }
    return slot.get();
}

const AFX_MSGMAP_ENTRY kNoEntries[] = {{0, 0, 0, nullptr}};

}  // namespace

CWnd::~CWnd() {
    if (ui::Window* w = model(); w && w->object == this) w->object = nullptr;
}

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
    static const AFX_MSGMAP map = {nullptr, kNoEntries};
    return &map;
}
const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        if (OnCommand(wParam, lParam)) return 0;
        return DefWindowProc(message, wParam, lParam);
    }
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->entries; e->handler; ++e) {
            if (e->message == message) return e->handler(this, wParam, lParam);
        }
    }
    return DefWindowProc(message, wParam, lParam);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->entries; e->handler; ++e) {
            if (e->message == WM_COMMAND && e->id == LOWORD(wParam) && e->code == HIWORD(wParam)) {
                e->handler(this, wParam, lParam);
                return TRUE;
            }
        }
    }
    return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ui::defaultWindowProc(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ui::sendMessage(m_hWnd, message, wParam, lParam);
}
BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ui::postMessage(m_hWnd, message, wParam, lParam);
}

CWnd* CWnd::GetDlgItem(int id) const { return fromHandle(ui::findChild(m_hWnd, id)); }
int CWnd::GetDlgCtrlID() const {
    ui::Window* w = model();
    return w ? w->id : 0;
}
CWnd* CWnd::GetParent() const {
    ui::Window* w = model();
    return w ? fromHandle(w->parent) : nullptr;
}

void CWnd::SetWindowText(const char* text) { SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")); }
void CWnd::GetWindowText(CString& text) const {
    ui::Window* w = model();
    text = w ? w->text : std::string();
}
int CWnd::GetWindowTextLength() const {
    ui::Window* w = model();
    return w ? int(w->text.size()) : 0;
}
void CWnd::SetDlgItemText(int id, const char* text) {
    if (CWnd* item = GetDlgItem(id)) item->SetWindowText(text);
}

BOOL CWnd::EnableWindow(BOOL enable) {
    ui::Window* w = model();
    if (!w) return FALSE;
    BOOL wasDisabled = !w->enabled();
    ui::setEnabled(m_hWnd, enable != FALSE);
    return wasDisabled;
}
BOOL CWnd::IsWindowEnabled() const {
    ui::Window* w = model();
    return w && w->enabled();
}

BOOL CWnd::ShowWindow(int cmd) {
    ui::Window* w = model();
    if (!w) return FALSE;
    BOOL wasVisible = w->visible();
    ui::setVisible(m_hWnd, cmd != SW_HIDE);
    return wasVisible;
}
BOOL CWnd::IsWindowVisible() const {
    for (ui::Window* w = model(); w; w = ui::window(w->parent)) {
        if (!w->visible()) return FALSE;
    }
    return m_hWnd != nullptr;
}

BOOL CWnd::SetWindowPos(const CWnd*, int x, int y, int cx, int cy, UINT flags) {
    ui::Window* w = model();
    if (!w) return FALSE;
    RECT r = w->rect;
    if (!(flags & SWP_NOMOVE)) r = RECT{x, y, x + (r.right - r.left), y + (r.bottom - r.top)};
    if (!(flags & SWP_NOSIZE)) r = RECT{r.left, r.top, r.left + cx, r.top + cy};
    ui::setRect(m_hWnd, r);
    return TRUE;
}

void CWnd::GetWindowRect(LPRECT rect) const {
    ui::Window* w = model();
    if (!w || !rect) return;
    POINT o = ui::screenOrigin(m_hWnd);
    *rect = RECT{o.x, o.y, o.x + (w->rect.right - w->rect.left), o.y + (w->rect.bottom - w->rect.top)};
}

void CWnd::ScreenToClient(LPPOINT point) const {
    POINT o = ui::screenOrigin(m_hWnd);
    point->x -= o.x;
    point->y -= o.y;
}
void CWnd::ScreenToClient(LPRECT rect) const {
    POINT o = ui::screenOrigin(m_hWnd);
    rect->left -= o.x;
    rect->right -= o.x;
    rect->top -= o.y;
    rect->bottom -= o.y;
}

void CWnd::Invalidate(BOOL) {
    if (ui::Window* w = model()) {
        ++w->invalidations;
        ui::changed(m_hWnd, ui::change::Redraw);
    }
}
void CWnd::UpdateWindow() { ui::changed(m_hWnd, ui::change::Redraw); }

BOOL CWnd::DestroyWindow() {
    if (!model()) return FALSE;
    ui::destroyWindow(m_hWnd);
    return TRUE;
}

DWORD CWnd::GetStyle() const {
    ui::Window* w = model();
    return w ? w->style : 0;
}
DWORD CWnd::GetExStyle() const {
    ui::Window* w = model();
    return w ? w->exStyle : 0;
}
BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT) {
    ui::Window* w = model();
    if (!w) return FALSE;
    ui::setExStyle(m_hWnd, (w->exStyle & ~remove) | add);
    return TRUE;
}

void CWnd::SetFont(CFont* font, BOOL redraw) {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font ? HFONT(*font) : nullptr), redraw);
}
HICON CWnd::SetIcon(HICON icon, BOOL big) {
    return reinterpret_cast<HICON>(SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs, void*) { return ui::setTimer(m_hWnd, id, elapseMs); }
BOOL CWnd::KillTimer(UINT_PTR id) { return ui::killTimer(m_hWnd, id); }

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CWnd::SubclassWindow(HWND handle) {
    ui::Window* w = ui::window(handle);
    if (!w || w->object || m_hWnd) return FALSE;
    w->object = this;
    m_hWnd = handle;
    return TRUE;
}
HWND CWnd::UnsubclassWindow() {
    HWND h = m_hWnd;
    if (ui::Window* w = model(); w && w->object == this) w->object = nullptr;
    m_hWnd = nullptr;
    return h;
}

void CWnd::windowGone() {
    m_hWnd = nullptr;
    PostNcDestroy();
}

void CWnd::OnDestroy() { DefWindowProc(WM_DESTROY, 0, 0); }
void CWnd::OnClose() { DefWindowProc(WM_CLOSE, 0, 0); }

HICON CStatic::SetIcon(HICON icon) { return reinterpret_cast<HICON>(SendMessage(STM_SETICON, reinterpret_cast<WPARAM>(icon))); }
HICON CStatic::GetIcon() const { return reinterpret_cast<HICON>(ui::sendMessage(m_hWnd, STM_GETICON, 0, 0)); }

int CButton::GetCheck() const { return int(ui::sendMessage(m_hWnd, BM_GETCHECK, 0, 0)); }
void CButton::SetCheck(int check) { SendMessage(BM_SETCHECK, WPARAM(check)); }

int CEdit::GetLineCount() const { return int(ui::sendMessage(m_hWnd, EM_GETLINECOUNT, 0, 0)); }
void CEdit::LineScroll(int lines, int chars) { SendMessage(EM_LINESCROLL, WPARAM(chars), LPARAM(lines)); }
int CEdit::GetFirstVisibleLine() const { return int(ui::sendMessage(m_hWnd, EM_GETFIRSTVISIBLELINE, 0, 0)); }

void CProgressCtrl::SetRange32(int lower, int upper) { SendMessage(PBM_SETRANGE32, WPARAM(lower), LPARAM(upper)); }
void CProgressCtrl::GetRange(int& lower, int& upper) const {
    int range[2] = {0, 0};
    ui::sendMessage(m_hWnd, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(range));
    lower = range[0];
    upper = range[1];
}
int CProgressCtrl::SetPos(int pos) { return int(SendMessage(PBM_SETPOS, WPARAM(pos))); }
int CProgressCtrl::GetPos() const { return int(ui::sendMessage(m_hWnd, PBM_GETPOS, 0, 0)); }

HICON AfxLoadIcon(int id) { return ui::iconHandle(id); }
HBRUSH AfxQueryCtlColor(HWND control, CDC& dc) {
    ui::Window* w = ui::window(control);
    if (!w) return nullptr;
    UINT type = CTLCOLOR_STATIC;
    switch (w->kind) {
    case ui::Kind::Dialog: type = CTLCOLOR_DLG; break;
    case ui::Kind::Edit: type = CTLCOLOR_EDIT; break;
    case ui::Kind::PushButton:
    case ui::Kind::CheckBox: type = CTLCOLOR_BTN; break;
    default: break;
    }
    HWND target = w->kind == ui::Kind::Dialog ? control : w->parent;
    AFX_CTLCOLOR query{&dc, fromHandle(control), type};
    return reinterpret_cast<HBRUSH>(ui::sendMessage(target, WM_CTLCOLOR, 0, reinterpret_cast<LPARAM>(&query)));
}

int AfxIconId(HICON icon) { return ui::iconId(icon); }

