// The wizard's upload cut at every command frame, at a spread of byte positions and at a spread
// of times, by every cause an operator's bench can bring: cable pulled, battery removed, a NAK,
// silence, a corrupted answer. After each cut the operator does what the wizard's messages say
// (puts cable and battery back, goes Back for a fresh upload, restores from the kept backup when
// InfoA reads blank) until the upload ends with the tick; the calibration must survive every time.
//
// KORAL_CAMPAIGN_REPORT=<file> writes the table of every cut point and its outcome to <file>.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bsl/bsl.h"
#include "bsl/output.h"
#include "platform/os/localtime.h"
#include "platform/ui/headless.h"
#include "sim/instrument.h"
#include "upload/firmware_package.h"
#include "platform/os/event.h"
#include "tests/integration/upload/upload_fixture.h"
#include "upload/infoa.h"
#include "upload/upload_thread.h"
#include "vendor/simulated.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using uploadtest::infoAImage;
using uploadtest::resourceText;
using uploadtest::slurp;

Bytes calibration() { return uploadtest::calibration(0x5A); }

class DiscardingOutput final : public OutputTarget {
public:
    void postText(char* text) override { freeEngineText(text); }
    void postProgress(uint32_t, uint32_t) override {}
};

// The instrument's line with a hook before every call that lets time pass or bytes out, and
// eyes on the console phase.
class WatchedLine final : public uploadtest::ForwardingLine {
public:
    struct Hooks {
        std::function<void(uint32_t)> before;                  // bytes about to be written, or 0
        std::function<void(const platform::LineState&)> state;  // after a line setting took
        std::function<void(const uint8_t*, uint32_t)> received;
    };
    WatchedLine(std::unique_ptr<platform::SerialLine> inner, Hooks hooks)
        : ForwardingLine(std::move(inner)), hooks_(std::move(hooks)) {}
    bool setState(const platform::LineState& s) override {
        bool ok = ForwardingLine::setState(s);
        if (ok) hooks_.state(s);
        return ok;
    }
    bool queueCounts(platform::QueueCounts& c) override {
        hooks_.before(0);
        return ForwardingLine::queueCounts(c);
    }
    bool read(void* b, uint32_t n, uint32_t& d) override {
        hooks_.before(0);
        bool ok = ForwardingLine::read(b, n, d);
        hooks_.received(static_cast<const uint8_t*>(b), d);
        return ok;
    }
    bool write(const void* b, uint32_t n, uint32_t& d) override {
        hooks_.before(n);
        return ForwardingLine::write(b, n, d);
    }

private:
    Hooks hooks_;
};

enum class Cause { Cable, Battery, Nak, Silence, Corrupt, Bridge, FlashCut };
enum class Trigger { Frame, Byte, Time, Flash };

struct CutPoint {
    Trigger trigger;
    uint32_t at;  // frames answered before the cut; host bytes written before it; ms from the start;
                  // flash: the operation (from 1) times 1000 plus the per mille into it
};

const char* causeName(Cause c) {
    switch (c) {
    case Cause::Cable: return "cable pulled";
    case Cause::Battery: return "battery removed";
    case Cause::Nak: return "NAK";
    case Cause::Silence: return "silence";
    case Cause::Corrupt: return "corrupted answer";
    case Cause::Bridge: return "bridge does not come back";
    case Cause::FlashCut: return "battery removed mid-write";
    }
    return "";
}

// How one cut went, from the cut upload to the tick.
struct Outcome {
    bool hit = false;         // the cut came before the upload ended
    std::string firstEnd;     // how the cut upload ended: the wizard's last word
    int uploads = 0;          // uploads until the tick, the cut one included
    bool restored = false;    // the operator wrote a kept backup back
    bool secondHit = false;   // a pair's second fault came before the tick
    std::vector<std::string> violations;
};

constexpr int MAX_UPLOADS = 6;

