#pragma once
// Runs CWizApp::InitInstance with a command line on the headless backend, with a script that
// plays inside the wizard's modal loop.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/master_dlg.h"
#include "app/wiz_app.h"
#include "pages/welcome_page.h"
#include "platform/ui/headless.h"
#include "vendor/link.h"

class AppTest : public ::testing::Test {
protected:
    AppTest() { vendor::linkStandIn(); }  // as the program's main does
    // Returns the exit status; `inside` runs while the wizard is shown (never, if it is not).
    int run(std::vector<std::string> args, std::function<void(ui::HeadlessDriver&, CMasterDlg&)> inside = {}) {
        args.insert(args.begin(), "KoralLoader");
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a.c_str());
        AfxSetCommandLine(int(argv.size()), argv.data());
        driver.setScript([&](ui::HeadlessDriver& d) {
            shown = true;
            if (inside) inside(d, *static_cast<CMasterDlg*>(app.m_pMainWnd));
        });
        app.InitInstance();
        AfxSetCommandLine(0, nullptr);
        return app.m_nExitStatus;
    }
    static UINT activePage(CMasterDlg& wizard) {
        CNewWizPage* page = wizard.GetActivePage();
        return page ? page->m_nTemplateID : 0;
    }

    ui::HeadlessDriver driver;
    CWizApp app;
    bool shown = false;
};
