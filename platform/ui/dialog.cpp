// Dialogs: creation from templates, data exchange and the modal loop.
#include "platform/ui/afxwin.h"
#include "platform/ui/input.h"

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
    if (m_hWnd && !m_bEnded) {
        ShowWindow(SW_SHOW);
        // As the system's dialog manager: the first tab stop starts with the focus.
        std::vector<HWND> stops = ui::tabOrder(m_hWnd);
        if (!stops.empty()) ui::setFocus(stops.front());
    }
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
        // A flood of posts (a chatty console) must not keep the system's input from the window.
        int handled = ui::pumpMessages(ui::PUMP_SPELL_MS);
        if (m_bEnded || !m_hWnd) break;
        if (handled > 0) {
            ui::backend().pollInput(m_hWnd);
            continue;
        }
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