// One operator's bench: the instrument, the temporary directory, the wizard's boxes and dialogs.
class Bench {
public:
    Bench(const std::vector<sim::Section>& firmware, const fs::path& dir, sim::InstrumentConfig config)
        : dir_(dir), original_(infoAImage(config.infoA)) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        setenv("TMPDIR", dir_.c_str(), 1);  // where the wizard keeps its backups
        config.firmwareImage = firmware;
        config.realLineTiming = true;
        instrument_ = std::make_unique<sim::Instrument>(config);
        platform::setSerialOpener([this, inner = sim::makeOpener(*instrument_)](const std::string& path) {
            ++opens_;
            checkCalibrationExists("a driver run starts");
            std::unique_ptr<platform::SerialLine> line = inner(path);
            if (!line) return line;
            WatchedLine::Hooks hooks{[this](uint32_t written) { watch(written); },
                                     [this](const platform::LineState& s) { lineSet(s); },
                                     [this](const uint8_t* b, uint32_t n) { received(b, n); }};
            return std::unique_ptr<platform::SerialLine>(std::make_unique<WatchedLine>(std::move(line), std::move(hooks)));
        });
        bus_.add(*instrument_);
        vendor_ = std::make_unique<vendor::SimulatedVendor>(bus_);
        EXPECT_TRUE(vendor_->installed());
        setOutputTarget(&output_);
        setup_.portOption = "-c\\\\.\\COM" + std::to_string(instrument_->comPort());
        setup_.blankKey = blankKey_.data();
        setup_.blankKeySize = uint32_t(blankKey_.size());
        setup_.modelKey = modelKey_.data();
        setup_.modelKeySize = uint32_t(modelKey_.size());
        job_.driver = setup_;
        job_.portPath = "\\\\.\\COM" + std::to_string(instrument_->comPort());
        job_.devicePath = instrument_->bridgePath();
        job_.image = image_.data();
        job_.imageSize = uint32_t(image_.size());
        job_.stopEvent = stop_.get();
        job_.result = &result_;
    }
    ~Bench() {
        platform::setSerialOpener({});
        setOutputTarget(nullptr);
        fs::remove_all(dir_);
    }

    sim::Instrument& instrument() { return *instrument_; }
    // The driver run (1, 2, ...: the lines opened) each answered frame came in.
    const std::vector<uint32_t>& frameRuns() const { return frameRuns_; }
    uint64_t hostBytes() const { return written_; }

    // The cause at `point`, counted from now. A `pending` cause waits through the uploads that end
    // before it comes (the second fault of a pair, somewhere in the recovery).
    void arm(Cause cause, CutPoint point, bool pending = false) {
        cause_ = cause;
        point_ = point;
        armed_ = true;
        pending_ = pending;
        faultCame_ = false;
        armFrames_ = instrument_->framesReceived();
        startUs_ = platform::activeClock().nowUs();
        written_ = 0;
        if (cause == Cause::Cable || cause == Cause::Battery) return;
        sim::Faults faults;
        if (cause == Cause::FlashCut) {
            faults.powerCutInFlash = sim::Faults::PowerCut{point.at / 1000, point.at % 1000};
            instrument_->setFaults(faults);
            return;
        }
        if (cause == Cause::Bridge) {
            faults.bridgeNeverReturns = true;
            instrument_->setFaults(faults);
            return;
        }
        sim::FaultAction action = cause == Cause::Nak       ? sim::FaultAction::Nak
                                  : cause == Cause::Silence ? sim::FaultAction::Silence
                                                            : sim::FaultAction::CorruptChecksum;
        faults.wire.push_back({action, sim::FaultTrigger::Frame, point.at + 1});
        instrument_->setFaults(faults);
    }
    bool cutCame() const { return !armed_ || wireFaultCame(); }

    // The operator after an upload ended: cable and battery back, the fault gone.
    void tidyUp() {
        bool waiting = pending_ && !wireFaultCame();
        if (!waiting && instrument_->faults() != sim::Faults{}) {
            faultCame_ = wireFaultCame();
            instrument_->setFaults({});
        }
        // A bridge that stayed away after its reset comes back when the cable is plugged anew.
        if (instrument_->plugged() && !instrument_->bridgePresent()) instrument_->unplug();
        if (!instrument_->plugged()) instrument_->plug();
        if (!instrument_->powered()) instrument_->connectPower();
        if (!waiting) armed_ = false;
    }

    // One upload as the wizard's worker runs it, on this thread: true when it ends with the
    // tick (the instrument's identity word in the console); `word` gets the last message box of
    // the upload ("" for none).
    bool upload(std::string& word, bool& restored) {
        size_t boxes = driver_.messageBoxes().size();
        size_t dialogs = driver_.fileDialogs().size();
        // Chosen in the dialog when the wizard asks for a saved InfoA: the newest kept backup.
        // Without one the dialog is cancelled.
        std::vector<std::string> before = backups();
        if (!choiceQueued_ && !before.empty()) {
            driver_.queueFileDialogAnswer((dir_ / before.back()).string());
            choiceQueued_ = true;
        }
        bool tick = uploadSteps();
        if (driver_.fileDialogs().size() > dialogs) choiceQueued_ = false;
        bool asked = false;  // whether this is the instrument of an unfinished upload: Yes, the default
        for (size_t i = boxes; i < driver_.messageBoxes().size(); ++i)
            asked = asked || driver_.messageBoxes()[i].text.starts_with("InfoA differs from the saved InfoA");
        restored = restored || ((asked || (driver_.fileDialogs().size() > dialogs && driver_.fileDialogs().back().chosen)) &&
                                instrument_->read(sim::INFOA_ADDRESS, 64) == calibration());
        word = driver_.messageBoxes().size() > boxes ? driver_.messageBoxes().back().text : std::string();
        checkBackups(before, tick);
        checkCalibrationExists("the upload ended");
        return tick;
    }

    std::vector<std::string> violations;

