// Serial lines through libserialport, behaving as the Win32 calls they stand for.
#include <libserialport.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "platform/os/clock.h"
#include "platform/os/serial.h"

namespace platform {
namespace {

sp_parity toSp(uint8_t p) {
    switch (p) {
    case parity::ODD: return SP_PARITY_ODD;
    case parity::EVEN: return SP_PARITY_EVEN;
    case parity::MARK: return SP_PARITY_MARK;
    case parity::SPACE: return SP_PARITY_SPACE;
    default: return SP_PARITY_NONE;
    }
}

class PosixSerialLine final : public SerialLine {
public:
    explicit PosixSerialLine(sp_port* port) : port_(port) {
        sp_port_config* config = nullptr;
        if (sp_new_config(&config) == SP_OK && sp_get_config(port_, config) == SP_OK) {
            int baud = 0, bits = 0, stop = 0;
            sp_parity par = SP_PARITY_NONE;
            if (sp_get_config_baudrate(config, &baud) == SP_OK && baud > 0) state_.baudRate = uint32_t(baud);
            if (sp_get_config_bits(config, &bits) == SP_OK && bits >= 5) state_.byteSize = uint8_t(bits);
            if (sp_get_config_parity(config, &par) == SP_OK && par >= 0) state_.parity = uint8_t(par);
            if (sp_get_config_stopbits(config, &stop) == SP_OK) state_.stopBits = stop == 2 ? stopBits::TWO : stopBits::ONE;
        }
        sp_free_config(config);
    }
    ~PosixSerialLine() override { close(); }

