// Serial lines: the Win32 communications calls, one for one.
#include <windows.h>
#include <timeapi.h>

#include "platform/os/serial.h"
#include "platform/os/win32/error_text.h"

namespace platform {
namespace {

class Win32SerialLine final : public SerialLine {
public:
    // While a line is open the system timer ticks every millisecond: the entry sequence's 10 ms
    // pulses would otherwise last a whole 15.6 ms tick or two.
    explicit Win32SerialLine(HANDLE handle) : handle_(handle) { timeBeginPeriod(1); }
    ~Win32SerialLine() override { close(); }

    bool setupQueues(uint32_t in, uint32_t out) override { return SetupComm(handle_, in, out) != 0; }
    bool getTimeouts(Timeouts& t) override {
        COMMTIMEOUTS c{};
        if (!GetCommTimeouts(handle_, &c)) return false;
        t = {c.ReadIntervalTimeout, c.ReadTotalTimeoutMultiplier, c.ReadTotalTimeoutConstant,
             c.WriteTotalTimeoutMultiplier, c.WriteTotalTimeoutConstant};
        return true;
    }
    bool setTimeouts(const Timeouts& t) override {
        COMMTIMEOUTS c{t.readIntervalTimeout, t.readTotalTimeoutMultiplier, t.readTotalTimeoutConstant,
                       t.writeTotalTimeoutMultiplier, t.writeTotalTimeoutConstant};
        return SetCommTimeouts(handle_, &c) != 0;
    }
    bool setEventMask(uint32_t mask) override { return SetCommMask(handle_, mask) != 0; }
    bool getState(LineState& s) override {
        dcb_ = DCB{};
        dcb_.DCBlength = sizeof(DCB);
        if (!GetCommState(handle_, &dcb_)) return false;
        s.baudRate = dcb_.BaudRate;
        s.byteSize = dcb_.ByteSize;
        s.parity = dcb_.Parity;
        s.stopBits = dcb_.StopBits;
        s.dtrControl = uint8_t(dcb_.fDtrControl);
        s.rtsControl = uint8_t(dcb_.fRtsControl);
        s.fBinary = dcb_.fBinary;
        s.fParity = dcb_.fParity;
        s.fOutxCtsFlow = dcb_.fOutxCtsFlow;
        s.fOutxDsrFlow = dcb_.fOutxDsrFlow;
        s.fOutX = dcb_.fOutX;
        s.fInX = dcb_.fInX;
        s.fErrorChar = dcb_.fErrorChar;
        s.fNull = dcb_.fNull;
        s.errorChar = dcb_.ErrorChar;
        haveDcb_ = true;
        return true;
    }
    bool setState(const LineState& s) override {
        // The fields we do not carry keep what the port last reported.
        if (!haveDcb_) {
            LineState ignored;
            if (!getState(ignored)) return false;
        }
        DCB d = dcb_;
        d.BaudRate = s.baudRate;
        d.ByteSize = s.byteSize;
        d.Parity = s.parity;
        d.StopBits = s.stopBits;
        d.fDtrControl = s.dtrControl;
        d.fRtsControl = s.rtsControl;
        d.fBinary = s.fBinary;
        d.fParity = s.fParity;
        d.fOutxCtsFlow = s.fOutxCtsFlow;
        d.fOutxDsrFlow = s.fOutxDsrFlow;
        d.fOutX = s.fOutX;
        d.fInX = s.fInX;
        d.fErrorChar = s.fErrorChar;
        d.fNull = s.fNull;
        d.ErrorChar = s.errorChar;
        // Fields the protocol needs whatever the last program left in the driver: with DSR
        // sensitivity received bytes are dropped while DSR is low, and abort-on-error stops every
        // read and write after one parity error until the error is cleared.
        d.fDsrSensitivity = FALSE;
        d.fAbortOnError = FALSE;
        d.fTXContinueOnXoff = TRUE;
        if (!SetCommState(handle_, &d)) return false;
        dcb_ = d;
        return true;
    }
    bool purge(uint32_t flags) override { return PurgeComm(handle_, flags) != 0; }
    bool queueCounts(QueueCounts& counts) override {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(handle_, &errors, &stat)) return false;
        counts.inQueue = stat.cbInQue;
        counts.outQueue = stat.cbOutQue;
        return true;
    }
    bool read(void* buffer, uint32_t size, uint32_t& done) override {
        return transfer([&](DWORD& n) { return ReadFile(handle_, buffer, size, &n, nullptr); }, done);
    }
    bool write(const void* buffer, uint32_t size, uint32_t& done) override {
        return transfer([&](DWORD& n) { return WriteFile(handle_, buffer, size, &n, nullptr); }, done);
    }
    bool close() override {
        if (handle_ == INVALID_HANDLE_VALUE) return false;
        BOOL ok = CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        timeEndPeriod(1);
        return ok != 0;
    }

private:
    // A communication error that stopped the line (abort-on-error set before our settings took)
    // is cleared, and the call made once more.
    template <class Call>
    bool transfer(Call call, uint32_t& done) {
        DWORD n = 0;
        BOOL ok = call(n);
        if (!ok && GetLastError() == ERROR_OPERATION_ABORTED) {
            DWORD errors = 0;
            if (ClearCommError(handle_, &errors, nullptr)) ok = call(n);
        }
        done = n;
        return ok != 0;
    }

    HANDLE handle_;
    DCB dcb_{};
    bool haveDcb_ = false;
};

}  // namespace

std::unique_ptr<SerialLine> openHostSerialLine(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) return std::make_unique<Win32SerialLine>(h);
    DWORD error = GetLastError();
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: setSerialOpenError("the port is in use by another program"); break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: setSerialOpenError("there is no such port"); break;
    default: setSerialOpenError(systemErrorText(error));
    }
    return nullptr;
}

}  // namespace platform