private:
    bool uploadSteps() {
        stop_->reset();
        console_.clear();
        consoleOpen_ = false;
        // The service-mode page's on-off-on-off leaves the switch off for every fresh upload.
        instrument_->setSwitch(false);
        RunUpload(job_);
        return console_.find("ZantirKORAL") != std::string::npos;
    }

    // The console phase: "Please flip the switch to the On position", and the page's stop one
    // identity word later; nothing for a minute is the operator's Cancel.
    void lineSet(const platform::LineState& s) {
        if (s.baudRate != 115200 || consoleOpen_) return;
        consoleOpen_ = true;
        consoleOpenedUs_ = platform::activeClock().nowUs();
        instrument_->setSwitch(true);
    }
    void received(const uint8_t* bytes, uint32_t n) {
        if (!consoleOpen_) return;
        console_.append(reinterpret_cast<const char*>(bytes), n);
        if (console_.find("ZantirKORAL") != std::string::npos) stop_->set();
    }

    bool wireFaultCame() const {
        if (cause_ == Cause::Cable || cause_ == Cause::Battery) return faultCame_;
        if (cause_ == Cause::Bridge) return faultCame_ || !instrument_->bridgePresent();
        if (cause_ == Cause::FlashCut) return faultCame_ || !instrument_->powered();
        return faultCame_ || instrument_->framesReceived() - armFrames_ > point_.at;
    }

    void watch(uint32_t written) {
        for (uint32_t n = instrument_->framesReceived(); frameRuns_.size() < n;) frameRuns_.push_back(opens_);
        if (consoleOpen_ && platform::activeClock().nowUs() - consoleOpenedUs_ > 60'000'000) stop_->set();
        if (!armed_ || (cause_ != Cause::Cable && cause_ != Cause::Battery)) {
            written_ += written;
            return;
        }
        bool due = false;
        switch (point_.trigger) {
        case Trigger::Frame: due = written > 0 && instrument_->framesReceived() - armFrames_ >= point_.at; break;
        case Trigger::Byte: due = written > 0 && written_ + written > point_.at; break;
        case Trigger::Time: due = platform::activeClock().nowUs() - startUs_ >= uint64_t(point_.at) * 1000; break;
        case Trigger::Flash: break;  // the instrument cuts itself
        }
        written_ += written;
        if (!due) return;
        armed_ = false;
        faultCame_ = true;
        cause_ == Cause::Cable ? instrument_->unplug() : instrument_->disconnectPower();
    }

    std::vector<std::string> backups() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    void violation(const std::string& what) {
        if (std::find(violations.begin(), violations.end(), what) == violations.end()) violations.push_back(what);
    }

    // Somewhere the calibration still is: in the instrument, or in a backup file.
    void checkCalibrationExists(const char* when) {
        if (instrument_->read(sim::INFOA_ADDRESS, 64) == calibration()) return;
        for (const std::string& name : backups())
            if (slurp(dir_ / name) == original_) return;
        violation(std::string("calibration lost: neither in the instrument nor in a backup when ") + when);
    }

    void checkBackups(const std::vector<std::string>& before, bool tick) {
        for (const std::string& name : backups()) {
            std::string text = slurp(dir_ / name);
            if (IsBlankInfoA(text.c_str())) violation("a blank InfoA was kept as a backup");
            else if (text != original_) violation("a backup that is not the calibration was kept");
            if (tick && std::find(before.begin(), before.end(), name) == before.end())
                violation("a backup of the clean upload was left");
        }
    }

    fs::path dir_;
    std::string original_;
    ui::HeadlessDriver driver_;  // the virtual clock, the boxes and the dialog
    DiscardingOutput output_;
    std::unique_ptr<sim::Instrument> instrument_;
    const std::string image_ = resourceText(ID_FIRMWARE_IMAGE);
    const std::string blankKey_ = resourceText(ID_FIRMWARE_BLANK_KEY);
    const std::string modelKey_ = resourceText(ID_FIRMWARE_MODEL_KEY);
    DriverSetup setup_;
    sim::UsbBus bus_;
    std::unique_ptr<vendor::SimulatedVendor> vendor_;
    std::unique_ptr<platform::Event> stop_ = platform::createManualResetEvent(false);
    UploadJob job_;
    int result_ = 0;
    std::string console_;
    bool consoleOpen_ = false;
    uint64_t consoleOpenedUs_ = 0;
    uint32_t opens_ = 0;
    std::vector<uint32_t> frameRuns_;
    bool choiceQueued_ = false;
    Cause cause_ = Cause::Cable;
    CutPoint point_{Trigger::Frame, 0};
    bool armed_ = false;
    bool pending_ = false;
    uint32_t armFrames_ = 0;
    bool faultCame_ = false;
    uint64_t startUs_ = 0;
    uint64_t written_ = 0;
};

const std::vector<sim::Section>& releaseSections() {
    static const std::vector<sim::Section> sections = sim::sectionsFromTiTxt(resourceText(ID_FIRMWARE_IMAGE));
    return sections;
}

// An instrument that runs the release (security key 0x0000) on a loader that erases on a wrong
// password unless that key says otherwise, with its own calibration.
sim::InstrumentConfig runningTheRelease() {
    sim::InstrumentConfig config;
    config.infoA = calibration();
    config.flash = releaseSections();
    return config;
}

fs::path benchDir(const std::string& name) {
    static const fs::path base = fs::temp_directory_path();  // before any bench moved TMPDIR
    return base / ("koral_campaign_" + std::to_string(getpid()) + "_" + name);
}

// A frame of the recovery after a first cut: the driver run it came in (lines opened so far) and
// its command byte.
struct RecoveryFrame {
    uint32_t run;
    uint8_t command;
    bool flash;  // the loader wrote or erased flash for it
};

// The second fault of a pair: its cause, after `frame` frames of the recovery were answered; for the
// battery removed mid-write, `frame` is K * 1000 + P: P per mille into the recovery's K-th flash work.
struct SecondFault {
    Cause cause;
    uint32_t frame;
};

