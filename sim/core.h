#pragma once
// Inside the simulated instrument. Every member function expects `mutex` to be held.
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "sim/instrument.h"
#include "sim/memory.h"
#include "sim/uart.h"

namespace sim {

// The loader's security key (the word below the vectors), read by loaders from version 2.00 on:
// 0x0000 keeps the flash when a wrong password comes, 0xAA55 switches the loader off, any other
// value lets a wrong password erase main and information memory, InfoA included.
constexpr uint32_t SECURITY_KEY_ADDRESS = 0xFFDE;
constexpr uint16_t KEY_KEEP_FLASH = 0x0000, KEY_LOADER_OFF = 0xAA55;
constexpr uint16_t FIRST_KEYED_LOADER = 0x0200;

// What counts as the valid firmware: address ranges and a hash of their bytes, so that a state
// file need not carry the image.
struct FirmwareDigest {
    std::vector<std::pair<uint32_t, uint32_t>> ranges;  // address, length
    uint64_t hash = 0;
    bool empty() const { return ranges.empty(); }
};
FirmwareDigest digestOf(const std::vector<Section>& sections);
uint64_t fnv1a(uint64_t hash, uint8_t byte);
inline constexpr uint64_t FNV_OFFSET = 0xcbf29ce484222325ull;

struct Instrument::Core {
    explicit Core(InstrumentConfig cfg);

    std::mutex mutex;
    InstrumentConfig config;
    Memory memory;
    FirmwareDigest firmware;
    uint64_t now = 0;

    // Physical state.
    bool attached = true;
    bool reenumerating = false;
    bool battery = true;
    bool switchOn = false;
    Mode mode = Mode::Application;
    bool resetHeld = false;
    int testPulses = 0;
    bool dtr = true, rts = true;  // the levels the bridge drives
    std::vector<LineEdge> edges;

    // The host side of the bridge: one open line at a time.
    bool lineOpen = false;
    uint64_t lineGeneration = 0;
    platform::LineState hostState;
    platform::Timeouts hostTimeouts;
    struct TxByte {
        uint64_t startUs, endUs;
        uint8_t byte;
        uart::Framing framing;
    };
    std::deque<TxByte> hostTx;  // host -> device, in order
    struct RxByte {
        uint64_t arrivalUs;
        uint8_t byte;
        uart::Framing framing;
        uint64_t generation;
    };
    std::deque<RxByte> toHost;  // device -> host, still on the wire
    std::deque<uint8_t> hostRx;  // arrived, waiting for ReadFile
    uint64_t hostRxArrivalUs = 0;  // when the newest of them arrived
    WireBytes wire;
    // On a real or scaled clock: the instrument time from which the host's next byte can go. A
    // host that is writing, or has just seen what it waited for, sends at once in the
    // instrument's time; only its waiting (polls that find nothing, line changes) moves this on,
    // never a pause of the host process, which the scaled clock would multiply.
    uint64_t hostReadyUs = 0;
    void hostWaited() { hostReadyUs = std::max(hostReadyUs, now); }
    void hostSawInput() { hostReadyUs = std::max(hostReadyUs, hostRxArrivalUs); }

    // The device's UART.
    uart::Framing deviceFraming = uart::CONSOLE_FRAMING;
    uint64_t deviceTxFreeUs = 0;
    uint64_t deviceLastRxUs = 0;

    // Scheduled happenings.
    struct Event {
        uint64_t at;
        uint64_t seq;
        std::function<void()> run;
    };
    std::vector<Event> events;  // kept sorted by (at, seq)
    uint64_t eventSeq = 0;
    void schedule(uint64_t at, std::function<void()> run);

    // Loader.
    enum class Rx { Idle, Synced, Frame, Rejecting };
    Rx rx = Rx::Idle;
    std::vector<uint8_t> frame;
    size_t rejectRemaining = 0;
    bool unlocked = false;
    uint32_t offset = 0;  // address bits above bit 15
    uint64_t session = 0;  // bumps on every reset, power change or loader restart
    uint32_t framesReceived = 0;
    std::vector<uint8_t> commands;

    // Flash at work: what a power loss before `endUs` leaves in the cells being written or erased.
    struct FlashWork {
        enum class Kind { Write, Erase } kind = Kind::Write;
        uint64_t startUs = 0, endUs = 0;
        // Written: the bytes from `address`, as they were before. Erased: whole segments, one
        // after the other in address order.
        uint32_t address = 0;
        std::vector<uint8_t> before;
        std::vector<std::pair<uint32_t, uint32_t>> segments;  // first address, last address
    };
    std::optional<FlashWork> flashWork;
    std::vector<uint32_t> flashFrames;
    uint32_t flashOperations = 0;  // since the faults were set
    uint32_t flashCuts = 0;        // battery removals by the cut-flash fault
    FlashWork erasing(std::vector<std::pair<uint32_t, uint32_t>> segments, uint64_t at, uint64_t durationUs) const;
    void beginFlashWork(FlashWork work);
    void cutFlashWork();
    uint8_t arbitrary(uint32_t address);

    // Application.
    std::string console;
    bool bootPending = false;
    std::deque<std::pair<uint64_t, bool>> switchMoves;

    // Faults.
    Faults faults;
    std::vector<uint32_t> faultCounts;
    uint32_t bytesSent = 0;
    bool bytesSilenced = false;

    // Operator.
    std::optional<OperatorScript> op;
    uint64_t opGeneration = 0;
    bool opAfterBridgeReset = false;
    bool absenceSeen = false;  // the PC listed the bridges while this one was away

    // Time.
    uint64_t clockNow() const;
    void sync(uint64_t t);
    void sync() { sync(clockNow()); }
    std::optional<uint64_t> nextEvent() const;
    void pollAdvance();

    // Lines and power.
    void applyLines(bool newDtr, bool newRts);
    void killLine();
    void releaseReset();
    void startLoader();
    void startApplication();
    void powerOff();
    void powerOn();
    void scrambleRam();

    // Device UART.
    void deviceSend(const std::vector<uint8_t>& bytes, uint64_t notBeforeUs);
    void deviceReceive(const TxByte& b);

    // Loader (loader.cpp).
    void loaderByte(uint8_t c, uint64_t at);
    void loaderFrame(uint64_t at);
    void answer(std::vector<uint8_t> bytes, uint8_t command, uint64_t at);
    bool allowedLocked(uint8_t command) const;
    uint16_t securityKey() const;
    bool loaderSwitchedOff() const;
    bool wrongPasswordErases() const;
    uint32_t fullAddress(uint16_t address) const { return (offset << 16) | address; }
    void resetLoaderReceiver();

    // Application.
    void moveSwitch(bool on);
    void appPrint(const std::string& text, uint64_t at);
    bool applicationPresent() const;
    bool holdsFirmware() const;

    // Operator and bridge.
    void operatorAt(uint64_t gen, uint64_t when, std::function<void()> fn);
    void consoleOpened();
    void powerCycle(uint64_t gen);
    void plugBackWhenNoticed(uint64_t gen, uint64_t step, std::function<void()> then);
    void bridgeReset();
    void unplug();
    void plug();
    void setFaults(Faults f);
    void scheduleUnplugFault();

    bool bridgePresent() const { return attached && !reenumerating; }
    std::string bridgePath() const;
    std::vector<RegistryEntry> registry(int slabcrIndex) const;
};

}  // namespace sim