    bool setupQueues(uint32_t, uint32_t) override { return port_ != nullptr; }  // the kernel sizes them
    bool getTimeouts(Timeouts& t) override {
        t = timeouts_;
        return port_ != nullptr;
    }
    bool setTimeouts(const Timeouts& t) override {
        timeouts_ = t;
        return port_ != nullptr;
    }
    bool setEventMask(uint32_t) override { return port_ != nullptr; }
    bool getState(LineState& s) override {
        s = state_;
        return port_ != nullptr;
    }
    bool setState(const LineState& s) override {
        if (!port_) return false;
        bool ok = sp_set_baudrate(port_, int(s.baudRate)) == SP_OK && sp_set_bits(port_, s.byteSize) == SP_OK &&
                  sp_set_parity(port_, toSp(s.parity)) == SP_OK &&
                  sp_set_stopbits(port_, s.stopBits == stopBits::TWO ? 2 : 1) == SP_OK &&
                  sp_set_cts(port_, s.fOutxCtsFlow ? SP_CTS_FLOW_CONTROL : SP_CTS_IGNORE) == SP_OK &&
                  sp_set_dsr(port_, s.fOutxDsrFlow ? SP_DSR_FLOW_CONTROL : SP_DSR_IGNORE) == SP_OK &&
                  sp_set_xon_xoff(port_, s.fOutX && s.fInX ? SP_XONXOFF_INOUT
                                         : s.fOutX          ? SP_XONXOFF_OUT
                                         : s.fInX           ? SP_XONXOFF_IN
                                                            : SP_XONXOFF_DISABLED) == SP_OK &&
                  sp_set_dtr(port_, s.dtrControl == dtr::HANDSHAKE ? SP_DTR_FLOW_CONTROL
                                    : s.dtrControl == dtr::ENABLE  ? SP_DTR_ON
                                                                   : SP_DTR_OFF) == SP_OK &&
                  sp_set_rts(port_, s.rtsControl == rts::HANDSHAKE ? SP_RTS_FLOW_CONTROL
                                    : s.rtsControl == rts::DISABLE ? SP_RTS_OFF
                                                                   : SP_RTS_ON) == SP_OK;
        if (ok) state_ = s;
        return ok;
    }
    bool purge(uint32_t flags) override {
        if (!port_) return false;
        int buffers = 0;
        if (flags & (purge::RXABORT | purge::RXCLEAR)) buffers |= SP_BUF_INPUT;
        if (flags & (purge::TXABORT | purge::TXCLEAR)) buffers |= SP_BUF_OUTPUT;
        return buffers == 0 || sp_flush(port_, sp_buffer(buffers)) == SP_OK;
    }
    bool queueCounts(QueueCounts& counts) override {
        if (!port_) return false;
        int in = sp_input_waiting(port_), out = sp_output_waiting(port_);
        if (in < 0 || out < 0) return false;  // the device has gone
        counts.inQueue = uint32_t(in);
        counts.outQueue = uint32_t(out);
        return true;
    }
    bool read(void* buffer, uint32_t size, uint32_t& done) override {
        done = 0;
        if (!port_) return false;
        const Timeouts& t = timeouts_;
        sp_return r;
        if (t.readIntervalTimeout == TIMEOUT_MAXDWORD && t.readTotalTimeoutMultiplier == 0 &&
            t.readTotalTimeoutConstant == 0) {
            r = sp_nonblocking_read(port_, buffer, size);
        } else {
            // No total time-out (0) waits for every byte, as ReadFile does.
            uint64_t total = uint64_t(t.readTotalTimeoutMultiplier) * size + t.readTotalTimeoutConstant;
            r = sp_blocking_read(port_, buffer, size, unsigned(std::min<uint64_t>(total, 0x7FFFFFFF)));
        }
        if (r < 0) return false;
        done = uint32_t(r);
        return true;
    }
    bool write(const void* buffer, uint32_t size, uint32_t& done) override {
        done = 0;
        if (!port_) return false;
        uint64_t total = uint64_t(timeouts_.writeTotalTimeoutMultiplier) * size + timeouts_.writeTotalTimeoutConstant;
        sp_return r = sp_blocking_write(port_, buffer, size, unsigned(std::min<uint64_t>(total, 0x7FFFFFFF)));
        if (r < 0) return false;
        done = uint32_t(r);
        return true;
    }
    // poll() until the first byte, then a character's time between counts: the frame layer's
    // limits kept on host time (the only clock a real port runs on), no core spent waiting.
    std::optional<uint32_t> waitForInput(uint32_t minCount, uint32_t timeoutMs) override {
        int fd = -1;
        if (!port_ || sp_get_port_handle(port_, &fd) != SP_OK) return std::nullopt;
        const uint64_t start = host::monotonicUs(), limit = uint64_t(timeoutMs) * 1000;
        bool inputSeen = false;
        for (;;) {
            uint64_t elapsed = host::monotonicUs() - start;
            uint64_t left = elapsed < limit ? limit - elapsed : 0;
            if (!inputSeen) {
                pollfd p{fd, POLLIN, 0};
                int r = poll(&p, 1, int((left + 999) / 1000));
                if (r == 0) return 0u;  // nothing came in the whole time
                if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return 0u;  // the device has gone
                if (r < 0 && errno != EINTR) return std::nullopt;
                if (r < 0) continue;
                inputSeen = true;
            }
            int queued = sp_input_waiting(port_);
            if (queued < 0) return 0u;
            if (uint32_t(queued) >= minCount || host::monotonicUs() - start >= limit) return uint32_t(queued);
            host::sleepUs(std::min<uint64_t>(left, 1000));
        }
    }
    bool close() override {
        if (!port_) return false;
        bool ok = sp_close(port_) == SP_OK;
        sp_free_port(port_);
        port_ = nullptr;
        return ok;
    }

private:
    sp_port* port_;
    LineState state_;
    Timeouts timeouts_;
};

}  // namespace

std::unique_ptr<SerialLine> openHostSerialLine(const std::string& path) {
    std::string device = posixDevicePath(path);
    if (device.empty()) return nullptr;
    sp_port* port = nullptr;
    if (sp_get_port_by_name(device.c_str(), &port) != SP_OK) return nullptr;
    if (sp_open(port, SP_MODE_READ_WRITE) != SP_OK) {
        sp_free_port(port);
        return nullptr;
    }
    return std::make_unique<PosixSerialLine>(port);
}

}  // namespace platform
