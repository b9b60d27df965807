#pragma once
// The simulated KORAL VKT: an MSP430 with its ROM bootstrap loader, the application's console,
// the CP210x bridge in front of the UART, and the operator's hands. Nothing runs by itself: every
// call first brings the instrument up to platform::activeClock() time, processing what fell due
// in time order, so runs are deterministic and cost no host time under a virtual clock.
// Thread-safe (one lock per instrument): the console reader and the GUI thread may share one.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/serial.h"

namespace sim {

// Memory map of the part.
constexpr uint32_t RAM_START = 0x0200, RAM_END = 0x09FF;
constexpr uint32_t BSL_ROM_START = 0x0C00, BSL_ROM_END = 0x0FFF;
constexpr uint32_t IDENTITY_ADDRESS = 0x0FF0, IDENTITY_SIZE = 14;
constexpr uint32_t INFO_START = 0x1000, INFO_END = 0x10FF, INFO_SEGMENT_SIZE = 64;
constexpr uint32_t INFOA_ADDRESS = 0x10C0, INFOA_SIZE = 64;
constexpr uint32_t MAIN_START = 0x1100, MAIN_SEGMENT_SIZE = 512;
constexpr uint32_t PASSWORD_ADDRESS = 0xFFE0, PASSWORD_SIZE = 32;
constexpr uint32_t ROM_LOADER_ENTRY = 0x0C22;

// Loader bytes on the wire, and the erase keys of the length field.
constexpr uint8_t BSL_SYNC = 0x80, BSL_HEADER = 0x80, BSL_ACK = 0x90, BSL_NAK = 0xA0;
constexpr uint16_t ERASE_SEGMENT_KEY = 0xA502, ERASE_MAIN_KEY = 0xA504, ERASE_ALL_KEY = 0xA506;

struct Section {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const Section&) const = default;
};
// The sections of a TI-TXT text ("@addr", lines of hex bytes, "q"); LF or CR LF line ends.
std::vector<Section> sectionsFromTiTxt(std::string_view text);

// A fault on the wire. Frame faults act on the answer to the index-th command frame the loader
// receives (SYNC bytes are not frames); byte faults on the index-th byte the instrument sends
// (loader answers and console text alike). Counting starts at 1 at construction or setFaults.
enum class FaultAction {
    Nak,              // frame: NAK instead of the answer; byte: 0xA0 instead of the byte
    Silence,          // frame: no answer; byte: this byte and all later ones are not sent
    CorruptChecksum,  // frame: data answers get a wrong CKL, single-byte answers a wrong byte;
                      // byte: the byte is inverted
    DropByte,         // frame: the answer loses one byte (the first data byte, or the ACK);
                      // byte: the byte is not sent
};
enum class FaultTrigger { Frame, Byte };

struct WireFault {
    FaultAction action = FaultAction::Nak;
    FaultTrigger trigger = FaultTrigger::Frame;
    uint32_t index = 1;
    int command = -1;     // frame faults: count only frames of this command byte (-1: all)
    bool repeat = false;  // also every later frame or byte
    bool operator==(const WireFault&) const = default;
};

struct Faults {
    std::vector<WireFault> wire;
    std::optional<uint64_t> unplugAtUs;   // the cable is pulled at this active-clock time
    bool wrongPasswordMassErases = false; // a refused password erases all flash whatever the
                                          // loader version and security key at 0xFFDE say
    bool bridgeNeverReturns = false;      // after a bridge reset it stays away
    bool blankInfoA = false;              // InfoA starts erased (applied at construction)
    // The battery is removed while the loader programs or erases flash: during the index-th such
    // operation (1: the first after construction or setFaults), `permille` of the way through it.
    // Needs real line timing, under which those operations take their time.
    struct PowerCut {
        uint32_t operation = 1;
        uint32_t permille = 500;
        bool operator==(const PowerCut&) const = default;
    };
    std::optional<PowerCut> powerCutInFlash;
    bool operator==(const Faults&) const = default;
};
// Text form, comma separated: "nak-frame=K", "silence-frame=K", "corrupt-frame=K",
// "drop-frame=K", the same with "-byte=K"; a frame fault may name its command as K/0xCC
// ("nak-frame=2/0x12": the second write block); "+" after K repeats it ("nak-frame=3+");
// "unplug-at-ms=T", "wrong-password-erases", "bridge-never-returns", "blank-infoa",
// "cut-flash=K@P" (the battery removed P per mille into the K-th flash write or erase).
// False (faults unchanged, error set) on anything else.
bool parseFaults(std::string_view text, Faults& faults, std::string* error = nullptr);
std::string formatFaults(const Faults& faults);

