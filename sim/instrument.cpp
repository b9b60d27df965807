#include "sim/instrument.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/os/clock.h"
#include "sim/core.h"

namespace sim {
namespace {

// An empty receive queue polled under the virtual clock lets this much time pass at most.
constexpr uint64_t POLL_STEP_US = 100;

uart::Framing framingOf(const platform::LineState& s) { return {s.baudRate, s.byteSize, s.parity, s.stopBits}; }

std::vector<uint8_t> defaultInfoA() {
    // An instrument's calibration record, then the DCO constants the factory puts at the end.
    std::vector<uint8_t> b(INFOA_SIZE);
    const char tag[] = "VKT CAL";
    for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(0x40 + (i * 37) % 151);
    std::copy(tag, tag + 7, b.begin() + 2);
    const uint8_t dco[] = {0x01, 0x08, 0x8F, 0x95, 0x9D, 0x8D, 0x86, 0x8B, 0x50, 0x87};
    std::copy(std::begin(dco), std::end(dco), b.end() - 10);
    return b;
}

}  // namespace

uint64_t fnv1a(uint64_t hash, uint8_t byte) { return (hash ^ byte) * 0x100000001b3ull; }

FirmwareDigest digestOf(const std::vector<Section>& sections) {
    FirmwareDigest d;
    d.hash = FNV_OFFSET;
    for (const Section& s : sections) {
        if (s.bytes.empty()) continue;
        d.ranges.emplace_back(s.address, uint32_t(s.bytes.size()));
        for (uint8_t b : s.bytes) d.hash = fnv1a(d.hash, b);
    }
    return d;
}

Instrument::Core::Core(InstrumentConfig cfg) : config(std::move(cfg)), memory(config.flashEnd) {
    config.identity[10] = uint8_t(config.bslVersion >> 8);
    config.identity[11] = uint8_t(config.bslVersion);
    for (uint32_t a = BSL_ROM_START; a <= BSL_ROM_END; ++a) memory.setRaw(a, uint8_t((a * 7 + 0x31) & 0xFF));
    for (uint32_t i = 0; i < IDENTITY_SIZE; ++i) memory.setRaw(IDENTITY_ADDRESS + i, config.identity[i]);
    std::vector<uint8_t> infoA = config.infoA.size() == INFOA_SIZE ? config.infoA : defaultInfoA();
    if (config.faults.blankInfoA) infoA.assign(INFOA_SIZE, 0xFF);
    for (uint32_t i = 0; i < INFOA_SIZE; ++i) memory.setRaw(INFOA_ADDRESS + i, infoA[i]);
    scrambleRam();
    for (const Section& s : config.flash)
        for (size_t i = 0; i < s.bytes.size(); ++i) memory.setRaw(s.address + uint32_t(i), s.bytes[i]);
    firmware = digestOf(config.firmwareImage);
    attached = config.attached;
    battery = config.batteryConnected;
    switchOn = config.switchOn;
    now = clockNow();
    setFaults(config.faults);
    if (battery) startApplication();
    else mode = Mode::Off;
}

uint64_t Instrument::Core::clockNow() const { return std::max(now, platform::activeClock().nowUs()); }

void Instrument::Core::schedule(uint64_t at, std::function<void()> run) {
    Event e{std::max(at, now), eventSeq++, std::move(run)};
    auto pos = std::upper_bound(events.begin(), events.end(), e,
                                [](const Event& a, const Event& b) { return a.at != b.at ? a.at < b.at : a.seq < b.seq; });
    events.insert(pos, std::move(e));
}

std::optional<uint64_t> Instrument::Core::nextEvent() const {
    std::optional<uint64_t> next;
    auto consider = [&](uint64_t t) {
        if (!next || t < *next) next = t;
    };
    if (!events.empty()) consider(events.front().at);
    if (!hostTx.empty()) consider(hostTx.front().endUs);
    if (!toHost.empty()) consider(toHost.front().arrivalUs);
    return next;
}

// Everything due up to t, in time order: scheduled events, host bytes reaching the device,
// device bytes reaching the host.
void Instrument::Core::sync(uint64_t t) {
    for (;;) {
        std::optional<uint64_t> next = nextEvent();
        if (!next || *next > t) break;
        now = std::max(now, *next);
        if (!toHost.empty() && toHost.front().arrivalUs == *next) {
            RxByte b = toHost.front();
            toHost.pop_front();
            if (lineOpen && b.generation == lineGeneration)
                // The host's driver keeps characters with errors.
                uart::receive(b.byte, b.framing, framingOf(hostState), [&](const uart::Received& r) {
                    hostRx.push_back(r.byte);
                    hostRxArrivalUs = b.arrivalUs;
                });
        } else if (!hostTx.empty() && hostTx.front().endUs == *next) {
            TxByte b = hostTx.front();
            hostTx.pop_front();
            deviceReceive(b);
        } else {
            Event e = std::move(events.front());
            events.erase(events.begin());
            e.run();
        }
    }
    now = std::max(now, t);
}

void Instrument::Core::pollAdvance() {
    platform::VirtualClock* clock = platform::activeClock().asVirtual();
    if (!clock) return;
    uint64_t target = now + POLL_STEP_US;
    if (std::optional<uint64_t> next = nextEvent(); next && *next < target) target = std::max(*next, now);
    clock->advanceToUs(target);
    sync(target);
}

// ---- Lines, reset and power ----

void Instrument::Core::applyLines(bool newDtr, bool newRts) {
    if (newRts != rts) {
        rts = newRts;
        edges.push_back({now, false, rts});
        if (!rts && resetHeld) ++testPulses;
    }
    if (newDtr != dtr) {
        dtr = newDtr;
        edges.push_back({now, true, dtr});
        if (!dtr) {
            resetHeld = true;
            testPulses = 0;
            ++session;
            resetLoaderReceiver();
            if (battery) mode = Mode::Reset;
        } else if (resetHeld) {
            releaseReset();
        }
    }
}

void Instrument::Core::releaseReset() {
    resetHeld = false;
    if (!battery) return;
    if (testPulses >= 2) startLoader();
    else startApplication();
}

void Instrument::Core::killLine() {
    if (!lineOpen) return;
    lineOpen = false;
    ++lineGeneration;
    hostRx.clear();
    hostTx.clear();
    toHost.clear();
    // The driver de-asserts both lines when the port closes (HUPCL): reset held, TEST high.
    applyLines(false, false);
}

void Instrument::Core::startLoader() {
    if (loaderSwitchedOff()) return startApplication();  // the ROM hands over at once
    ++session;
    mode = Mode::Bsl;
    deviceFraming = uart::BSL_FRAMING;
    unlocked = false;
    offset = 0;
    resetLoaderReceiver();
}

void Instrument::Core::startApplication() {
    ++session;
    mode = Mode::Application;
    deviceFraming = uart::CONSOLE_FRAMING;
    unlocked = false;
    offset = 0;
    resetLoaderReceiver();
    switchMoves.clear();
    bootPending = !switchOn;
    if (switchOn && holdsFirmware()) appPrint(config.bootText, now + uint64_t(config.bootDelayMs) * 1000);
}

void Instrument::Core::scrambleRam() {
    uint32_t x = 0x2545F491;  // fixed seed: RAM after power-up is garbage, but the same garbage
    for (uint32_t a = RAM_START; a <= RAM_END; ++a) {
        x = x * 1103515245u + 12345u;
        memory.setRaw(a, uint8_t(x >> 16));
    }
}

void Instrument::Core::powerOff() {
    if (!battery) return;
    cutFlashWork();
    // What the UART had not sent yet never goes out.
    while (!toHost.empty() && toHost.back().arrivalUs > now) toHost.pop_back();
    deviceTxFreeUs = now;
    battery = false;
    ++session;
    mode = Mode::Off;
    unlocked = false;
    resetLoaderReceiver();
    scrambleRam();
}

void Instrument::Core::powerOn() {
    if (battery) return;
    battery = true;
    if (resetHeld) mode = Mode::Reset;
    else startApplication();
}

// ---- The device's UART ----

void Instrument::Core::deviceSend(const std::vector<uint8_t>& bytes, uint64_t notBeforeUs) {
    for (uint8_t byte : bytes) {
        ++bytesSent;
        bool drop = bytesSilenced;
        for (size_t i = 0; i < faults.wire.size() && !drop; ++i) {
            const WireFault& f = faults.wire[i];
            if (f.trigger != FaultTrigger::Byte) continue;
            if (bytesSent != f.index && !(f.repeat && bytesSent > f.index)) continue;
            switch (f.action) {
            case FaultAction::Nak: byte = BSL_NAK; break;
            case FaultAction::Silence: bytesSilenced = drop = true; break;
            case FaultAction::CorruptChecksum: byte = uint8_t(~byte); break;
            case FaultAction::DropByte: drop = true; break;
            }
        }
        uint64_t start = std::max(notBeforeUs, deviceTxFreeUs);
        uint64_t end = config.realLineTiming ? start + uart::charTimeUs(deviceFraming) : start;
        deviceTxFreeUs = end;
        if (drop) continue;
        if (!toHost.empty() && toHost.back().arrivalUs > end) end = toHost.back().arrivalUs;
        toHost.push_back({end, byte, deviceFraming, lineGeneration});
    }
}

void Instrument::Core::deviceReceive(const TxByte& b) {
    if (!battery || (mode != Mode::Bsl && mode != Mode::Application)) return;
    uart::receive(b.byte, b.framing, deviceFraming, [&](const uart::Received& r) {
        // The UART rejects characters with parity or framing errors. The byte's own time, which
        // may lie before now when the host's process paused before writing it.
        if (!r.error && mode == Mode::Bsl) loaderByte(r.byte, b.endUs);
    });
}

// ---- Application ----

bool Instrument::Core::applicationPresent() const {
    return memory.get(0xFFFE) != 0xFF || memory.get(0xFFFF) != 0xFF;
}

bool Instrument::Core::holdsFirmware() const {
    if (firmware.empty()) return false;
    uint64_t hash = FNV_OFFSET;
    for (auto [address, length] : firmware.ranges)
        for (uint32_t i = 0; i < length; ++i) hash = fnv1a(hash, memory.get(address + i));
    return hash == firmware.hash;
}

void Instrument::Core::appPrint(const std::string& text, uint64_t at) {
    uint64_t mySession = session;
    schedule(at, [this, text, mySession] {
        if (session != mySession || mode != Mode::Application) return;
        console += text;
        deviceSend(std::vector<uint8_t>(text.begin(), text.end()), now);
    });
}

void Instrument::Core::moveSwitch(bool on) {
    if (mode != Mode::Application || !battery) return;
    if (on && bootPending) {
        bootPending = false;
        if (holdsFirmware()) appPrint(config.bootText, now + uint64_t(config.bootDelayMs) * 1000);
    }
    switchMoves.emplace_back(now, on);
    while (switchMoves.size() > 4) switchMoves.pop_front();
    bool pattern = switchMoves.size() == 4 && switchMoves[0].second && !switchMoves[1].second &&
                   switchMoves[2].second && !switchMoves[3].second;
    if (pattern && now - switchMoves[0].first <= uint64_t(config.toggleWindowMs) * 1000) {
        switchMoves.clear();
        if (applicationPresent()) appPrint(config.programmingModeText, now + 100'000);
    }
}

// ---- Bridge and operator ----

std::string Instrument::Core::bridgePath() const {
    if (!config.bridgePath.empty()) return config.bridgePath;
    char ids[32];
    snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", config.vid, config.pid);
    return std::string("\\\\?\\usb#") + ids + "#" + config.bridgeSerial + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

std::vector<RegistryEntry> Instrument::Core::registry(int slabcrIndex) const {
    std::vector<RegistryEntry> out;
    if (config.comPort < 0) return out;
    std::string serial = config.bridgeSerial;
    std::replace(serial.begin(), serial.end(), ' ', '_');
    std::string upper = serial;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    char ids[40];
    snprintf(ids, sizeof ids, "VID_%04X&PID_%04X", config.vid, config.pid);
    std::string port = "COM" + std::to_string(config.comPort);
    const std::string usb = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
    if (config.registryInterfaceKey)
        out.push_back({usb + ids + "&MI_00\\" + serial + "_00\\Device Parameters", "PortName", port});
    if (config.registryPlainKey) out.push_back({usb + ids + "\\" + serial + "\\Device Parameters", "PortName", port});
    if (config.registry9x) {
        char key[40];
        snprintf(key, sizeof key, "Enum\\SLABCR\\guid\\%.4d", slabcrIndex);
        out.push_back({key, "CRLowerDeviceID", std::string("USB\\") + ids + "&MI_00\\" + upper + "_00"});
        out.push_back({key, "Portname", port});
    }
    return out;
}

void Instrument::Core::unplug() {
    if (!attached) return;
    attached = false;
    reenumerating = false;  // plugged again, it enumerates afresh
    killLine();
    applyLines(true, true);  // an unpowered bridge drives nothing: the part's pull-ups let it run
}

void Instrument::Core::plug() { attached = true; }

void Instrument::Core::bridgeReset() {
    killLine();
    reenumerating = true;
    opAfterBridgeReset = true;
    if (faults.bridgeNeverReturns) return;
    schedule(now + uint64_t(config.bridgeResetMs) * 1000, [this] { reenumerating = false; });
}

// What the operator does at `when`, unless a later script has replaced this one by then.
void Instrument::Core::operatorAt(uint64_t gen, uint64_t when, std::function<void()> fn) {
    schedule(when, [this, gen, fn = std::move(fn)] {
        if (opGeneration == gen) fn();
    });
}

void Instrument::Core::consoleOpened() {
    if (!op || mode != Mode::Application) return;
    uint64_t gen = opGeneration;
    uint64_t t = now + uint64_t(op->reactionMs) * 1000;
    uint64_t step = uint64_t(op->toggleIntervalMs) * 1000;
    auto at = [&](uint64_t when, std::function<void()> fn) { operatorAt(gen, when, std::move(fn)); };
    if (opAfterBridgeReset) {  // "Please flip the switch to the On position"
        opAfterBridgeReset = false;
        at(t, [this] {
            switchOn = true;
            moveSwitch(true);
        });
        return;
    }
    if (switchOn) {
        at(t, [this] {
            switchOn = false;
            moveSwitch(false);
        });
        t += 4 * step;  // wait for the Warn light
    }
    for (int i = 0; i < 4; ++i)
        at(t + uint64_t(i) * step, [this, i] {
            switchOn = (i % 2 == 0);
            moveSwitch(switchOn);
        });
}

void Instrument::Core::powerCycle(uint64_t gen) {
    uint64_t t = now + uint64_t(op->reactionMs) * 1000;
    uint64_t step = uint64_t(op->stepIntervalMs) * 1000;
    auto at = [&](uint64_t when, std::function<void()> fn) { operatorAt(gen, when, std::move(fn)); };
    at(t, [this] {
        switchOn = false;
        moveSwitch(false);
    });
    at(t + step, [this] {
        unplug();
        absenceSeen = false;
    });
    at(t + 2 * step, [this] { powerOff(); });
    at(t + 3 * step, [this, gen, step] { plugBackWhenNoticed(gen, step, [this, gen, step] {
        operatorAt(gen, now + step, [this] { powerOn(); });
    }); });
}

// The cable goes back only once the PC has noticed it gone, as a person waits for the removal
// sound; otherwise a connect page might never see the bridge leave and come back, however late
// its thread runs on a busy host.
void Instrument::Core::plugBackWhenNoticed(uint64_t gen, uint64_t step, std::function<void()> then) {
    if (opGeneration != gen) return;
    if (!absenceSeen) {
        schedule(now + std::max<uint64_t>(step / 4, 1000), [this, gen, step, then] { plugBackWhenNoticed(gen, step, then); });
        return;
    }
    plug();
    if (then) then();
}

void Instrument::Core::setFaults(Faults f) {
    faults = std::move(f);
    flashOperations = 0;
    faultCounts.assign(faults.wire.size(), 0);
    bytesSent = 0;
    bytesSilenced = false;
    scheduleUnplugFault();
}

void Instrument::Core::scheduleUnplugFault() {
    if (!faults.unplugAtUs) return;
    uint64_t at = *faults.unplugAtUs;
    schedule(at, [this, at] {
        if (faults.unplugAtUs == at) unplug();
    });
}

// ---- The host's line ----

namespace {

class SimLine final : public platform::SerialLine {
public:
    SimLine(std::shared_ptr<Instrument::Core> core, uint64_t generation) : core_(std::move(core)), generation_(generation) {}
    ~SimLine() override { close(); }

    bool setupQueues(uint32_t, uint32_t) override { return alive(); }
    bool getTimeouts(platform::Timeouts& t) override {
        return withLine([&](Instrument::Core& c) { t = c.hostTimeouts; });
    }
    bool setTimeouts(const platform::Timeouts& t) override {
        return withLine([&](Instrument::Core& c) { c.hostTimeouts = t; });
    }
    bool setEventMask(uint32_t) override { return alive(); }
    bool getState(platform::LineState& s) override {
        return withLine([&](Instrument::Core& c) { s = c.hostState; });
    }
    bool setState(const platform::LineState& s) override {
        if (s.baudRate == 0 || s.byteSize < 5 || s.byteSize > 8 || s.parity > platform::parity::SPACE ||
            s.stopBits > platform::stopBits::TWO)
            return false;
        return withLine([&](Instrument::Core& c) {
            c.hostWaited();
            bool toConsole = s.baudRate == 115200 && c.hostState.baudRate != 115200;
            c.hostState = s;
            c.applyLines(s.dtrControl != platform::dtr::DISABLE, s.rtsControl != platform::rts::DISABLE);
            if (toConsole) c.consoleOpened();
        });
    }
    bool purge(uint32_t flags) override {
        return withLine([&](Instrument::Core& c) {
            if (flags & (platform::purge::RXCLEAR | platform::purge::RXABORT)) c.hostRx.clear();
            if (flags & (platform::purge::TXCLEAR | platform::purge::TXABORT))
                while (!c.hostTx.empty() && c.hostTx.back().startUs > c.now) c.hostTx.pop_back();
        });
    }
    bool queueCounts(platform::QueueCounts& counts) override {
        const bool afterWrite = std::exchange(justWrote_, false);
        auto count = [&](Instrument::Core& c) {
            if (c.hostRx.empty()) c.pollAdvance();
            counts.inQueue = uint32_t(c.hostRx.size());
            // Synced up to now, so every byte still queued is still on its way out.
            counts.outQueue = uint32_t(c.hostTx.size());
            // The check right after a write is the sender looking for an early answer, not waiting.
            if (counts.inQueue) c.hostSawInput();
            else if (!afterWrite) c.hostWaited();
        };
        if (!withLine(count)) return false;
        // Callers poll this without sleeping while they wait for an answer. A real port's call
        // gives the CPU away for a moment; without that, waiting spins a core and, on a busy
        // host, starves the threads it waits for. No pause right after a write, where sleeps
        // last a millisecond it would slow sending below the line rate. The count is taken
        // again after the pause, so a host that stalled in it still sees what came meanwhile.
        if (counts.inQueue == 0 && !afterWrite && !platform::activeClock().asVirtual()) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            return withLine(count);
        }
        return true;
    }
    bool read(void* buffer, uint32_t size, uint32_t& done) override {
        done = 0;
        std::unique_lock lock(core_->mutex);
        Instrument::Core& c = *core_;
        c.sync();
        if (!open(c)) return false;
        const platform::Timeouts& t = c.hostTimeouts;
        bool immediate = t.readIntervalTimeout == platform::TIMEOUT_MAXDWORD && t.readTotalTimeoutMultiplier == 0 &&
                         t.readTotalTimeoutConstant == 0;
        bool total = t.readTotalTimeoutMultiplier != 0 || t.readTotalTimeoutConstant != 0;
        uint64_t deadline = c.now + (uint64_t(t.readTotalTimeoutMultiplier) * size + t.readTotalTimeoutConstant) * 1000;
        if (c.hostRx.empty() && immediate) c.pollAdvance();
        while (!immediate && c.hostRx.size() < size && open(c)) {
            // No total time-out means ReadFile waits for every byte; only bytes already on their
            // way can come, so stop when none are.
            if (total ? c.now >= deadline : c.toHost.empty() && c.events.empty()) break;
            if (platform::activeClock().asVirtual()) {
                c.pollAdvance();
            } else {
                lock.unlock();
                platform::sleepMs(1);
                lock.lock();
                c.sync();
            }
        }
        if (!open(c)) return false;
        if (c.hostRx.empty()) c.hostWaited();
        else c.hostSawInput();
        auto* out = static_cast<uint8_t*>(buffer);
        while (done < size && !c.hostRx.empty()) {
            out[done++] = c.hostRx.front();
            c.hostRx.pop_front();
        }
        c.wire.read += done;
        return true;
    }
    bool write(const void* buffer, uint32_t size, uint32_t& done) override {
        done = 0;
        return withLine([&](Instrument::Core& c) {
            auto* in = static_cast<const uint8_t*>(buffer);
            uart::Framing framing = framingOf(c.hostState);
            // Under the virtual clock the host's own reads and sleeps are all that moves time.
            uint64_t from = platform::activeClock().asVirtual() ? c.now : c.hostReadyUs;
            uint64_t free = c.hostTx.empty() ? from : std::max(from, c.hostTx.back().endUs);
            for (uint32_t i = 0; i < size; ++i) {
                uint64_t end = c.config.realLineTiming ? free + uart::charTimeUs(framing) : free;
                c.hostTx.push_back({free, end, in[i], framing});
                free = end;
            }
            c.hostReadyUs = free;
            c.wire.written += size;
            done = size;
            justWrote_ = true;
            c.sync(c.now);
        });
    }
    bool close() override {
        if (closed_) return false;
        closed_ = true;
        std::lock_guard lock(core_->mutex);
        core_->sync();
        if (core_->lineGeneration == generation_) core_->killLine();
        return true;  // CloseHandle succeeds also when the device has gone
    }

private:
    bool open(const Instrument::Core& c) const { return !closed_ && c.lineOpen && c.lineGeneration == generation_; }
    bool alive() {
        return withLine([](Instrument::Core&) {});
    }
    template <class F>
    bool withLine(F&& f) {
        std::lock_guard lock(core_->mutex);
        core_->sync();
        if (!open(*core_)) return false;
        f(*core_);
        return true;
    }

    std::shared_ptr<Instrument::Core> core_;
    uint64_t generation_;
    bool justWrote_ = false;  // the last call was a write (one thread uses a line at a time)
    bool closed_ = false;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool namesInstrument(const Instrument& instrument, const std::string& path) {
    std::string_view p = path;
    if (p == instrument.bridgePath()) return true;
    if (p.size() >= 4 && p.substr(0, 4) == "\\\\.\\") p.remove_prefix(4);
    return instrument.comPort() >= 0 && equalsIgnoringCase(p, "COM" + std::to_string(instrument.comPort()));
}

}  // namespace

// ---- Instrument ----

#define LOCKED(c)                          \
    std::lock_guard lock_((c).mutex); \
    (c).sync()

Instrument::Instrument(InstrumentConfig config) : core_(std::make_shared<Core>(std::move(config))) {}
Instrument::~Instrument() = default;

std::unique_ptr<platform::SerialLine> Instrument::openLine() {
    LOCKED(*core_);
    Core& c = *core_;
    if (!c.bridgePresent() || c.lineOpen) return nullptr;
    c.lineOpen = true;
    ++c.lineGeneration;
    c.hostRx.clear();
    c.hostReadyUs = c.now;
    c.applyLines(true, true);  // the driver raises both lines on open; the settings written next decide
    return std::make_unique<SimLine>(core_, c.lineGeneration);
}

std::vector<uint8_t> Instrument::read(uint32_t address, size_t count) const {
    LOCKED(*core_);
    std::vector<uint8_t> out(count);
    for (size_t i = 0; i < count; ++i) out[i] = core_->memory.get(address + uint32_t(i));
    return out;
}

void Instrument::load(uint32_t address, const std::vector<uint8_t>& bytes) {
    LOCKED(*core_);
    for (size_t i = 0; i < bytes.size(); ++i) core_->memory.setRaw(address + uint32_t(i), bytes[i]);
}

bool Instrument::holdsFirmware() const {
    LOCKED(*core_);
    return core_->holdsFirmware();
}

void Instrument::plug() {
    LOCKED(*core_);
    core_->plug();
}
void Instrument::unplug() {
    LOCKED(*core_);
    core_->unplug();
}
bool Instrument::plugged() const {
    LOCKED(*core_);
    return core_->attached;
}
void Instrument::setSwitch(bool on) {
    LOCKED(*core_);
    if (core_->switchOn == on) return;
    core_->switchOn = on;
    core_->moveSwitch(on);
}
void Instrument::toggleSwitch() { setSwitch(!switchIsOn()); }
bool Instrument::switchIsOn() const {
    LOCKED(*core_);
    return core_->switchOn;
}
void Instrument::connectPower() {
    LOCKED(*core_);
    core_->powerOn();
}
void Instrument::disconnectPower() {
    LOCKED(*core_);
    core_->powerOff();
}
bool Instrument::powered() const {
    LOCKED(*core_);
    return core_->battery;
}

void Instrument::runOperator(OperatorScript script) {
    LOCKED(*core_);
    Core& c = *core_;
    c.op = script;
    uint64_t gen = ++c.opGeneration;
    c.opAfterBridgeReset = false;
    if (script.powerCycling) {
        c.powerCycle(gen);
        return;
    }
    uint64_t half = uint64_t(script.plugDelayMs) * 500;
    auto at = [&](uint64_t when, std::function<void()> fn) { c.operatorAt(gen, when, std::move(fn)); };
    // "Connect battery power, switch the VKT on and then connect the USB cable."
    at(c.now, [&c] { c.powerOn(); });
    auto unplugged = std::make_shared<bool>(false);
    at(c.now + half, [&c, unplugged] {
        if (c.attached) {
            c.unplug();
            c.absenceSeen = false;
            *unplugged = true;
        }
        if (!c.switchOn) {
            c.switchOn = true;
            c.moveSwitch(true);
        }
    });
    if (script.plugCable)
        at(c.now + 2 * half, [&c, unplugged, gen, half] {
            if (*unplugged && c.op->replugWhenNoticed) c.plugBackWhenNoticed(gen, 2 * half, {});
            else c.plug();
        });
}

void Instrument::stopOperator() {
    LOCKED(*core_);
    core_->op.reset();
    ++core_->opGeneration;
}

bool Instrument::bridgePresent(bool pcLooks) const {
    LOCKED(*core_);
    bool present = core_->bridgePresent();
    if (!present && pcLooks) core_->absenceSeen = true;
    return present;
}
std::string Instrument::bridgePath() const {
    LOCKED(*core_);
    return core_->bridgePath();
}
std::string Instrument::bridgeSerial() const {
    LOCKED(*core_);
    return core_->config.bridgeSerial;
}
uint16_t Instrument::vid() const {
    LOCKED(*core_);
    return core_->config.vid;
}
uint16_t Instrument::pid() const {
    LOCKED(*core_);
    return core_->config.pid;
}
int Instrument::comPort() const {
    LOCKED(*core_);
    return core_->config.comPort;
}
bool Instrument::resetBridge() {
    LOCKED(*core_);
    if (!core_->bridgePresent()) return false;
    core_->bridgeReset();
    return true;
}
std::vector<RegistryEntry> Instrument::registryEntries(int slabcrIndex) const {
    LOCKED(*core_);
    return core_->registry(slabcrIndex);
}

Mode Instrument::mode() const {
    LOCKED(*core_);
    return core_->mode;
}
bool Instrument::bslUnlocked() const {
    LOCKED(*core_);
    return core_->mode == Mode::Bsl && core_->unlocked;
}
uint32_t Instrument::deviceBaud() const {
    LOCKED(*core_);
    return core_->deviceFraming.baud;
}
std::vector<LineEdge> Instrument::lineEdges() const {
    LOCKED(*core_);
    return core_->edges;
}
void Instrument::clearLineEdges() {
    LOCKED(*core_);
    core_->edges.clear();
}
std::string Instrument::consoleText() const {
    LOCKED(*core_);
    return core_->console;
}
uint32_t Instrument::framesReceived() const {
    LOCKED(*core_);
    return core_->framesReceived;
}
Instrument::WireBytes Instrument::wireBytes() const {
    LOCKED(*core_);
    return core_->wire;
}
std::vector<uint32_t> Instrument::flashOperationFrames() const {
    LOCKED(*core_);
    return core_->flashFrames;
}
std::vector<uint8_t> Instrument::commandsReceived() const {
    LOCKED(*core_);
    return core_->commands;
}
uint32_t Instrument::flashCuts() const {
    LOCKED(*core_);
    return core_->flashCuts;
}

void Instrument::setFaults(Faults faults) {
    LOCKED(*core_);
    core_->setFaults(std::move(faults));
}
Faults Instrument::faults() const {
    LOCKED(*core_);
    return core_->faults;
}
InstrumentConfig Instrument::config() const {
    LOCKED(*core_);
    InstrumentConfig c = core_->config;
    c.faults = core_->faults;
    return c;
}
void Instrument::advance() {
    LOCKED(*core_);
}
std::optional<uint64_t> Instrument::nextEventUs() const {
    LOCKED(*core_);
    return core_->nextEvent();
}

// ---- Bus and openers ----

void UsbBus::add(Instrument& instrument) { instruments_.push_back(&instrument); }

std::vector<Instrument*> UsbBus::presentBridges() const {
    std::vector<Instrument*> out;
    for (Instrument* i : instruments_)
        if (i->bridgePresent()) out.push_back(i);
    return out;
}

std::vector<RegistryEntry> UsbBus::registryEntries() const {
    std::vector<RegistryEntry> out;
    for (size_t n = 0; n < instruments_.size(); ++n) {
        auto entries = instruments_[n]->registryEntries(int(n));
        out.insert(out.end(), entries.begin(), entries.end());
    }
    return out;
}

std::unique_ptr<platform::SerialLine> UsbBus::open(const std::string& path) const {
    for (Instrument* i : instruments_)
        if (namesInstrument(*i, path)) return i->openLine();
    return nullptr;
}

platform::SerialOpener makeOpener(Instrument& instrument) {
    return [&instrument](const std::string& path) -> std::unique_ptr<platform::SerialLine> {
        return namesInstrument(instrument, path) ? instrument.openLine() : nullptr;
    };
}

platform::SerialOpener makeOpener(UsbBus& bus) {
    return [&bus](const std::string& path) { return bus.open(path); };
}

}  // namespace sim
