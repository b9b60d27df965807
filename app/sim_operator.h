#pragma once
// The person in front of the wizard under SIMULATE. Physical steps: when a connect page asks for
// the instrument, the operator starts the instrument's operator script (battery, On switch,
// cable; the power-cycling steps on the power-cycling page), which then reacts to what the
// instrument sees. With clicks on, the operator also clicks Next once it has been enabled for a
// moment, answers every message box with its first button (OK), picks the newest saved InfoA
// file when the wizard asks for one (the next newest when the wizard refuses it, Cancel when
// none is left), ticks "Use power-cycling method" when the service-mode page shows no marker for a
// patient while, and closes the wizard a few seconds after the upload page shows its result. A
// cable pulled while the service-mode page waits goes back in once the page has sat idle. It
// watches the wizard on a timer of its own, so it needs no hook in any page.
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "platform/ui/afxwin.h"
#include "platform/ui/backend.h"

namespace sim {
class Instrument;
}
class CMasterDlg;
class CNewWizPage;

class SimulatedOperator : public CWnd, private ui::Backend {
public:
    static constexpr uint32_t REACTION_MS = 800;     // from a page's request to the click
    static constexpr uint32_t CLOSE_AFTER_MS = 3000; // from the upload's result to Close
    static constexpr uint32_t LOOK_EVERY_MS = 100;
    // The service-mode page: how long a person waits for "PROGRAMMING MODE" before ticking the
    // power-cycling box, and for the page to react to a pulled cable before plugging it back.
    static constexpr uint32_t PATIENCE_MS = 20000;
    static constexpr uint32_t IDLE_CABLE_MS = 3000;

    SimulatedOperator(sim::Instrument& instrument, CMasterDlg& wizard, bool clicks);
    ~SimulatedOperator() override;

    // The newest "KORLDR_INFOA_*.TXT" in `directory` that is not in `refused`; empty when there
    // is none.
    static std::string newestSavedInfoA(const std::string& directory, const std::set<std::string>& refused = {});

    void OnTimer(UINT_PTR id);

private:
    void look();
    void lookAtServiceMode(CNewWizPage& page);
    void click(UINT id);

    int messageBox(const ui::MessageBoxRequest& request) override;
    bool fileDialog(ui::FileDialogRequest& request) override;
    void beep(UINT type) override { inner_->beep(type); }
    bool waitForInput(HWND modalDialog) override { return inner_->waitForInput(modalDialog); }
    void windowCreated(HWND h) override { inner_->windowCreated(h); }
    void windowDestroyed(HWND h) override { inner_->windowDestroyed(h); }
    void windowChanged(HWND h, unsigned what) override { inner_->windowChanged(h, what); }

    sim::Instrument& instrument_;
    CMasterDlg& wizard_;
    bool clicks_;
    ui::Backend* inner_ = nullptr;  // the backend that draws, while this one answers for it
    UINT page_ = 0;                 // template of the page seen last
    uint32_t nextSince_ = 0;        // when Next was seen enabled on this page (0: it was not)
    uint32_t doneSince_ = 0;        // when the upload's result was seen (0: not yet)
    uint32_t pageSince_ = 0;        // when the page seen last was entered
    uint32_t unpluggedSince_ = 0;   // when the cable was seen out on the service-mode page
    std::mutex offeredMutex_;       // the file dialog may be asked for on the upload's worker
    std::set<std::string> offered_; // saved InfoA files chosen during this upload

    DECLARE_MESSAGE_MAP()
};
