#include "app/sim_operator.h"

#include <filesystem>

#include "app/master_dlg.h"
#include "pages/connect_usb_page.h"
#include "platform/os/clock.h"
#include "platform/os/tempdir.h"
#include "platform/ui/model.h"
#include "sim/instrument.h"
#include "upload/upload_page.h"

namespace {

// The upload page's result icons (tick, cross, question mark) and its busy gears.
constexpr int RESULT_ICONS[] = {1062, 1063, 1064};
constexpr int BUSY_ICON = 1066;

// Tick counts wrap; 0 marks "not seen", so a real 0 becomes 1.
uint32_t stamp() { return platform::tickCount() | 1; }

}  // namespace

BEGIN_MESSAGE_MAP(SimulatedOperator, CWnd)
ON_WM_TIMER()
END_MESSAGE_MAP()

SimulatedOperator::SimulatedOperator(sim::Instrument& instrument, CMasterDlg& wizard, bool clicks)
    : instrument_(instrument), wizard_(wizard), clicks_(clicks) {
    ui::Window proto;
    proto.kind = ui::Kind::Static;  // not visible: nothing for a backend to draw
    SubclassWindow(ui::createWindow(proto, nullptr));
    SetTimer(1, LOOK_EVERY_MS, nullptr);
    if (clicks_) {
        inner_ = &ui::backend();
        ui::setBackend(this);
    }
}

SimulatedOperator::~SimulatedOperator() {
    if (inner_) ui::setBackend(inner_);
    instrument_.stopOperator();
    KillTimer(1);
    DestroyWindow();
}

void SimulatedOperator::OnTimer(UINT_PTR) { look(); }

void SimulatedOperator::look() {
    CNewWizPage* page = wizard_.m_hWnd ? wizard_.GetActivePage() : nullptr;
    if (!page) return;
    if (page->m_nTemplateID != page_) {
        page_ = page->m_nTemplateID;
        nextSince_ = doneSince_ = 0;
        // "Connect the instrument": the hands do what the page's text asks.
        if (page_ == IDD_CONNECT || page_ == IDD_CONNECT2) {
            sim::OperatorScript script;
            script.powerCycling = page_ == IDD_CONNECT2;
            instrument_.runOperator(script);
        }
    }
    if (!clicks_) return;

    CWnd* next = wizard_.GetDlgItem(ID_WIZNEXT);
    if (next && next->IsWindowEnabled() && next->IsWindowVisible()) {
        if (!nextSince_) nextSince_ = stamp();
        if (platform::tickCount() - nextSince_ >= REACTION_MS) {
            nextSince_ = 0;
            click(ID_WIZNEXT);
            return;
        }
    } else {
        nextSince_ = 0;
    }

    if (page_ == IDD_UPLOAD) {
        bool done = !ui::findVisible(page->m_hWnd, BUSY_ICON);
        bool shown = false;
        for (int icon : RESULT_ICONS) shown = shown || ui::findVisible(page->m_hWnd, icon);
        CWnd* close = wizard_.GetDlgItem(IDCANCEL);
        if (done && shown && close && close->IsWindowEnabled()) {
            if (!doneSince_) doneSince_ = stamp();
            if (platform::tickCount() - doneSince_ >= CLOSE_AFTER_MS) click(IDCANCEL);
        } else {
            doneSince_ = 0;
        }
    }
}

void SimulatedOperator::click(UINT id) { wizard_.PostMessage(WM_COMMAND, id, 0); }

int SimulatedOperator::messageBox(const ui::MessageBoxRequest& request) {
    int answer = IDOK;
    switch (request.type & MB_TYPEMASK) {
        case MB_YESNO:
        case MB_YESNOCANCEL: answer = IDYES; break;
        case MB_RETRYCANCEL: answer = IDRETRY; break;
        case MB_ABORTRETRYIGNORE: answer = IDABORT; break;
        default: break;
    }
    inner_->messageBoxAnswered(request, answer);
    return answer;
}

bool SimulatedOperator::fileDialog(ui::FileDialogRequest& request) {
    request.result = newestSavedInfoA(platform::tempPath());
    inner_->fileDialogAnswered(request, !request.result.empty());
    return !request.result.empty();
}

std::string SimulatedOperator::newestSavedInfoA(const std::string& directory) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path newest;
    fs::file_time_type newestTime{};
    for (const fs::directory_entry& e : fs::directory_iterator(directory, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("KORLDR_INFOA_", 0) != 0 || name.size() < 4 || name.substr(name.size() - 4) != ".TXT") continue;
        if (!e.is_regular_file(ec)) continue;
        fs::file_time_type t = e.last_write_time(ec);
        if (ec) continue;
        if (newest.empty() || t > newestTime || (t == newestTime && e.path() > newest)) {
            newest = e.path();
            newestTime = t;
        }
    }
    return newest.string();
}