// One cut, then the operator's uploads until the tick; with `second`, a second fault somewhere in
// them. `recovery` gets the frames of the uploads after the cut one.
Outcome runCut(Cause cause, CutPoint point, const SecondFault* second = nullptr,
               std::vector<RecoveryFrame>* recovery = nullptr) {
    Bench bench(releaseSections(), benchDir("cut"), runningTheRelease());
    Outcome outcome;
    bench.arm(cause, point);
    bool tick = bench.upload(outcome.firstEnd, outcome.restored);
    outcome.hit = bench.cutCame();
    outcome.uploads = 1;
    if (!outcome.hit) outcome.firstEnd = "(no cut: the upload ended first)";
    else if (tick) outcome.firstEnd = "tick";
    else if (outcome.firstEnd.empty()) outcome.firstEnd = "driver run failed";
    const uint32_t recoveryStart = bench.instrument().framesReceived();
    const int maxUploads = second ? MAX_UPLOADS + 2 : MAX_UPLOADS;
    while (!tick && outcome.uploads < maxUploads) {
        bench.tidyUp();
        if (second && outcome.uploads == 1) bench.arm(second->cause, {Trigger::Frame, second->frame}, true);
        std::string word;
        tick = bench.upload(word, outcome.restored);
        ++outcome.uploads;
    }
    if (second) outcome.secondHit = bench.cutCame();
    if (recovery) {
        std::vector<uint8_t> commands = bench.instrument().commandsReceived();
        std::vector<uint32_t> flash = bench.instrument().flashOperationFrames();
        for (size_t i = recoveryStart; i < commands.size() && i < bench.frameRuns().size(); ++i)
            recovery->push_back({bench.frameRuns()[i], commands[i],
                                 std::find(flash.begin(), flash.end(), uint32_t(i + 1)) != flash.end()});
    }
    outcome.violations = bench.violations;
    if (!tick) outcome.violations.push_back("no tick after " + std::to_string(maxUploads) + " uploads");
    sim::Instrument& instrument = bench.instrument();
    if (instrument.read(sim::INFOA_ADDRESS, 64) != calibration()) outcome.violations.push_back("InfoA differs from the calibration");
    if (!instrument.holdsFirmware()) outcome.violations.push_back("the flash does not hold the firmware");
    return outcome;
}

// One clean upload: its frames (driver run, command byte), the bytes the PC sent, its duration.
struct Reference {
    std::vector<std::pair<uint32_t, uint8_t>> frames;
    uint64_t hostBytes = 0;
    uint32_t durationMs = 0;
    std::vector<uint32_t> flashFrames;  // the frame (from 1) of each flash write or erase
};

const Reference& reference() {
    static const Reference ref = [] {
        Reference r;
        Bench bench(releaseSections(), benchDir("reference"), runningTheRelease());
        uint64_t start = platform::activeClock().nowUs();
        std::string word;
        bool restored = false;
        EXPECT_TRUE(bench.upload(word, restored)) << word;
        r.durationMs = uint32_t((platform::activeClock().nowUs() - start) / 1000);
        r.hostBytes = bench.hostBytes();
        r.flashFrames = bench.instrument().flashOperationFrames();
        std::vector<uint8_t> commands = bench.instrument().commandsReceived();
        for (size_t i = 0; i < commands.size() && i < bench.frameRuns().size(); ++i)
            r.frames.emplace_back(bench.frameRuns()[i], commands[i]);
        return r;
    }();
    return ref;
}

constexpr uint32_t SPREAD = 40;  // byte positions and times per cause that cuts by hand

// Inside the clean upload's flash work: every mass erase at a spread of points (the InfoA segment
// is the fourth of 124, the vectors' the last), InfoA's write after them at every fourth word, and
// every later write half-way.
std::vector<CutPoint> flashCutPoints() {
    const Reference& ref = reference();
    std::vector<CutPoint> points;
    bool infoABack = true;
    for (uint32_t op = 1; op <= ref.flashFrames.size(); ++op) {
        uint8_t command = ref.frames[ref.flashFrames[op - 1] - 1].second;
        std::vector<uint32_t> permilles = {500};
        if (command == 0x18) permilles = {10, 28, 100, 300, 500, 700, 900, 996};
        else if (infoABack) permilles = {0, 125, 250, 375, 500, 625, 750, 875, 990};
        if (command == 0x12) infoABack = false;
        for (uint32_t p : permilles) points.push_back({Trigger::Flash, op * 1000 + p});
    }
    return points;
}

std::vector<CutPoint> cutPoints(Cause cause) {
    const Reference& ref = reference();
    std::vector<CutPoint> points;
    if (cause == Cause::Bridge) return {{Trigger::Time, 0}};  // the one bridge reset of an upload
    if (cause == Cause::FlashCut) return flashCutPoints();
    for (uint32_t k = 0; k < ref.frames.size(); ++k) points.push_back({Trigger::Frame, k});
    if (cause == Cause::Cable || cause == Cause::Battery) {
        for (uint32_t i = 0; i < SPREAD; ++i) points.push_back({Trigger::Byte, uint32_t(ref.hostBytes * (2 * i + 1) / (2 * SPREAD))});
        for (uint32_t i = 0; i < SPREAD; ++i) points.push_back({Trigger::Time, ref.durationMs * (2 * i + 1) / (2 * SPREAD)});
    }
    return points;
}

