#include "platform/ui/afxwin.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/ui/backend.h"

// ---- CString

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) {
        clear();
        return;
    }
    std::string out(size_t(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(size_t(n));
    assign(std::move(out));
}

int CString::Find(const char* sub, int start) const {
    size_t at = find(sub, size_t(start < 0 ? 0 : start));
    return at == npos ? -1 : int(at);
}

int CString::Replace(const char* from, const char* to) {
    size_t fromLen = std::strlen(from);
    if (fromLen == 0) return 0;
    size_t toLen = std::strlen(to);
    int count = 0;
    for (size_t at = find(from); at != npos; at = find(from, at + toLen)) {
        replace(at, fromLen, to);
        ++count;
    }
    return count;
}

int CString::Remove(char ch) {
    size_t before = size();
    erase(std::remove(begin(), end(), ch), end());
    return int(before - size());
}

// ---- GDI objects

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

// ---- CWnd

namespace {

// Stand-ins for windows that no object of the program is attached to, as MFC's temporary map.
std::unordered_map<HWND, std::unique_ptr<CWnd>>& wrappers() {
    static std::unordered_map<HWND, std::unique_ptr<CWnd>> map;
    return map;
}

CWnd* fromHandle(HWND handle) {
    ui::Window* w = ui::window(handle);
    if (!w) return nullptr;
    if (w->object) return w->object;
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
    if (enable) {
        w->style &= ~WS_DISABLED;
    } else {
        w->style |= WS_DISABLED;
    }
    if (wasDisabled == !enable) return wasDisabled;
    ui::changed(m_hWnd);
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
    if (cmd == SW_HIDE) {
        w->style &= ~WS_VISIBLE;
    } else {
        w->style |= WS_VISIBLE;
    }
    ui::changed(m_hWnd);
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
    if (!(flags & SWP_NOMOVE)) {
        LONG width = w->rect.right - w->rect.left, height = w->rect.bottom - w->rect.top;
        w->rect = RECT{x, y, x + width, y + height};
    }
    if (!(flags & SWP_NOSIZE)) {
        w->rect.right = w->rect.left + cx;
        w->rect.bottom = w->rect.top + cy;
    }
    ui::changed(m_hWnd);
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
        ui::changed(m_hWnd);
    }
}
void CWnd::UpdateWindow() { ui::changed(m_hWnd); }

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
    w->exStyle = (w->exStyle & ~remove) | add;
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

void CWnd::OnDestroy() { DefWindowProc(WM_DESTROY, 0, 0); }
void CWnd::OnClose() { DefWindowProc(WM_CLOSE, 0, 0); }

// ---- controls

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

// ---- data exchange

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.m_hWnd) return;
    control.SubclassWindow(ui::findChild(pDX->m_pDlgWnd->m_hWnd, id));
}

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
    HWND h = ui::findChild(pDX->m_pDlgWnd->m_hWnd, id);
    ui::Window* w = ui::window(h);
    if (!w) return;
    if (pDX->m_bSaveAndValidate) {
        value = w->text;
    } else {
        ui::sendMessage(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
    }
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
    HWND h = ui::findChild(pDX->m_pDlgWnd->m_hWnd, id);
    if (!ui::window(h)) return;
    if (pDX->m_bSaveAndValidate) {
        value = int(ui::sendMessage(h, BM_GETCHECK, 0, 0));
    } else {
        ui::sendMessage(h, BM_SETCHECK, WPARAM(value), 0);
    }
}

// ---- CDialog

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::~CDialog() {
    // Messages of the window must not reach a derived part that is already gone.
    if (m_hWnd) DestroyWindow();
}

BOOL CDialog::CreateFromTemplate(UINT templateId, CWnd* parent, bool modal) {
    if (m_hWnd) return FALSE;
    const ui::DialogTemplate* t = ui::findDialogTemplate(int(templateId));
    if (!t) return FALSE;
    bool child = (t->style & WS_CHILD) != 0 && !modal;
    HWND h = ui::createDialogFromTemplate(int(templateId), parent ? parent->m_hWnd : nullptr, child);
    if (!h) return FALSE;
    ui::window(h)->object = this;
    ui::window(h)->modal = modal;
    m_hWnd = h;
    SendMessage(WM_INITDIALOG, 0, 0);
    if (m_hWnd && !modal && (t->style & WS_VISIBLE)) ShowWindow(SW_SHOW);
    return m_hWnd != nullptr;
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    m_nIDTemplate = templateId;
    return CreateFromTemplate(templateId, parent, false);
}

