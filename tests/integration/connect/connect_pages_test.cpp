// The connect pages in the wizard, over simulated bridges, the stand-in vendor library and the
// bridges' registry entries, under the headless driver's clock.
#include <gtest/gtest.h>

#include <cstring>

#include "app/master_dlg.h"
#include "device/cp210x.h"
#include "device/export_lookup.h"
#include "pages/connect_usb_page.h"
#include "pages/welcome_page.h"
#include "platform/os/registry.h"
#include "platform/os/windows_version.h"
#include "platform/ui/headless.h"
#include "sim/registry.h"
#include "vendor/link.h"
#include "vendor/simulated.h"

namespace {

constexpr UINT IDD_SERVICEMODE = 142, IDD_UPLOAD = 139;

sim::InstrumentConfig unplugged(const std::string& serial, int comPort) {
    sim::InstrumentConfig c;
    c.attached = false;
    c.bridgeSerial = serial;
    c.comPort = comPort;
    return c;
}

class ConnectPages : public ::testing::Test {
protected:
    void SetUp() override {
        bus.add(first);
        bus.add(second);
        previousRegistry = platform::setRegistry(sim::makeRegistry(bus));
    }
    void TearDown() override {
        if (driver.isOpen()) driver.pressEscape();
        platform::setRegistry(previousRegistry);
        platform::setVersionOverride(std::nullopt);
        vendor::linkStandIn();  // undoes a test's own vendor functions
    }
    // The ordinary page list, shown on the connect page; or the SKIPSERVICE list.
    void open(bool skipService = false) {
        if (!skipService) {
            wizard.AddPage(&welcome, IDD_WELCOME);
            wizard.AddPage(&connect, IDD_CONNECT);
            wizard.AddPage(&service, IDD_SERVICEMODE);
        }
        wizard.AddPage(&connect2, IDD_CONNECT2);
        wizard.AddPage(&upload, IDD_UPLOAD);
        ASSERT_TRUE(driver.open(wizard));
        if (!skipService) {
            ASSERT_TRUE(driver.click(ID_WIZNEXT));
            ASSERT_EQ(wizard.GetActivePage(), &connect);
        }
    }
    void tick(int n = 1) { driver.advance(CONNECT_TIMER_MS * n); }
    bool timerRunning(CWnd& page) { return ui::timerRunning(page.m_hWnd, ID_CONNECT_TIMER); }

    ui::HeadlessDriver driver;
    sim::Instrument first{unplugged("0001", 3)}, second{unplugged("KX 42 a", 4)};
    sim::UsbBus bus;
    vendor::SimulatedVendor vendor{bus};
    std::shared_ptr<platform::Registry> previousRegistry;
    CMasterDlg wizard;
    CWelcomePage welcome;
    CConnectUSBPage connect;
    CNewWizPage service{IDD_SERVICEMODE};
    CConnectUSBPage2 connect2;
    CNewWizPage upload{IDD_UPLOAD};
};

}  // namespace

TEST_F(ConnectPages, BridgePluggedInIsTakenAtTheNextTickAndThePageMovesOnByItself) {
    open();
    EXPECT_FALSE(driver.enabled(ID_WIZNEXT));
    EXPECT_TRUE(timerRunning(connect));
    tick(4);
    EXPECT_EQ(wizard.GetActivePage(), &connect);

    second.plug();
    tick();
    EXPECT_EQ(wizard.GetActivePage(), &service);
    EXPECT_EQ(wizard.m_nComPort, 4);
    EXPECT_EQ(wizard.m_strDevicePath, second.bridgePath());
    EXPECT_TRUE(driver.enabled(ID_WIZBACK));
    EXPECT_TRUE(driver.enabled(ID_WIZNEXT));
    EXPECT_FALSE(timerRunning(connect));
}

TEST_F(ConnectPages, BridgeAttachedOnEntryIsTakenOnlyAfterUnplugAndReplug) {
    first.plug();
    open();
    tick(8);
    EXPECT_EQ(wizard.GetActivePage(), &connect);
    EXPECT_FALSE(driver.enabled(ID_WIZNEXT));
    first.unplug();
    tick();
    first.plug();
    tick();
    EXPECT_EQ(wizard.GetActivePage(), &service);
    EXPECT_EQ(wizard.m_strDevicePath, first.bridgePath());
    EXPECT_EQ(wizard.m_nComPort, 3);

    // Back to the connect page: the bridge still plugged in counts as known again.
    ASSERT_TRUE(driver.click(ID_WIZBACK));
    EXPECT_EQ(wizard.GetActivePage(), &connect);
    tick(4);
    EXPECT_EQ(wizard.GetActivePage(), &connect);
}

