#pragma once
// A serial line as Win32 offers it: each operation stands for one Win32 call, so the frame layer
// above reads like the code it replaces and a recording of these calls is a byte-exact test.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// Win32's names for these values are macros of <windows.h>, so ours live in small namespaces:
// platform::purge::TXABORT is PURGE_TXABORT, platform::dtr::ENABLE is DTR_CONTROL_ENABLE.
namespace purge {  // PurgeComm flags
constexpr uint32_t TXABORT = 0x0001, RXABORT = 0x0002, TXCLEAR = 0x0004, RXCLEAR = 0x0008;
}
namespace commEvent {  // SetCommMask events
constexpr uint32_t RXCHAR = 0x0001, RXFLAG = 0x0002, TXEMPTY = 0x0004, ERR = 0x0080;
}
namespace parity {
constexpr uint8_t NONE = 0, ODD = 1, EVEN = 2, MARK = 3, SPACE = 4;
}
namespace stopBits {
constexpr uint8_t ONE = 0, ONE5 = 1, TWO = 2;
}
namespace dtr {
constexpr uint8_t DISABLE = 0, ENABLE = 1, HANDSHAKE = 2;
}
namespace rts {
constexpr uint8_t DISABLE = 0, ENABLE = 1, HANDSHAKE = 2, TOGGLE = 3;
}

// The DCB fields the system reads or writes; the rest of a real DCB is kept by the Win32 side.
struct LineState {
    uint32_t baudRate = 9600;
    uint8_t byteSize = 8;
    uint8_t parity = parity::NONE;
    uint8_t stopBits = stopBits::ONE;
    uint8_t dtrControl = dtr::ENABLE;
    uint8_t rtsControl = rts::ENABLE;
    bool fBinary = true;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    char errorChar = 0;
    bool operator==(const LineState&) const = default;
};

// COMMTIMEOUTS.
struct Timeouts {
    uint32_t readIntervalTimeout = 0;
    uint32_t readTotalTimeoutMultiplier = 0;
    uint32_t readTotalTimeoutConstant = 0;
    uint32_t writeTotalTimeoutMultiplier = 0;
    uint32_t writeTotalTimeoutConstant = 0;
    bool operator==(const Timeouts&) const = default;
};

// What ClearCommError reports in its COMSTAT.
struct QueueCounts {
    uint32_t inQueue = 0;
    uint32_t outQueue = 0;
};

// An open line (the handle CreateFileA returned). Every call answers true for success, as the
// Win32 call's BOOL would.
class SerialLine {
public:
    virtual ~SerialLine() = default;
    virtual bool setupQueues(uint32_t inQueue, uint32_t outQueue) = 0;     // SetupComm
    virtual bool getTimeouts(Timeouts& timeouts) = 0;                       // GetCommTimeouts
    virtual bool setTimeouts(const Timeouts& timeouts) = 0;                 // SetCommTimeouts
    virtual bool setEventMask(uint32_t mask) = 0;                           // SetCommMask
    virtual bool getState(LineState& state) = 0;                            // GetCommState
    virtual bool setState(const LineState& state) = 0;                      // SetCommState
    virtual bool purge(uint32_t flags) = 0;                                 // PurgeComm
    virtual bool queueCounts(QueueCounts& counts) = 0;                      // ClearCommError
    virtual bool read(void* buffer, uint32_t size, uint32_t& done) = 0;     // ReadFile
    virtual bool write(const void* buffer, uint32_t size, uint32_t& done) = 0;  // WriteFile
    virtual bool close() = 0;                                               // CloseHandle
    // Waits without spinning, at most `timeoutMs` of host time, until `minCount` bytes are queued;
    // the count found last. Empty when the line cannot wait so: the caller polls queueCounts.
    virtual std::optional<uint32_t> waitForInput(uint32_t minCount, uint32_t timeoutMs) { return std::nullopt; }
};

// Opens a line by its path, as CreateFileA (GENERIC_READ | GENERIC_WRITE, no sharing,
// OPEN_EXISTING) would; null when that fails.
using SerialOpener = std::function<std::unique_ptr<SerialLine>(const std::string& path)>;

// Opens through the process-wide opener: the host's ports unless another was installed.
std::unique_ptr<SerialLine> openSerialLine(const std::string& path);
// Installs an opener (empty restores the host's). Returns the previous one.
SerialOpener setSerialOpener(SerialOpener opener);
// The host's own ports.
std::unique_ptr<SerialLine> openHostSerialLine(const std::string& path);
// Why this thread's last openSerialLine gave null, in words for the log ("the port is in use by
// another program"); empty when the opener did not say. Openers set it.
std::string lastSerialOpenError();
void setSerialOpenError(std::string why);

// COMMTIMEOUTS' MAXDWORD: with it as read interval and both read totals 0, ReadFile returns at
// once with what is queued.
constexpr uint32_t TIMEOUT_MAXDWORD = 0xFFFFFFFF;

// Hosts without COM names (POSIX): which device "\\.\COMn" stands for. An installed table is
// asked first, then the CP210x bridges present, numbered as platform/os/usb_bridges.h says (the
// numbers the registry view gives them); a number found in neither does not open. Windows
// ignores both.
void setComPortTable(std::map<int, std::string> table);
std::map<int, std::string> comPortTable();
// The device node a path names on a POSIX host: "\\.\COMn" as above, "\\.\/dev/x"
// and "/dev/x" as themselves; empty when it names none.
std::string posixDevicePath(const std::string& path);

}  // namespace platform
