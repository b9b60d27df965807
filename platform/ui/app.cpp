// The application object and its command line.
#include "platform/ui/afxwin.h"

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
        if (ui::pumpMessages(ui::PUMP_SPELL_MS) > 0) {
            if (m_pMainWnd && m_pMainWnd->m_hWnd) ui::backend().pollInput(m_pMainWnd->m_hWnd);
            continue;
        }
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

