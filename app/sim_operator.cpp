#include "app/sim_operator.h"

#include <filesystem>

#include "app/master_dlg.h"
#include "pages/connect_usb_page.h"
#include "pages/service_mode_page.h"
#include "platform/os/clock.h"
#include "platform/os/tempdir.h"
#include "platform/ui/input.h"
#include "platform/ui/model.h"
#include "sim/instrument.h"
#include "upload/upload_page.h"

namespace {

// The upload page's result icons (tick, cross, question mark) and its busy gears.
constexpr int RESULT_ICONS[] = {1062, 1063, 1064};
constexpr int BUSY_ICON = 1066;

// Tick counts wrap; 0 marks "not seen", so a real 0 becomes 1 (and an even tick one later).
uint32_t stamp() { return platform::tickCount() | 1; }
uint32_t since(uint32_t stamped) {
    int32_t elapsed = int32_t(platform::tickCount() - stamped);
    return elapsed > 0 ? uint32_t(elapsed) : 0;
}

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
        nextSince_ = doneSince_ = unpluggedSince_ = 0;
        pageSince_ = stamp();
        if (page_ == IDD_UPLOAD) {
            std::lock_guard lock(offeredMutex_);
            offered_.clear();
        }
        // "Connect the instrument": the hands do what the page's text asks.
        if (page_ == IDD_CONNECT || page_ == IDD_CONNECT2) {
            sim::OperatorScript script;
            script.powerCycling = page_ == IDD_CONNECT2;
            script.replugWhenNoticed = true;
            instrument_.runOperator(script);
        }
    }
    if (page_ == IDD_SERVICEMODE) lookAtServiceMode(*page);
    if (!clicks_) return;

    CWnd* next = wizard_.GetDlgItem(ID_WIZNEXT);
    if (next && next->IsWindowEnabled() && next->IsWindowVisible()) {
        if (!nextSince_) nextSince_ = stamp();
        if (since(nextSince_) >= REACTION_MS) {
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
            if (since(doneSince_) >= CLOSE_AFTER_MS) click(IDCANCEL);
        } else {
            doneSince_ = 0;
        }
    }
}

void SimulatedOperator::lookAtServiceMode(CNewWizPage& page) {
    // A pulled cable: the console box stays still; a person looks at the cable and plugs it in.
    if (instrument_.plugged()) {
        unpluggedSince_ = 0;
    } else if (!unpluggedSince_) {
        unpluggedSince_ = stamp();
    } else if (since(unpluggedSince_) >= IDLE_CABLE_MS) {
        instrument_.plug();
        unpluggedSince_ = 0;
    }
    // No marker after a patient while (a blank flash or a loader still running prints nothing):
    // the page's own advice, the power-cycling method.
    CWnd* next = wizard_.GetDlgItem(ID_WIZNEXT);
    if (!clicks_ || (next && next->IsWindowEnabled()) || since(pageSince_) < PATIENCE_MS) return;
    if (HWND box = ui::findVisible(page.m_hWnd, IDC_POWERCYCLING)) ui::click(box);
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

// The wizard asks again after refusing a file: the next candidate, Cancel when none is left.
bool SimulatedOperator::fileDialog(ui::FileDialogRequest& request) {
    std::unique_lock lock(offeredMutex_);
    request.result = newestSavedInfoA(platform::tempPath(), offered_);
    if (request.result.empty()) offered_.clear();
    else offered_.insert(request.result);
    lock.unlock();
    inner_->fileDialogAnswered(request, !request.result.empty());
    return !request.result.empty();
}

std::string SimulatedOperator::newestSavedInfoA(const std::string& directory, const std::set<std::string>& refused) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path newest;
    fs::file_time_type newestTime{};
    for (const fs::directory_entry& e : fs::directory_iterator(directory, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("KORLDR_INFOA_", 0) != 0 || name.size() < 4 || name.substr(name.size() - 4) != ".TXT") continue;
        if (!e.is_regular_file(ec) || refused.count(e.path().string())) continue;
        fs::file_time_type t = e.last_write_time(ec);
        if (ec) continue;
        if (newest.empty() || t > newestTime || (t == newestTime && e.path() > newest)) {
            newest = e.path();
            newestTime = t;
        }
    }
    return newest.string();
}