// An operator who does what the wizard's pages ask. runOperator is the page's request: the
// connect page's steps (battery on, switch on, then the cable), or with powerCycling the
// power-cycling page's steps. Afterwards the operator reacts to what the instrument sees: the
// console opened at 115200 (service-mode page: toggle on-off-on-off for programming mode; the
// upload page's console phase after a bridge reset: switch on). Delays in milliseconds of
// active-clock time.
struct OperatorScript {
    uint32_t plugDelayMs = 1000;     // from start: battery on, switch on, then the cable
    uint32_t reactionMs = 800;       // from the page's request to the first action
    uint32_t toggleIntervalMs = 250; // between the on-off-on-off movements
    uint32_t stepIntervalMs = 1000;  // between the power-cycling steps
    bool plugCable = true;           // plug the cable in (it starts unplugged for the script)
    bool replugWhenNoticed = false;  // a cable that was in goes back only once the PC has listed
                                     // the bridges while it was away (a connect page polling on a
                                     // busy host then always sees it leave and come back)
    bool powerCycling = false;       // the power-cycling page's steps, from now: switch off,
                                     // unplug, power off, plug (only once the PC has looked for
                                     // the bridge while it was away), power on
};

struct RegistryEntry {  // a REG_SZ value under HKEY_LOCAL_MACHINE; key names compare ignoring case
    std::string key;
    std::string name;
    std::string value;
    bool operator==(const RegistryEntry&) const = default;
};

struct InstrumentConfig {
    // Bytes 0x0FF0..0x0FFD: family 0-1, process 2-3, loader version 10-11 (from bslVersion).
    std::array<uint8_t, IDENTITY_SIZE> identity = {0xF2, 0x49, 0x01, 0x00, 0xFF, 0xFF, 0xFF,
                                                   0xFF, 0xFF, 0xFF, 0x02, 0x02, 0xFF, 0xFF};
    uint16_t bslVersion = 0x0202;
    std::vector<uint8_t> infoA;          // 64 bytes; empty: a fixed calibration record
    std::vector<Section> flash;          // raw contents loaded at construction (old firmware...)
    std::vector<Section> firmwareImage;  // flash holding exactly these bytes boots; empty: never
    uint32_t flashEnd = 0xFFFF;          // above 0xFFFF: more main flash, reached by the offset
    // Bridge.
    bool attached = true;
    std::string bridgeSerial = "0001";
    std::string bridgePath;  // empty: "\\?\usb#vid_10c4&pid_ea60#<serial>#{a5dcbf10-...}"
    uint16_t vid = 0x10C4, pid = 0xEA60;
    int comPort = 3;
    uint32_t bridgeResetMs = 1500;
    bool registryPlainKey = true;      // Enum\USB\VID_xxxx&PID_xxxx\<serial>\Device Parameters
    bool registryInterfaceKey = false; // Enum\USB\VID_xxxx&PID_xxxx&MI_00\<serial>_00\...
    bool registry9x = true;            // Enum\SLABCR\guid\NNNN
    // Instrument.
    bool batteryConnected = true;
    bool switchOn = false;
    bool realLineTiming = false;  // bytes take 1+data+parity+stop bits at the baud rate; flash
                                  // erase and write take their time
    uint32_t bootDelayMs = 300;   // switch on -> boot text
    uint32_t toggleWindowMs = 1500;  // on-off-on-off must fit in this
    // Silence after which a loader waiting in mid-frame listens for SYNC afresh. A program on a
    // real or scaled clock that writes byte by byte needs more room for a busy host's pauses.
    uint32_t frameGapMs = 20;
    std::string programmingModeText = "PROGRAMMING MODE\r\n";
    std::string bootText = "\r\nKORAL VKT\r\nSelf test... OK\r\nLogger ready\r\nZantirKORAL";
    Faults faults;
};

enum class Mode { Off, Reset, Bsl, Application };

struct LineEdge {
    uint64_t timeUs = 0;
    bool dtr = false;  // which line changed: DTR (reset) or RTS (TEST)
    bool on = false;   // its new level
};

