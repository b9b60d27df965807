// Message boxes and the open-file dialog: requests to the backend.
#include "platform/ui/afxwin.h"

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
