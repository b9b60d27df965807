// The upload worker's sequence, run on the test thread under the virtual clock against the
// simulated instrument and its bridge; what it posts is recorded by a bare window.
#include "device/console_reader.h"
#include "platform/os/event.h"
#include "tests/integration/upload/upload_fixture.h"
#include "upload/engine_window_output.h"
#include "upload/upload_thread.h"
#include "vendor/simulated.h"

namespace uploadtest {
namespace {

using Strings = std::vector<std::string>;

class Recorder : public CWnd {
public:
    struct Message {
        UINT id;
        WPARAM wParam;
        std::string text;
    };
    Recorder() { SubclassWindow(ui::HeadlessDriver::createBareWindow()); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_ENGINE_TEXT) {
            messages.push_back({message, wParam, reinterpret_cast<const char*>(lParam)});
            if (wParam) freeEngineText(reinterpret_cast<char*>(lParam));
            return 0;
        }
        if (message >= WM_UPLOAD_STARTED && message <= WM_ENGINE_PROGRESS) {
            messages.push_back({message, wParam, {}});
            return 0;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }
    std::string log() const {
        std::string all;
        for (const Message& m : messages) all += m.text;
        return all;
    }
    std::vector<UINT> ids(UINT from = WM_UPLOAD_STARTED, UINT to = WM_CONSOLE_OPENED) const {
        std::vector<UINT> out;
        for (const Message& m : messages)
            if (m.id >= from && m.id <= to) out.push_back(m.id);
        return out;
    }
    bool has(UINT id) const {
        return std::any_of(messages.begin(), messages.end(), [id](const Message& m) { return m.id == id; });
    }
    std::vector<Message> messages;
};

// The bridge's line, but 115200 baud is refused.
class RefusingBaudLine final : public ForwardingLine {
public:
    using ForwardingLine::ForwardingLine;
    bool setState(const platform::LineState& s) override { return s.baudRate != 115200 && ForwardingLine::setState(s); }
};

constexpr const char* FINAL_LINE = "\nIt is now safe to remove the USB cable.\n";

class Worker : public UploadFixture {
protected:
    // The page's side of the job; the stop event is set already, so the console phase opens the
    // port at 115200 and ends at once. Opens are counted; one can be refused, or given a line
    // that refuses 115200 baud, and `beforeOpen` may change the instrument first.
    void start(sim::InstrumentConfig config = {}, bool programmed = true) {
        makeInstrument(config, programmed);
        bus.add(*instrument);
        vendor = std::make_unique<vendor::SimulatedVendor>(bus);
        ASSERT_TRUE(vendor->installed());
        platform::setSerialOpener([this, inner = sim::makeOpener(*instrument)](const std::string& path) {
            ++opens;
            if (beforeOpen) beforeOpen(opens);
            std::unique_ptr<platform::SerialLine> line = opens == refuseOpen ? nullptr : inner(path);
            if (line && opens == refuseBaud) line = std::make_unique<RefusingBaudLine>(std::move(line));
            return line;
        });
        setEngineOutputWindow(recorder.m_hWnd);
        stop->set();
        job.window = recorder.m_hWnd;
        job.driver = setup;
        job.portPath = "\\\\.\\COM3";
        job.devicePath = instrument->bridgePath();
        job.image = image.data();
        job.imageSize = uint32_t(image.size());
        job.stopEvent = stop.get();
        job.result = &result;
    }
    void run() {
        EXPECT_EQ(RunUpload(job), 0u);
        driver.pump();
        // Whatever happened, the end step came last.
        ASSERT_GE(recorder.messages.size(), 2u);
        EXPECT_EQ(recorder.messages.back().id, WM_UPLOAD_FINISHED);
        EXPECT_EQ(recorder.messages[recorder.messages.size() - 2].text, FINAL_LINE);
        EXPECT_EQ(recorder.messages.front().id, WM_UPLOAD_STARTED);
        EXPECT_FALSE(serialPortOpen());
    }
    Strings passwords() const { return passwordsIn(recorder.log()); }