const char* commandName(uint8_t c) {
    switch (c) {
    case 0x10: return "password";
    case 0x12: return "write";
    case 0x14: return "read";
    case 0x16: return "erase segment";
    case 0x18: return "mass erase";
    case 0x1A: return "load PC";
    case 0x1C: return "erase check";
    case 0x20: return "baud rate";
    case 0x21: return "offset";
    default: return "?";
    }
}

const char* runName(uint32_t run) {
    switch (run) {
    case 1: return "reading 1, blank key";
    case 2: return "reading 1, model key";
    case 3: return "program pass";
    case 4: return "reading 2";
    default: return "?";
    }
}

// Frame k+1 of the clean upload, which a frame cut after k frames hits.
std::string frameName(uint32_t k) {
    const Reference& ref = reference();
    if (k >= ref.frames.size()) return "beyond the end";
    return std::string(runName(ref.frames[k].first)) + ", " + commandName(ref.frames[k].second);
}

std::string describe(CutPoint p) {
    if (p.trigger == Trigger::Frame) return "at frame " + std::to_string(p.at + 1) + " (" + frameName(p.at) + ")";
    if (p.trigger == Trigger::Flash) {
        uint32_t frame = reference().flashFrames[p.at / 1000 - 1];
        return std::to_string(p.at % 1000) + " per mille into frame " + std::to_string(frame) + " (" + frameName(frame - 1) + ")";
    }
    return (p.trigger == Trigger::Byte ? "before byte " : "at ms ") + std::to_string(p.at);
}

// Everything the report needs, gathered by the tests of this process.
struct Result {
    CutPoint point;
    Outcome outcome;
};
std::map<Cause, std::vector<Result>>& results() {
    static std::map<Cause, std::vector<Result>> r;
    return r;
}
std::vector<std::string>& loaderNotes() {
    static std::vector<std::string> notes;
    return notes;
}

std::string causeTestName(const ::testing::TestParamInfo<Cause>& info) {
    std::string name = causeName(info.param);
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }),
               name.end());
    return name;
}

class Campaign : public ::testing::TestWithParam<Cause> {};

TEST_P(Campaign, CalibrationSurvivesEveryCut) {
    setenv("TZ", "UTC", 1);
    tzset();
    for (CutPoint point : cutPoints(GetParam())) {
        Outcome outcome = runCut(GetParam(), point);
        EXPECT_TRUE(outcome.violations.empty())
            << causeName(GetParam()) << " " << describe(point) << ": " << outcome.violations.front();
        results()[GetParam()].push_back({point, outcome});
    }
}

INSTANTIATE_TEST_SUITE_P(Causes, Campaign,
                         ::testing::Values(Cause::Cable, Cause::Battery, Cause::Nak, Cause::Silence, Cause::Corrupt, Cause::Bridge,
                                           Cause::FlashCut),
                         causeTestName);

// Faults in sequence: after a first cut, a second fault at each frame of the recovery where one can
// do harm (the readings, a restore run, the program pass up to InfoA written back after its
// erases), the operator following the wizard's messages throughout.
std::vector<uint32_t> secondFaultFrames(const std::vector<RecoveryFrame>& frames) {
    std::map<uint32_t, bool> erases, writtenBack;
    for (const RecoveryFrame& f : frames) erases[f.run] = erases[f.run] || f.command == 0x18;
    std::vector<uint32_t> picked;
    for (uint32_t i = 0; i < frames.size(); ++i) {
        const RecoveryFrame& f = frames[i];
        if (erases[f.run] && writtenBack[f.run]) continue;
        picked.push_back(i);
        if (erases[f.run]) writtenBack[f.run] = f.command == 0x12;
    }
    return picked;
}

std::string runKind(const std::vector<RecoveryFrame>& frames, uint32_t run) {
    bool erase = false, write = false;
    for (const RecoveryFrame& f : frames) {
        if (f.run != run) continue;
        erase = erase || f.command == 0x18;
        write = write || f.command == 0x12;
    }
    return erase ? "program pass" : write ? "restore run" : "reading";
}

// KORAL_CAMPAIGN_PAIRS=full: every first cut (the release bench); otherwise a spread for CI.
bool fullPairs() {
    const char* v = std::getenv("KORAL_CAMPAIGN_PAIRS");
    return v && std::string(v) == "full";
}

// The spread: every first cut at a frame other than the program pass's writes, its first write
// (InfoA back) and one write in the middle.
std::vector<CutPoint> pairFirstCuts(Cause cause) {
    std::vector<CutPoint> all = cutPoints(cause);
    if (fullPairs()) return all;
    const Reference& ref = reference();
    std::vector<CutPoint> picked;
    bool firstWrite = true;
    for (CutPoint p : all) {
        if (p.trigger != Trigger::Frame || p.at >= ref.frames.size()) continue;
        bool programWrite = ref.frames[p.at].first == 3 && ref.frames[p.at].second == 0x12;
        if (!programWrite || firstWrite || p.at == ref.frames.size() / 2) picked.push_back(p);
        if (programWrite) firstWrite = false;
    }
    return picked;
}

struct PairResult {
    Cause first;
    CutPoint point;
    Cause second;
    std::string where;  // the recovery's run and command the second fault hit
    Outcome outcome;
};
std::vector<PairResult>& pairResults() {
    static std::vector<PairResult> r;
    return r;
}
struct PairRun {
    size_t firstCuts = 0;
    double seconds = 0;
};
PairRun& pairRun() {
    static PairRun r;
    return r;
}