TEST_F(ConnectPages, OfTwoNewBridgesTheLowerDeviceIndexIsTaken) {
    open();
    first.plug();
    second.plug();
    tick();
    EXPECT_EQ(wizard.m_strDevicePath, first.bridgePath());
    EXPECT_EQ(wizard.m_nComPort, 3);
}

TEST_F(ConnectPages, Windows98LooksUpTheSlabcrKeysWithTheSerialInCapitals) {
    sim::InstrumentConfig c = unplugged("kx 77 b", 9);
    c.registryPlainKey = false;  // only the 95/98/Me entry
    sim::Instrument only9x(c);
    bus.add(only9x);
    open();
    only9x.plug();
    tick();
    EXPECT_EQ(wizard.m_nComPort, -1);  // the NT family finds no key, and still moves on
    EXPECT_EQ(wizard.GetActivePage(), &service);

    platform::setVersionOverride(platform::VERSION_WINDOWS_98);
    ASSERT_TRUE(driver.click(ID_WIZBACK));
    only9x.unplug();
    tick();
    only9x.plug();
    tick();
    EXPECT_EQ(wizard.GetActivePage(), &service);
    EXPECT_EQ(wizard.m_nComPort, 9);
}

TEST_F(ConnectPages, SkipServiceStartsOnThePowerCyclingPageWhichChecksEveryTickUntilNext) {
    open(/*skipService=*/true);
    EXPECT_EQ(wizard.GetActivePage(), &connect2);
    EXPECT_FALSE(driver.enabled(ID_WIZBACK));
    EXPECT_FALSE(driver.enabled(ID_WIZNEXT));

    second.plug();
    tick();
    EXPECT_EQ(wizard.GetActivePage(), &connect2);  // no automatic move here
    EXPECT_TRUE(driver.enabled(ID_WIZNEXT));
    EXPECT_EQ(wizard.m_nComPort, 4);
    wizard.m_nComPort = 0;
    tick();
    EXPECT_EQ(wizard.m_nComPort, 4);  // looked up again
    EXPECT_TRUE(timerRunning(connect2));

    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    EXPECT_EQ(wizard.GetActivePage(), &upload);
    EXPECT_FALSE(timerRunning(connect2));
}

TEST_F(ConnectPages, LeavingByBackOrCloseStopsTheTimer) {
    open();
    ASSERT_TRUE(driver.click(ID_WIZBACK));
    EXPECT_EQ(wizard.GetActivePage(), &welcome);
    EXPECT_FALSE(timerRunning(connect));
    first.plug();
    tick(4);
    EXPECT_EQ(wizard.GetActivePage(), &welcome);
    EXPECT_EQ(wizard.m_nComPort, -1);

    ASSERT_TRUE(driver.click(ID_WIZNEXT));
    EXPECT_TRUE(timerRunning(connect));
    ASSERT_TRUE(driver.click(IDCANCEL));
    EXPECT_FALSE(driver.isOpen());
    EXPECT_EQ(ui::nextTimerDueUs(), UINT64_MAX);
}

namespace {

int g_failingOpens = 0;
CP210x_STATUS KORAL_WINAPI failingOpen(uint32_t index, CP210x_HANDLE* handle) {
    ++g_failingOpens;
    return 0xFF;
}
// A library that reports more serial bytes than the buffer holds (it writes only 64).
CP210x_STATUS KORAL_WINAPI overlongSerial(CP210x_HANDLE, void* buffer, uint8_t* length, int) {
    std::memset(buffer, 'S', CP210x_SERIAL_BUFFER_SIZE);
    *length = 200;
    return 0;
}

}  // namespace

TEST_F(ConnectPages, BridgeThatCannotBeOpenedIsTriedAgainOnEveryTick) {
    RegisterLinkedFunction("CP210x_Open", reinterpret_cast<void*>(&failingOpen));
    open();
    first.plug();
    g_failingOpens = 0;
    tick(3);
    EXPECT_EQ(g_failingOpens, 3);
    EXPECT_EQ(wizard.GetActivePage(), &connect);
    EXPECT_FALSE(driver.enabled(ID_WIZNEXT));
    vendor::linkStandIn();
    tick();
    EXPECT_EQ(wizard.GetActivePage(), &service);
}

TEST_F(ConnectPages, SerialLengthBeyondTheBufferIsCutToIt) {
    RegisterLinkedFunction("CP210x_GetDeviceSerialNumber", reinterpret_cast<void*>(&overlongSerial));
    auto registry = std::make_shared<platform::ValueRegistry>([] {
        return std::vector<platform::RegistryValue>{
            {"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_10C4&PID_EA60\\" + std::string(63, 'S') + "\\Device Parameters",
             "PortName", "COM21"}};
    });
    platform::setRegistry(registry);
    open();
    first.plug();
    tick();
    EXPECT_EQ(wizard.m_nComPort, 21);
}