    Recorder recorder;
    sim::UsbBus bus;
    std::unique_ptr<vendor::SimulatedVendor> vendor;
    std::unique_ptr<platform::Event> stop = platform::createManualResetEvent(false);
    UploadJob job;
    int result = -1;
    int opens = 0, refuseOpen = 0, refuseBaud = 0;
    std::function<void(int)> beforeOpen;
};

TEST_F(Worker, BlankVectorsUploadWithTheBlankKeyAndReadBackWithTheModelKey) {
    start({}, false);
    std::vector<uint8_t> infoA = instrument->read(0x10C0, 64);
    run();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(passwords(), (Strings{"key_BLANK.txt", "key_BLANK.txt", "key_BLANK.txt", "key_VKT.txt"}));
    EXPECT_TRUE(instrument->holdsFirmware());
    EXPECT_EQ(instrument->read(0x10C0, 64), infoA);
    EXPECT_TRUE(boxTexts().empty());
    EXPECT_TRUE(filesInDir().empty()) << "equal readings leave no backup";
    EXPECT_EQ(recorder.ids(), (std::vector<UINT>{WM_UPLOAD_STARTED, WM_CONSOLE_OPENED, WM_UPLOAD_FINISHED}));
    std::string log = recorder.log();
    size_t reset = log.find("Resetting device...\nWaiting for device...\n");
    size_t uploaded = log.find("\n\nFirmware has been uploaded.\n\nPlease flip the switch to the On position (down)...\n"
                               "(Hit Cancel if nothing happens)\n");
    EXPECT_NE(reset, std::string::npos);
    EXPECT_GT(uploaded, reset);
    EXPECT_GT(log.rfind("Programming completed."), log.find("Mass Erase..."));
    // The worker's own lines are constant texts; the driver's are buffers to free.
    for (const auto& m : recorder.messages) {
        if (m.text == FINAL_LINE || m.text == "Resetting device...\n") {
            EXPECT_EQ(m.wParam, 0u);
        } else if (m.text.rfind("Transmit PSW", 0) == 0) {
            EXPECT_EQ(m.wParam, 1u);
        }
    }
    EXPECT_EQ(instrument->deviceBaud(), 115200u);
}

TEST_F(Worker, NeitherKeyEndsAtTheFirstReading) {
    sim::InstrumentConfig config;
    config.flash = {sim::Section{0xFFE0, std::vector<uint8_t>(32, 0x44)}};
    start(config);
    run();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(boxTexts(), Strings{"Error reading InfoA"});
    EXPECT_EQ(passwords(), (Strings{"key_BLANK.txt", "key_VKT.txt"}));
}

TEST_F(Worker, NoPortFoundEndsAtTheFirstReading) {
    start();
    job.driver.portOption = "-c\\\\.\\COM-1";
    job.portPath = "\\\\.\\COM-1";
    run();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(boxTexts(), Strings{"Error reading InfoA"});
    EXPECT_EQ(recorder.log().find("Transmit"), std::string::npos);
}

// An upload cut at the mass erase left the flash and InfoA blank and its first backup kept. The
// restore from that backup leaves the flash erased, so the backup stays; the next upload that puts
// the firmware in place and reads the calibration back equal deletes it. A copy the operator
// keeps elsewhere is never touched.
TEST_F(Worker, RestoredFromBackupStaysUntilAnUploadHasVerifiedThatCalibration) {
    sim::InstrumentConfig config;
    config.infoA = std::vector<uint8_t>(64, 0xFF);
    start(config, false);
    CString kept, problem;
    ASSERT_TRUE(NewInfoABackup(kept, problem));
    spit(kept, infoAImage(calibration(4)));
    std::string archive = dir + "/instrument42_calibration.TXT";
    spit(archive, infoAImage(calibration(4)));
    driver.queueFileDialogAnswer(std::string(kept));
    run();
    EXPECT_EQ(boxTexts(), (Strings{"InfoA is blank! You need to restore it from file",
                                   "InfoA successfully restored. Hit Back to try again.\n\nThe instrument holds no "
                                   "firmware now, so it cannot show programming mode: on the page \"Enter Programming "
                                   "Mode\" tick \"Use power-cycling method\" and click Next."}));
    EXPECT_EQ(instrument->read(0x10C0, 64), calibration(4));
    EXPECT_EQ(filesInDir(), (Strings{"KORLDR_INFOA_261209_225529.TXT", "instrument42_calibration.TXT"}));

    run();
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(instrument->holdsFirmware());
    EXPECT_EQ(instrument->read(0x10C0, 64), calibration(4));
    EXPECT_EQ(filesInDir(), Strings{"instrument42_calibration.TXT"});
}

TEST_F(Worker, FailedProgramRunKeepsTheFirstBackup) {
    sim::InstrumentConfig config;
    config.faults.wire = {sim::WireFault{sim::FaultAction::Nak, sim::FaultTrigger::Frame, 40, 0x12}};
    start(config);
    run();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(boxTexts().empty()) << "the driver's lines say what went wrong";
    ASSERT_EQ(filesInDir(), Strings{FIRST_BACKUP});
    EXPECT_EQ(slurp(dir + "/" + FIRST_BACKUP), infoAImage(instrument->read(0x10C0, 64)));
}

TEST_F(Worker, ChangedInfoAKeepsTheFirstBackupAndSaysSo) {
    start();
    std::vector<uint8_t> before = instrument->read(0x10C0, 64);
    beforeOpen = [this](int n) {
        if (n == 4) instrument->load(0x10C0, calibration(77));  // before the second reading
    };
    run();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(boxTexts(), Strings{"Programming unsuccessful - InfoA has changed"});
    ASSERT_EQ(filesInDir(), Strings{FIRST_BACKUP});
    EXPECT_EQ(slurp(dir + "/" + FIRST_BACKUP), infoAImage(before));
    EXPECT_FALSE(recorder.has(WM_CONSOLE_OPENED));
}

TEST_F(Worker, BridgeNotInTheListIsNotReset) {
    start();
    job.devicePath = instrument->bridgePath() + "x";
    run();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(boxTexts(), Strings{"Cound not find device to reset"});
    EXPECT_TRUE(filesInDir().empty());
    EXPECT_EQ(recorder.log().find("Resetting device"), std::string::npos);
}

// Polls come 250 ms apart, 41 of them.
TEST_F(Worker, BridgeBackByTheLastPollCounts) {
    sim::InstrumentConfig config;
    config.bridgeResetMs = 41 * 250 - 100;
    start(config);
    run();
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(boxTexts().empty());
    EXPECT_TRUE(recorder.has(WM_CONSOLE_OPENED));
}

TEST_F(Worker, BridgeBackAfterTheLastPollIsATimeout) {
    sim::InstrumentConfig config;
    config.bridgeResetMs = 41 * 250 + 100;
    start(config);
    run();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(boxTexts(), Strings{"Timeout waiting for device after reset"});
    EXPECT_FALSE(recorder.has(WM_CONSOLE_OPENED));
}

TEST_F(Worker, RefusedComPortEndsBeforeTheConsolePhase) {
    start();
    refuseOpen = 5;  // blank and model key, program, second reading, then the console
    run();
    EXPECT_EQ(boxTexts(), Strings{"Open of COM Port failed\n"});
    EXPECT_FALSE(recorder.has(WM_CONSOLE_OPENED));
    EXPECT_EQ(result, 1);
}

TEST_F(Worker, FailedBaudChangeStillEndsWithTheLastLine) {
    start();
    refuseBaud = 5;
    run();
    EXPECT_EQ(boxTexts(), Strings{"Could not change baud rate to 115200\n"});
    EXPECT_FALSE(recorder.has(WM_CONSOLE_OPENED));
    EXPECT_EQ(result, 1);
}

}  // namespace
}  // namespace uploadtest
