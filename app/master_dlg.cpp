#include "app/master_dlg.h"

#include <vector>

#include "platform/os/clock.h"
#include "platform/os/version.h"
#include "res/version/version.h"
#include "upload/firmware_package.h"

BEGIN_MESSAGE_MAP(CMasterDlg, CNewWizDialog)
ON_WM_CLOSE()
END_MESSAGE_MAP()

CMasterDlg::CMasterDlg(CWnd* parent) : CNewWizDialog(IDD_MASTER, parent), m_hIcon(AfxLoadIcon(IDI_MAINFRAME)) {}

void CMasterDlg::DoDataExchange(CDataExchange* pDX) {
    CNewWizDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_VERSION, m_strVersion);
}

CString readVersionLabel(const char* path) {
    CString label;
    for (int attempt = 0; attempt < 11; ++attempt) {
        uint32_t size = platform::fileVersionInfoSize(path);
        if (size != 0) {
            std::vector<unsigned char> block(size);
            platform::FixedFileInfo info{};
            if (platform::fileVersionInfo(path, size, block.data()) &&
                platform::queryFixedFileInfo(block.data(), size, info)) {
                label.Format("Version %d.%d.%d (Build %d)\n", int(info.fileVersionMS >> 16),
                             int(info.fileVersionMS & 0xFFFF), int(info.fileVersionLS >> 16),
                             int(info.fileVersionLS & 0xFFFF));
                label += KORAL_COPYRIGHT;
            }
        }
        platform::sleepMs(20);
        if (size != 0) break;
    }
    return label;
}

BOOL CMasterDlg::OnInitDialog() {
    SetPlaceholderID(IDC_PLACEHOLDER);
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    const auto& args = AfxGetCommandLine();
    m_strVersion = readVersionLabel(args.empty() ? nullptr : args[0].c_str());

    CNewWizDialog::OnInitDialog();

    platform::Resource identity = firmwareResource(ID_FIRMWARE_IDENTITY);
    CString caption;
    GetWindowText(caption);
    CString text;
    text.Format("%s%.*s", caption.c_str(), int(identity.size),
                identity.data ? reinterpret_cast<const char*>(identity.data) : "");
    text.Remove('\r');
    text.Remove('\n');
    SetWindowText(text.c_str());

    UpdateData(FALSE);
    return TRUE;
}

void CMasterDlg::OnClose() {
    // The dialog manager turns this into Close, or a beep while Close is disabled.
    CNewWizDialog::OnClose();
}
