// Message boxes and the open-file dialog: the MFC calls over the toolkit's requests.
#include <algorithm>
#include <cstring>

#include "platform/ui/afxwin.h"

namespace {

// As MFC's safe owner: the main window; on the GUI thread, else the dialog the operator sees.
HWND boxOwner() {
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd && app->m_pMainWnd->m_hWnd) return app->m_pMainWnd->m_hWnd;
    return ui::onGuiThread() ? ui::activeDialog() : nullptr;
}

}  // namespace

int AfxMessageBox(const char* text, UINT type, UINT) {
    if (!(type & MB_ICONMASK)) {
        UINT buttons = type & MB_TYPEMASK;
        if (buttons == MB_OK || buttons == MB_OKCANCEL) type |= MB_ICONEXCLAMATION;
        if (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) type |= MB_ICONQUESTION;
    }
    ui::MessageBoxRequest request;
    request.text = text ? text : "";
    request.caption = AfxGetAppName();
    request.type = type;
    request.owner = boxOwner();
    return ui::showMessageBox(std::move(request));
}

CFileDialog::CFileDialog(BOOL bOpenFileDialog, const char* defExt, const char* fileName, DWORD flags,
                         const char* filter, CWnd* parent)
    : CDialog(0, parent), m_bOpen(bOpenFileDialog != 0), m_fileName(fileName ? fileName : ""),
      m_filter(filter ? filter : "") {
    // Win32 takes the default extension without its dot.
    m_defExt = defExt ? defExt : "";
    if (!m_defExt.empty() && m_defExt[0] == '.') m_defExt.erase(0, 1);
    m_filterNul = m_filter;
    std::replace(m_filterNul.begin(), m_filterNul.end(), '|', '\0');
    m_ofn.hwndOwner = parent ? parent->m_hWnd : nullptr;
    m_ofn.lpstrFilter = m_filter.empty() ? nullptr : m_filterNul.c_str();
    m_ofn.Flags = flags;
    m_ofn.lpstrDefExt = m_defExt.empty() ? nullptr : m_defExt.c_str();
}

intptr_t CFileDialog::DoModal() {
    ui::FileDialogRequest request;
    request.open = m_bOpen;
    request.defaultExt = m_ofn.lpstrDefExt ? m_ofn.lpstrDefExt : "";
    if (!request.defaultExt.empty() && request.defaultExt[0] == '.') request.defaultExt.erase(0, 1);
    request.fileName = m_fileName;
    request.filter = m_filter;
    if (m_ofn.lpstrFilter && m_ofn.lpstrFilter != m_filterNul.c_str()) {
        // Set by the caller in Win32's form: back to the '|' form backends take.
        request.filter.clear();
        for (const char* p = m_ofn.lpstrFilter; *p; p += std::strlen(p) + 1) request.filter += std::string(p) + "|";
        request.filter += "|";
    }
    request.flags = m_ofn.Flags;
    request.title = m_ofn.lpstrTitle ? m_ofn.lpstrTitle : "";
    request.initialDir = m_ofn.lpstrInitialDir ? m_ofn.lpstrInitialDir : "";
    request.owner = m_ofn.hwndOwner;
    if (!ui::showFileDialog(request)) return IDCANCEL;
    m_path = request.result;
    return IDOK;
}

CString CFileDialog::GetFileName() const {
    size_t at = m_path.find_last_of("/\\");
    return at == std::string::npos ? m_path : CString(m_path.substr(at + 1));
}
