// The cable pulled or the battery removed at a frame boundary of each of the three driver runs of
// an upload, then the operator's retry as the messages direct: every time the instrument ends
// with its own calibration and the firmware.
#include "app/master_dlg.h"
#include "pages/welcome_page.h"
#include "tests/integration/upload/upload_fixture.h"
#include "upload/upload_page.h"
#include "vendor/simulated.h"

#include <atomic>
#include <chrono>
#include <optional>

namespace uploadtest {
namespace {

// Runs its hook before every write: the moment a cut can come.
class CuttingLine final : public ForwardingLine {
public:
    CuttingLine(std::unique_ptr<platform::SerialLine> inner, std::function<void()> beforeWrite)
        : ForwardingLine(std::move(inner)), beforeWrite_(std::move(beforeWrite)) {}
    bool write(const void* b, uint32_t n, uint32_t& d) override {
        beforeWrite_();
        return ForwardingLine::write(b, n, d);
    }

private:
    std::function<void()> beforeWrite_;
};

enum class Cut { Cable, Battery };

// Where a cut comes: after `frames` frames of the `run`-th line opened (1: first reading with the
// blank key, refused; 2: with the model key; 3: the program run; 4: the second reading).
struct CutPoint {
    int run;
    uint32_t frames;
    Cut kind;
};

std::vector<CutPoint> cutPoints() {
    std::vector<std::pair<int, uint32_t>> at = {{1, 0}, {2, 0}, {2, 1}, {2, 2}};
    // Password, InfoA read, three erases, InfoA restore, password, identity: every boundary.
    for (uint32_t f = 0; f < 10; ++f) at.emplace_back(3, f);
    for (uint32_t f = 40; f < 246; f += 40) at.emplace_back(3, f);
    for (uint32_t f = 0; f < 3; ++f) at.emplace_back(4, f);
    std::vector<CutPoint> points;
    for (auto [run, frames] : at)
        for (Cut kind : {Cut::Cable, Cut::Battery}) points.push_back({run, frames, kind});
    return points;
}

class CutRetry : public UploadFixture, public ::testing::WithParamInterface<CutPoint> {
protected:
    // A programmed instrument with its own calibration; the lines it gives are watched for the cut.
    void open() {
        sim::InstrumentConfig config;
        config.infoA = calibration(0x5A);
        makeInstrument(config);
        bus.add(*instrument);
        vendor = std::make_unique<vendor::SimulatedVendor>(bus);
        ASSERT_TRUE(vendor->installed());
        platform::setSerialOpener([this, inner = sim::makeOpener(*instrument)](const std::string& path) {
            ++runs;
            framesAtOpen = instrument->framesReceived();
            std::unique_ptr<platform::SerialLine> line = inner(path);
            if (!line) return line;
            return std::unique_ptr<platform::SerialLine>(std::make_unique<CuttingLine>(std::move(line), [this] {
                if (armed && runs == point.run && instrument->framesReceived() - framesAtOpen >= point.frames) {
                    armed = false;
                    point.kind == Cut::Cable ? instrument->unplug() : instrument->disconnectPower();
                }
            }));
        });
        wizard.AddPage(&welcome, IDD_WELCOME);
        wizard.AddPage(&page, IDD_UPLOAD);
        wizard.m_nComPort = instrument->comPort();
        wizard.m_strDevicePath = instrument->bridgePath();
        ASSERT_TRUE(driver.open(wizard));
    }
    ~CutRetry() override { page.StopUploadThread(); }

    // One upload from the welcome page; the operator switches the instrument on when asked, and
    // goes Back at the end.
    int upload() {
        runs = 0;
        instrument->setSwitch(false);
        EXPECT_TRUE(driver.click(ID_WIZNEXT));
        std::optional<std::chrono::steady_clock::time_point> switchedAt;
        EXPECT_TRUE(driver.pumpUntil(
            [&] {
                if (!driver.visible(IDC_ICON_BUSY)) return true;
                if (driver.enabled(IDC_UPLOAD_CANCEL) && !switchedAt) {
                    instrument->setSwitch(true);
                    switchedAt = std::chrono::steady_clock::now();
                } else if (switchedAt && std::chrono::steady_clock::now() - *switchedAt > std::chrono::seconds(3)) {
                    driver.click(IDC_UPLOAD_CANCEL);
                }
                return false;
            },
            120000));
        driver.pump();
        int result = page.m_nResult;
        EXPECT_TRUE(driver.click(ID_WIZBACK));
        return result;
    }

    // The operator puts things right and tries again until the tick, choosing the kept backup
    // whenever the program asks for a saved InfoA. The number of uploads it took, or 0.
    int retryUntilDone() {
        for (int attempt = 2; attempt <= 5; ++attempt) {
            if (!instrument->plugged()) instrument->plug();
            if (!instrument->powered()) instrument->connectPower();
            if (answersQueued == driver.fileDialogs().size()) {
                for (const std::string& name : filesInDir()) {
                    driver.queueFileDialogAnswer(dir + "/" + name);
                    ++answersQueued;
                    break;
                }
            }
            if (upload() == 2) return attempt;
        }
        return 0;
    }

    sim::UsbBus bus;
    std::unique_ptr<vendor::SimulatedVendor> vendor;
    CMasterDlg wizard;
    CWelcomePage welcome;
    CUploadPage page;
    CutPoint point = GetParam();
    std::atomic<bool> armed{true};
    int runs = 0;
    uint32_t framesAtOpen = 0;
    size_t answersQueued = 0;
};

TEST_P(CutRetry, RetryEndsWithTheOwnCalibrationAndTheFirmware) {
    open();
    std::vector<uint8_t> before = instrument->read(0x10C0, 64);
    EXPECT_NE(upload(), 2);
    EXPECT_FALSE(armed) << "the cut came";
    EXPECT_GT(retryUntilDone(), 0) << driver.text(IDC_UPLOAD_LOG);
    EXPECT_EQ(instrument->read(0x10C0, 64), before);
    EXPECT_TRUE(instrument->holdsFirmware());
}

std::string pointName(const ::testing::TestParamInfo<CutPoint>& info) {
    const CutPoint& p = info.param;
    return std::string(p.kind == Cut::Cable ? "Cable" : "Battery") + "Run" + std::to_string(p.run) + "Frame" +
           std::to_string(p.frames);
}

INSTANTIATE_TEST_SUITE_P(Cuts, CutRetry, ::testing::ValuesIn(cutPoints()), pointName);

}  // namespace
}  // namespace uploadtest