const Cause SECOND_CAUSES[] = {Cause::Cable, Cause::Battery, Cause::Nak, Cause::Silence, Cause::Corrupt};
const Cause REPORTED_SECOND_CAUSES[] = {Cause::Cable,   Cause::Battery, Cause::Nak,
                                        Cause::Silence, Cause::Corrupt, Cause::FlashCut};

class CampaignPairs : public ::testing::TestWithParam<Cause> {};

TEST_P(CampaignPairs, CalibrationSurvivesASecondFaultInTheRecovery) {
    setenv("TZ", "UTC", 1);
    tzset();
    auto began = std::chrono::steady_clock::now();
    for (CutPoint point : pairFirstCuts(GetParam())) {
        std::vector<RecoveryFrame> recovery;
        Outcome single = runCut(GetParam(), point, nullptr, &recovery);
        if (!single.hit || single.firstEnd == "tick") continue;  // nothing to recover from
        ++pairRun().firstCuts;
        for (uint32_t frame : secondFaultFrames(recovery)) {
            std::string where = runKind(recovery, recovery[frame].run) + ", " + commandName(recovery[frame].command);
            for (size_t c = 0; c < std::size(SECOND_CAUSES); ++c) {
                // The spread tries two causes a frame, in turn, so that every cause meets every kind of frame.
                if (!fullPairs() && c != frame % 5 && c != (frame + 2) % 5) continue;
                const Cause second = SECOND_CAUSES[c];
                SecondFault fault{second, frame};
                Outcome outcome = runCut(GetParam(), point, &fault);
                EXPECT_TRUE(outcome.violations.empty())
                    << causeName(GetParam()) << " " << describe(point) << ", then " << causeName(second)
                    << " at recovery frame " << frame + 1 << " (" << where << "): " << outcome.violations.front();
                pairResults().push_back({GetParam(), point, second, where, outcome});
            }
        }
        // The battery removed inside the recovery's own flash work (a restore's write, the segment
        // erase before it, the erases and InfoA's write of a program pass): half-way, and a mass
        // erase also where it reaches InfoA.
        std::vector<uint32_t> picked = secondFaultFrames(recovery);
        uint32_t work = 0;
        for (uint32_t frame = 0; frame < recovery.size(); ++frame) {
            if (!recovery[frame].flash) continue;
            ++work;
            if (std::find(picked.begin(), picked.end(), frame) == picked.end()) continue;
            std::string where = runKind(recovery, recovery[frame].run) + ", " + commandName(recovery[frame].command);
            for (uint32_t permille : {28u, 500u}) {
                if (permille == 28 && recovery[frame].command != 0x18) continue;
                SecondFault fault{Cause::FlashCut, work * 1000 + permille};
                Outcome outcome = runCut(GetParam(), point, &fault);
                EXPECT_TRUE(outcome.violations.empty())
                    << causeName(GetParam()) << " " << describe(point) << ", then the battery removed " << permille
                    << " per mille into recovery frame " << frame + 1 << " (" << where
                    << "): " << outcome.violations.front();
                pairResults().push_back({GetParam(), point, Cause::FlashCut, where, outcome});
            }
        }
    }
    pairRun().seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

INSTANTIATE_TEST_SUITE_P(FirstCauses, CampaignPairs,
                         ::testing::Values(Cause::Cable, Cause::Battery, Cause::Nak, Cause::Silence, Cause::Corrupt),
                         causeTestName);

// An instrument still running an older firmware whose security key is not 0x0000, on a loader
// from 2.00 on: the blank password the first reading tries is wrong, and that alone erases the
// flash, InfoA included, before anything could be read. Nothing after it can bring it back.
TEST(CampaignLoaders, OlderFirmwareWhoseKeyLetsAWrongPasswordEraseLosesInfoABeforeAnyReading) {
    sim::InstrumentConfig config = runningTheRelease();
    for (sim::Section& s : config.flash) {
        uint32_t key = 0xFFDE;
        if (key >= s.address && key + 1 < s.address + s.bytes.size()) {
            s.bytes[key - s.address] = 0x7F;
            s.bytes[key + 1 - s.address] = 0xBB;
        }
    }
    Bench bench(releaseSections(), benchDir("older"), config);
    std::string word;
    bool restored = false;
    EXPECT_FALSE(bench.upload(word, restored));
    EXPECT_EQ(word, "Error reading InfoA");
    EXPECT_EQ(bench.instrument().read(sim::INFOA_ADDRESS, 64), Bytes(64, 0xFF));
    bench.tidyUp();
    EXPECT_FALSE(bench.upload(word, restored)) << "InfoA reads blank and no backup exists to restore from";
    ASSERT_FALSE(bench.violations.empty());
    loaderNotes().push_back("older firmware, key 0xBB7F, loader 2.02: first upload ends with \"" + std::string("Error reading InfoA") +
                            "\"; InfoA erased by the blank password the first reading tries; " + bench.violations.front());
}

// The report: every cut point with its outcome.
class Report : public ::testing::Environment {
public:
    void TearDown() override {
        const char* path = std::getenv("KORAL_CAMPAIGN_REPORT");
        if (!path || (results().empty() && pairResults().empty())) return;
        std::ofstream out(path, std::ios::binary);
        write(out);
    }

private:
    static std::string cell(const Outcome& o) {
        if (!o.violations.empty()) return "**LOST**";
        if (!o.hit) return "–";
        std::string s = std::to_string(o.uploads);
        if (o.restored) s += " R";
        return s;
    }

    void write(std::ostream& out) const {
        const Reference& ref = reference();
        size_t cuts = 0, lost = 0, restores = 0;
        std::map<std::string, size_t> ends;
        for (const auto& [cause, list] : results())
            for (const Result& r : list) {
                ++cuts;
                lost += !r.outcome.violations.empty();
                restores += r.outcome.restored;
                ++ends[r.outcome.firstEnd];
            }
        out << "# Interruption campaign\n\n"
            << "Generated by tests/integration/campaign (`KORAL_CAMPAIGN_REPORT=docs/interruption_campaign.md "
               "build/release/tests/integration/campaign/campaign_tests`); do not edit.\n\n"
            << "The wizard's upload worker (first InfoA reading trying the blank key, the program pass \"-m3\" "
               "\"+aepvr\", the second reading and the comparison, the bridge reset and the console phase up to the "
               "identity word) writing the embedded release into a simulated instrument that runs the release on a "
               "2.02 loader (a wrong password erases unless the security key is 0x0000), at the real line timing. A "
               "clean upload is "
            << ref.frames.size() << " command frames, " << ref.hostBytes << " bytes from the PC and "
            << ref.durationMs / 1000.0 << " s of instrument time.\n\n"
            << "Each cut: the cause at one point of an upload, then the operator does what the wizard says (cable and "
               "battery back, the cable plugged anew when the bridge stayed away, Back and a fresh upload, the newest "
               "kept backup chosen when InfoA reads blank, Yes when the wizard asks whether the instrument of an "
               "unfinished upload is connected) until the tick. Checked every time: InfoA equals the calibration byte "
               "for byte at the end; the flash holds the firmware; at every driver run's start and every upload's end the calibration is in the instrument or in a "
               "backup file; no kept backup is blank or anything but the calibration; the clean upload leaves no backup.\n\n"
            << "**Result: " << cuts << " cuts, " << lost << " with the calibration lost, " << restores
            << " of them restored from a kept backup.**\n\n"
            << "Cells: uploads until the tick, the cut one included; R: the operator restored InfoA from the kept "
               "backup on the way (chosen in the dialog, or written back after the wizard's question); –: the cut "
               "point lies beyond the end of the upload; **LOST**: an invariant broke.\n\n"
            << "How the cut uploads ended (the wizard's last message box):\n\n| end | cuts |\n|---|---|\n";
        for (const auto& [end, n] : ends) out << "| " << end << " | " << n << " |\n";

        const Cause causes[] = {Cause::Cable, Cause::Battery, Cause::Nak, Cause::Silence, Cause::Corrupt};
        out << "\n## At every command frame\n\nThe cause comes right after the frame before it was answered (cable, "
               "battery), or instead of the frame's own answer (NAK, silence, corrupted answer).\n\n| frame | driver run | command |";
        for (Cause c : causes) out << " " << causeName(c) << " |";
        out << "\n|---|---|---|";
        for (size_t i = 0; i < std::size(causes); ++i) out << "---|";
        out << "\n";
        for (size_t k = 0; k < ref.frames.size(); ++k) {
            out << "| " << k + 1 << " | " << runName(ref.frames[k].first) << " | " << commandName(ref.frames[k].second) << " |";
            for (Cause c : causes) out << " " << cellAt(c, Trigger::Frame, uint32_t(k)) << " |";
            out << "\n";
        }
        for (Trigger t : {Trigger::Byte, Trigger::Time}) {
            out << (t == Trigger::Byte ? "\n## At a spread of byte positions\n\nThe cause comes before the PC sends that byte "
                                         "(counted over the whole upload).\n\n| byte |"
                                       : "\n## At a spread of times\n\nThe cause comes at that instrument time after the "
                                         "upload started.\n\n| ms |")
                << " cable pulled | battery removed |\n|---|---|---|\n";
            for (const Result& r : results()[Cause::Cable]) {
                if (r.point.trigger != t) continue;
                out << "| " << r.point.at << " | " << cell(r.outcome) << " | " << cellAt(Cause::Battery, t, r.point.at) << " |\n";
            }
        }
        out << "\n## The bridge reset\n\nThe bridge does not come back after the worker resets it (the firmware and "
               "InfoA are checked by then): "
            << (results()[Cause::Bridge].empty() ? std::string("not run") : cell(results()[Cause::Bridge].front().outcome) + " (" + results()[Cause::Bridge].front().outcome.firstEnd + ")")
            << ".\n";
        writePairs(out);
        writeFlashCuts(out);
        out << "\n## Loaders that erase on a wrong password\n\n";
        for (const std::string& note : loaderNotes()) out << "- " << note << "\n";
        out << "\nWhat the wizard protects: every cut above runs on a loader that erases on a wrong password, and "
               "none loses InfoA: the release keeps 0x0000 at 0xFFDE, so the blank key the readings try first is "
               "refused without an erase by an instrument that runs the release, and an instrument a cut left erased "
               "(0xFFFF there, which would erase) answers that blank key, so it never gets a wrong one. What it cannot protect: an instrument whose current firmware "
               "leaves any other key at 0xFFDE on a loader from 2.00 on. Its loader erases main and information "
               "memory on the first wrong password, and the first password the wizard sends, the blank key, is wrong "
               "for any instrument that carries a firmware; the loader accepts no read before the password, so no "
               "reading can come first. Only that firmware's own vectors would be the right password, and the wizard "
               "does not carry them; such instruments need their InfoA saved by other means (the older firmware's own "
               "tools) before the wizard touches them.\n";
    }

    static void writePairs(std::ostream& out) {
        const std::vector<PairResult>& pairs = pairResults();
        if (pairs.empty()) return;
        size_t lost = 0, restores = 0, hit = 0;
        int most = 0;
        std::map<std::string, std::map<Cause, size_t>> byWhere;
        std::map<Cause, std::map<Cause, size_t>> byCauses, lostByCauses;
        for (const PairResult& p : pairs) {
            bool bad = !p.outcome.violations.empty();
            lost += bad;
            restores += p.outcome.restored;
            hit += p.outcome.secondHit;
            most = std::max(most, p.outcome.uploads);
            ++byWhere[p.where][p.second];
            ++byCauses[p.first][p.second];
            lostByCauses[p.first][p.second] += bad;
        }
        out << "\n## Faults in sequence\n\n"
            << (fullPairs() ? "The full pair matrix (`KORAL_CAMPAIGN_PAIRS=full`): every first cut above that the operator "
                              "has to recover from, then a second fault in that recovery at each frame of its readings, its "
                              "restore runs and its program passes up to InfoA written back after the erases, by each of the "
                              "five causes, and the battery removed inside each flash write or erase among them."
                            : "A spread of the pair matrix (the full one: `KORAL_CAMPAIGN_PAIRS=full`): the first cuts at every "
                              "frame but the program pass's writes after InfoA is back (and one write in the middle) that the "
                              "operator has to recover from, then a second fault in that recovery at each frame of its "
                              "readings, its restore runs and its program passes up to InfoA written back after the erases, by "
                              "two of the five causes at each frame, in turn, and the battery removed inside each flash write or "
                              "erase among them.")
            << " The operator goes on as the wizard's messages say, the newest kept backup chosen when InfoA reads blank; "
               "the same checks as above.\n\n"
            << "**Result: " << pairRun().firstCuts << " first cuts, " << pairs.size() << " pairs (" << hit
            << " with the second fault before the tick), " << lost << " with the calibration lost, " << restores
            << " restored from a kept backup on the way; at most " << most << " uploads to the tick; "
            << int(pairRun().seconds + 0.5) << " s of host time in the release build.**\n\n"
            << "Pairs by cause (first cut down, second fault across); a lost calibration would be shown as "
               "**n lost**:\n\n| first \\ second |";
        for (Cause c : REPORTED_SECOND_CAUSES) out << " " << causeName(c) << " |";
        out << "\n|---|";
        for (size_t i = 0; i < std::size(REPORTED_SECOND_CAUSES); ++i) out << "---|";
        out << "\n";
        for (const auto& [first, row] : byCauses) {
            out << "| " << causeName(first) << " |";
            for (Cause c : REPORTED_SECOND_CAUSES) {
                size_t n = row.count(c) ? row.at(c) : 0, bad = lostByCauses[first][c];
                out << " " << n << (bad ? " (**" + std::to_string(bad) + " lost**)" : std::string()) << " |";
            }
            out << "\n";
        }
        out << "\nWhere the second fault came (the recovery's run and the command of the frame it hit):\n\n| where |";
        for (Cause c : REPORTED_SECOND_CAUSES) out << " " << causeName(c) << " |";
        out << "\n|---|";
        for (size_t i = 0; i < std::size(REPORTED_SECOND_CAUSES); ++i) out << "---|";
        out << "\n";
        for (const auto& [where, row] : byWhere) {
            out << "| " << where << " |";
            for (Cause c : REPORTED_SECOND_CAUSES) out << " " << (row.count(c) ? row.at(c) : 0) << " |";
            out << "\n";
        }
    }

    static void writeFlashCuts(std::ostream& out) {
        out << "\n## The battery removed inside a flash write or erase\n\nThe cells being programmed or erased "
               "at that instant take arbitrary values (a mass erase goes through its 124 segments from InfoD up: the "
               "ones below the cut erased, the one at it undefined, the ones above untouched); the loader's answer "
               "never comes. Every mass erase at a spread of points, InfoA's write after them at every fourth word, "
               "every later write half-way. Where the cut left InfoA neither the calibration nor blank, the next "
               "upload's reading differs from the backup the cut upload kept, and the wizard asks whether the same "
               "instrument is connected before it goes on.\n\n| cut | outcome | how the cut upload ended |\n|---|---|---|\n";
        for (const Result& r : results()[Cause::FlashCut]) {
            out << "| " << describe(r.point) << " | " << cell(r.outcome) << " | " << r.outcome.firstEnd;
            if (!r.outcome.violations.empty()) out << "; " << r.outcome.violations.front();
            out << " |\n";
        }
    }

    static std::string cellAt(Cause cause, Trigger trigger, uint32_t at) {
        for (const Result& r : results()[cause])
            if (r.point.trigger == trigger && r.point.at == at) return cell(r.outcome);
        return "";
    }
};

const auto* const report = ::testing::AddGlobalTestEnvironment(new Report);

}  // namespace