class Instrument {
public:
    explicit Instrument(InstrumentConfig config = {});
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // The instrument's UART behind its bridge, as CreateFileA on its COM port gives it; null
    // while the bridge is absent or another line is open (no sharing). A line dies (every call
    // false) when the bridge goes away.
    std::unique_ptr<platform::SerialLine> openLine();

    // Direct memory access for tests: read any address (vacant memory reads 0x3FFF words), load
    // writes raw bytes, bypassing flash rules.
    std::vector<uint8_t> read(uint32_t address, size_t count) const;
    void load(uint32_t address, const std::vector<uint8_t>& bytes);
    bool holdsFirmware() const;  // the flash holds config().firmwareImage

    // The operator.
    void plug();
    void unplug();
    bool plugged() const;
    void setSwitch(bool on);
    void toggleSwitch();
    bool switchIsOn() const;
    void connectPower();
    void disconnectPower();
    bool powered() const;
    void runOperator(OperatorScript script = {});  // the scripted operator starts its steps now
    void stopOperator();

    // The bridge as the vendor library sees it.
    // Plugged in and not re-enumerating. A look by the PC (`pcLooks`) is what an operator who
    // waits for a removal to be noticed waits for; a bench keeping its devices in step is not.
    bool bridgePresent(bool pcLooks = true) const;
    std::string bridgePath() const;
    std::string bridgeSerial() const;
    uint16_t vid() const;
    uint16_t pid() const;
    int comPort() const;
    bool resetBridge();  // CP210x_Reset: false when the bridge is absent
    // What the bridge's driver leaves in the registry; slabcrIndex numbers the 95/98/Me key.
    std::vector<RegistryEntry> registryEntries(int slabcrIndex = 0) const;

    // What happened.
    Mode mode() const;
    bool bslUnlocked() const;
    uint32_t deviceBaud() const;      // the UART's rate now
    std::vector<LineEdge> lineEdges() const;  // DTR/RTS changes seen while a line was open
    void clearLineEdges();
    std::string consoleText() const;  // everything the application has printed
    uint32_t framesReceived() const;  // command frames the loader took in
    // Bytes the host wrote to its lines and read from them, since construction.
    struct WireBytes {
        uint64_t written = 0, read = 0;
    };
    WireBytes wireBytes() const;
    // The flash writes and erases the loader began, as the number of the frame that asked for
    // each (1: the first frame counted by framesReceived), in order.
    std::vector<uint32_t> flashOperationFrames() const;
    std::vector<uint8_t> commandsReceived() const;  // their command bytes, in order

    void setFaults(Faults faults);  // restarts the fault counters
    uint32_t flashCuts() const;     // battery removals the cut-flash fault made
    Faults faults() const;
    InstrumentConfig config() const;

    // Memory, settings and the operator's state (not pending events, not the faults, which belong
    // to one run) as text, so that runs of separate processes see one instrument. A text that is
    // damaged or cut short is refused whole, with the reason in `error`; the instrument is then
    // left as it was.
    std::string saveStateText() const;
    bool loadStateText(std::string_view text, std::string* error = nullptr);
    bool saveState(const std::string& path) const;
    bool loadState(const std::string& path, std::string* error = nullptr);

    // Processes everything due up to the active clock's now (every call above does it too).
    void advance();
    // The time of the next pending event, if any (for drivers of the clock).
    std::optional<uint64_t> nextEventUs() const;

    struct Core;

private:
    std::shared_ptr<Core> core_;
    friend class UsbBus;
};

// Several bridges on one bus: device indices in the order the bridges are present, registry
// entries of every bridge ever added (Windows keeps them after unplugging).
class UsbBus {
public:
    void add(Instrument& instrument);
    std::vector<Instrument*> presentBridges() const;
    std::vector<RegistryEntry> registryEntries() const;
    std::unique_ptr<platform::SerialLine> open(const std::string& path) const;

private:
    std::vector<Instrument*> instruments_;
};

// An opener for platform::setSerialOpener: "\\.\COMn" (n = the bridge's COM number, any case)
// and the bridge's own path reach the instrument; every other path fails to open.
platform::SerialOpener makeOpener(Instrument& instrument);
platform::SerialOpener makeOpener(UsbBus& bus);

}  // namespace sim
