// The whole page sequence from plug-in to the upload page, with the real connect pages, the
// simulated instrument behind the stand-in vendor library and its registry entries, and the
// scripted operator's hands; under the worker clock.
#include <gtest/gtest.h>

#include "app/master_dlg.h"
#include "bsl/bsl.h"
#include "pages/connect_usb_page.h"
#include "pages/service_mode_page.h"
#include "platform/os/registry.h"
#include "sim/registry.h"
#include "tests/support/instrument.h"
#include "tests/support/worker_clock.h"
#include "vendor/simulated.h"

namespace {

class UploadStandIn : public CNewWizPage {
public:
    UploadStandIn() : CNewWizPage(139) {}
    void OnEnterPage() override { m_pWizard->EnableNext(FALSE); }
};

sim::InstrumentConfig unpluggedInstrument() {
    sim::InstrumentConfig c = koral_test::instrumentWithApplication();
    c.attached = false;
    c.comPort = 4;
    return c;
}

class PageSequence : public ::testing::Test {
protected:
    void SetUp() override {
        bslResetState();
        bus.add(instrument);
        previousRegistry_ = platform::setRegistry(sim::makeRegistry(bus));
        previousOpener_ = platform::setSerialOpener(sim::makeOpener(bus));
        wizard.AddPage(&connect, IDD_CONNECT);
        wizard.AddPage(&service, IDD_SERVICEMODE);
        wizard.AddPage(&connect2, IDD_CONNECT2);
        wizard.AddPage(&upload, 139);
        ASSERT_TRUE(driver.open(wizard));
        instrument.runOperator();  // the connect page's steps: battery, switch, cable
        ASSERT_TRUE(clock.pumpUntil(driver, [&] { return wizard.GetActivePage() == &service; }));
        EXPECT_EQ(wizard.m_nComPort, 4);
    }
    void TearDown() override {
        if (driver.isOpen()) driver.pressEscape();
        platform::setSerialOpener(previousOpener_);
        platform::setRegistry(previousRegistry_);
    }
    bool nextEnabled() { return driver.enabled(ID_WIZNEXT); }

    ui::HeadlessDriver driver;
    koral_test::WorkerClock clock;
    sim::Instrument instrument{unpluggedInstrument()};
    sim::UsbBus bus;
    vendor::SimulatedVendor vendor{bus};
    CMasterDlg wizard;
    CConnectUSBPage connect;
    CServiceModePage service;
    CConnectUSBPage2 connect2;
    UploadStandIn upload;
    std::shared_ptr<platform::Registry> previousRegistry_;
    platform::SerialOpener previousOpener_;
};

TEST_F(PageSequence, ToggledIntoProgrammingModeStraightToTheUploadPage) {
    ASSERT_TRUE(clock.pumpUntil(driver, [&] { return nextEnabled(); }));
    EXPECT_NE(driver.text(IDC_CONSOLE).find("PROGRAMMING MODE"), std::string::npos);
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    EXPECT_EQ(wizard.GetActivePage(), &upload);
    EXPECT_FALSE(serialPortOpen());
}

TEST_F(PageSequence, PowerCyclingThroughTheSecondConnectPage) {
    ASSERT_TRUE(driver.click(IDC_POWERCYCLING));
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    ASSERT_EQ(wizard.GetActivePage(), &connect2);
    EXPECT_FALSE(nextEnabled());
    instrument.runOperator({.powerCycling = true});  // the hands follow the page's steps
    ASSERT_TRUE(clock.pumpUntil(driver, [&] { return nextEnabled(); }));
    EXPECT_FALSE(instrument.switchIsOn());
    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    EXPECT_EQ(wizard.GetActivePage(), &upload);
    EXPECT_EQ(wizard.m_nComPort, 4);
    EXPECT_EQ(wizard.m_strDevicePath, instrument.bridgePath());
}

}  // namespace