BOOL CDialog::BeginModal() {
    m_bEnded = false;
    m_nResult = -1;
    if (!CreateFromTemplate(m_nIDTemplate, m_pParentWnd, true)) return FALSE;
    m_bInModal = true;
    if (m_hWnd && !m_bEnded) ShowWindow(SW_SHOW);
    return TRUE;
}

intptr_t CDialog::FinishModal() {
    m_bInModal = false;
    if (m_hWnd) DestroyWindow();
    return m_nResult;
}

intptr_t CDialog::DoModal() {
    if (!BeginModal()) return -1;
    while (!m_bEnded && m_hWnd) {
        if (ui::pumpMessages() > 0) continue;
        if (m_bEnded || !m_hWnd) break;
        if (!ui::backend().waitForInput(m_hWnd)) EndDialog(-1);
    }
    return FinishModal();
}

void CDialog::EndDialog(int result) {
    m_nResult = result;
    m_bEnded = true;
    if (!m_bInModal && m_hWnd) ShowWindow(SW_HIDE);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog();
    return CWnd::WindowProc(message, wParam, lParam);
}

// ---- application

namespace {
CWinApp* g_app = nullptr;
std::vector<std::string>& commandLine() {
    static std::vector<std::string> args;
    return args;
}
}  // namespace

void CCommandLineInfo::ParseParam(const char* param, BOOL flag, BOOL) {
    if (flag || !m_strFileName.empty()) return;
    m_strFileName = param;
    if (m_nShellCommand == FileNew) m_nShellCommand = FileOpen;
}

CWinApp::CWinApp(const char* appName) {
    if (appName) {
        m_appName = appName;
        m_pszAppName = m_appName.c_str();
    }
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

void CWinApp::SetRegistryKey(const char* key) {
    m_registryKey = key ? key : "";
    m_pszRegistryKey = m_registryKey.c_str();
    m_profileName = m_pszAppName ? m_pszAppName : "";
    m_pszProfileName = m_profileName.c_str();
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info) {
    const auto& args = AfxGetCommandLine();
    for (size_t i = 1; i < args.size(); ++i) {
        const char* p = args[i].c_str();
        BOOL flag = p[0] == '-' || p[0] == '/';
        info.ParseParam(flag ? p + 1 : p, flag, i + 1 == args.size());
    }
}

int CWinApp::Run() {
    ui::setGuiThread();
    if (!InitInstance()) return 0;
    while (m_pMainWnd && m_pMainWnd->m_hWnd) {
        if (ui::pumpMessages() > 0) continue;
        if (!ui::backend().waitForInput(m_pMainWnd->m_hWnd)) break;
    }
    return 0;
}

CWinApp* AfxGetApp() { return g_app; }
const char* AfxGetAppName() { return g_app && g_app->m_pszAppName ? g_app->m_pszAppName : ""; }

void AfxSetCommandLine(int argc, const char* const* argv) {
    commandLine().assign(argv, argv + argc);
}
const std::vector<std::string>& AfxGetCommandLine() { return commandLine(); }

int AfxMessageBox(const char* text, UINT type, UINT) {
    if (!(type & MB_ICONMASK)) {
        UINT buttons = type & MB_TYPEMASK;
        if (buttons == MB_OK || buttons == MB_OKCANCEL) type |= MB_ICONEXCLAMATION;
        if (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) type |= MB_ICONQUESTION;
    }
    ui::MessageBoxRequest request{text ? text : "", AfxGetAppName(), type, ui::onGuiThread()};
    int answer = IDOK;
    ui::runOnGuiThread([&] { answer = ui::backend().messageBox(request); });
    return answer;
}

HICON AfxLoadIcon(int id) { return reinterpret_cast<HICON>(uintptr_t(id)); }
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

int AfxIconId(HICON icon) { return int(reinterpret_cast<uintptr_t>(icon)); }

// ---- open-file dialog

CFileDialog::CFileDialog(BOOL openFileDialog, const char* defExt, const char* fileName, DWORD flags,
                         const char* filter, CWnd* parent)
    : CDialog(0, parent) {
    m_request.open = openFileDialog != 0;
    m_request.defaultExt = defExt ? defExt : "";
    m_request.fileName = fileName ? fileName : "";
    m_request.flags = flags;
    m_request.filter = filter ? filter : "";
}

intptr_t CFileDialog::DoModal() {
    bool chosen = false;
    ui::runOnGuiThread([&] { chosen = ui::backend().fileDialog(m_request); });
    if (!chosen) return IDCANCEL;
    m_path = m_request.result;
    return IDOK;
}

CString CFileDialog::GetFileName() const {
    size_t at = m_path.find_last_of("/\\");
    return at == std::string::npos ? m_path : CString(m_path.substr(at + 1));
}
