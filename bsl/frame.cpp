// The serial frame layer: the one port of the process, the DTR/RTS entry sequence, SYNC and
// the exchange of one frame.
#include <cstdio>
#include <memory>
#include <string>

#include "bsl/engine.h"
#include "bsl/output.h"
#include "platform/os/clock.h"
#include "platform/os/serial.h"

BslPort g_port;

namespace {
std::unique_ptr<platform::SerialLine> g_line;
platform::LineState g_dcb;
platform::Timeouts g_savedTimeouts;

void dropLine() {
    if (g_line) g_line->close();
    g_line.reset();
}

bool readBytes(uint8_t* dst, uint32_t count) {
    uint32_t done = 0;
    return g_line && g_line->read(dst, count, done) && done == count;
}

bool writeByte(uint8_t byte) {
    uint32_t done = 0;
    return g_line->write(&byte, 1, done) && done == 1;
}

void purge(uint32_t flags) {
    if (g_line) g_line->purge(flags);
}

// The rest of a data frame after its 0x80 header: 0 when complete and its checksum holds.
int receiveDataFrame() {
    uint8_t* f = g_port.rxFrame;
    // Until the checksum is checked, a failure leaves no data to hand on.
    auto refuse = [f] {
        f[2] = f[3] = 0;
        return BSL_ERR_ANSWER;
    };
    if (waitForInput(3, g_port.answerTimeout) < 3 || !readBytes(f + 1, 3)) return refuse();
    if (f[1] != 0 || f[2] != f[3]) return refuse();
    uint32_t l1 = f[2];
    // More data than the frame holds would be written past it.
    if (4 + l1 + 2 > BSL_RX_FRAME_SIZE) return refuse();
    if (waitForInput(l1 + 2, g_port.answerTimeout) < l1 + 2 || !readBytes(f + 4, l1 + 2))
        return refuse();
    uint16_t sum = bslChecksum(f, 4 + l1);
    if (f[4 + l1] != (sum & 0xFF) || f[5 + l1] != (sum >> 8)) return BSL_ERR_ANSWER;
    return BSL_OK;
}
}  // namespace

void sleepMs(uint32_t ms) { platform::sleepMs(ms); }
uint32_t elapsedMs(uint32_t startTick) { return platform::tickCount() - startTick; }

int openSerialPort(const char* path, uint32_t answerTimeoutMs, uint32_t answerFactor) {
    dropLine();
    g_port.answerTimeout = answerTimeoutMs;
    g_port.answerFactor = answerFactor;
    auto line = platform::openSerialLine(path ? path : "");
    if (!line) {
        // A port in use and one that does not exist call for different things of the operator.
        std::string why = platform::lastSerialOpenError();
        if (!why.empty()) postOutput("%s: %s.\n", path ? path : "", why.c_str());
        return COM_ERR_OPEN;
    }
    auto fail = [&](int code) {
        line->close();
        return code;
    };
    if (!line->setupQueues(512, 512)) return fail(COM_ERR_OPEN);
    line->getTimeouts(g_savedTimeouts);
    if (!line->setTimeouts(platform::Timeouts{})) return fail(COM_ERR_OPEN);
    line->setEventMask(platform::commEvent::RXCHAR | platform::commEvent::RXFLAG |
                       platform::commEvent::TXEMPTY | platform::commEvent::ERR);
    if (!line->getState(g_dcb)) return fail(COM_ERR_OPEN);
    g_dcb.baudRate = 9600;
    g_dcb.byteSize = 8;
    g_dcb.parity = platform::parity::EVEN;
    g_dcb.stopBits = platform::stopBits::ONE;
    g_dcb.errorChar = char(0xFF);
    g_dcb.fBinary = true;
    g_dcb.fParity = true;
    g_dcb.fOutxCtsFlow = g_dcb.fOutxDsrFlow = g_dcb.fOutX = g_dcb.fInX = false;
    g_dcb.fErrorChar = g_dcb.fNull = false;
    g_dcb.dtrControl = platform::dtr::ENABLE;
    g_dcb.rtsControl = platform::rts::ENABLE;
    if (!line->setState(g_dcb)) return fail(COM_ERR_STATE);
    line->purge(platform::purge::TXABORT | platform::purge::TXCLEAR);
    line->purge(platform::purge::RXABORT | platform::purge::RXCLEAR);
    g_line = std::move(line);
    return BSL_OK;
}

int closeSerialPort() {
    if (!g_line) return BSL_OK;
    uint32_t start = platform::tickCount();
    for (;;) {
        platform::QueueCounts counts;
        if (!g_line->queueCounts(counts) || counts.outQueue == 0) break;
        if (elapsedMs(start) >= g_port.answerTimeout) break;
    }
    g_line->purge(platform::purge::TXABORT | platform::purge::TXCLEAR);
    g_line->purge(platform::purge::RXABORT | platform::purge::RXCLEAR);
    g_line->setTimeouts(g_savedTimeouts);
    bool closed = g_line->close();
    g_line.reset();
    return closed ? BSL_OK : COM_ERR_CLOSE;
}

bool serialPortOpen() { return g_line != nullptr; }

int setBaudRate(uint32_t rate) {
    if (!g_line) return COM_ERR_STATE;
    g_dcb.baudRate = rate;
    if (!g_line->setState(g_dcb)) {
        dropLine();
        return COM_ERR_STATE;
    }
    return BSL_OK;
}

uint32_t getBaudRate() { return g_dcb.baudRate; }

uint32_t waitForInput(uint32_t minCount, uint32_t timeoutMs) {
    if (!g_line) return 0;
    // A line that can block waits in the system: the same limit, no core spent on polling.
    if (std::optional<uint32_t> queued = g_line->waitForInput(minCount, timeoutMs)) return *queued;
    uint32_t start = platform::tickCount();
    for (;;) {
        platform::QueueCounts counts;
        uint32_t queued = g_line->queueCounts(counts) ? counts.inQueue : 0;
        if (queued >= minCount || elapsedMs(start) >= timeoutMs) return queued;
    }
}

bool readSerialByte(uint8_t& byte) { return readBytes(&byte, 1); }

bool setDtr(bool on) {
    if (!g_line) return false;
    g_dcb.dtrControl = on ? platform::dtr::ENABLE : platform::dtr::DISABLE;
    return g_line->setState(g_dcb);
}

bool setRts(bool on) {
    if (!g_line) return false;
    g_dcb.rtsControl = on ? platform::rts::ENABLE : platform::rts::DISABLE;
    return g_line->setState(g_dcb);
}

void bslEntrySequence(bool startBsl) {
    setDtr(true);
    setRts(true);
    sleepMs(250);
    setDtr(false);
    if (startBsl) {
        setRts(true);
        sleepMs(10);
        setRts(false);
        sleepMs(10);
        setRts(true);
        sleepMs(10);
        setRts(false);
        sleepMs(10);
        setDtr(true);
        sleepMs(10);
        setRts(true);
    } else {
        sleepMs(10);
        setDtr(true);
    }
    sleepMs(250);
    purge(platform::purge::TXCLEAR);
    purge(platform::purge::RXCLEAR);
}

int bslSynchronize() {
    for (int attempt = 0; attempt < 3 && g_line; ++attempt) {
        purge(platform::purge::RXCLEAR);
        if (!writeByte(0x80)) continue;
        if (waitForInput(1, 100) >= 1) {
            uint8_t answer = 0;
            if (readBytes(&answer, 1) && answer == 0x90) return BSL_OK;
        }
    }
    return BSL_ERR_SYNC;
}

uint16_t bslChecksum(const uint8_t* bytes, uint32_t count) {
    uint16_t x = 0;
    for (uint32_t i = 0; i + 1 < count; i += 2) x ^= uint16_t(bytes[i] | bytes[i + 1] << 8);
    return uint16_t(~x);
}

int bslTransferFrame(uint8_t cmd, const uint8_t* frameData, uint32_t n) {
    g_port.rxFrame[2] = g_port.rxFrame[3] = 0;
    uint8_t frame[4 + 256 + 2];
    if (n > 255) return BSL_ERR_ANSWER;
    for (uint32_t i = 0; i < n; ++i) frame[4 + i] = frameData[i];
    if (n & 1) frame[4 + n++] = 0xFF;
    // L1 is one byte: a padded 255 would not fit it.
    if (n > 254) return BSL_ERR_ANSWER;
    frame[0] = 0x80;
    frame[1] = cmd;
    frame[2] = frame[3] = uint8_t(n);
    uint16_t sum = bslChecksum(frame, 4 + n);
    frame[4 + n] = uint8_t(sum);
    frame[5 + n] = uint8_t(sum >> 8);

    if (g_cmd.warning) {
        uint16_t a = uint16_t((uint16_t(~sum) + 0x0212) & 0xFFFE);
        if (a < 0x0A00) {
            std::printf("WARNING: This command might change data at address %x or %x!\n", a, a + 1);
            std::fflush(stdout);
        }
    }

    if (!g_line) return BSL_ERR_TIMEOUT;
    purge(platform::purge::RXABORT | platform::purge::RXCLEAR);
    for (uint32_t i = 0; i < n + 6; ++i) {
        bool sent = writeByte(frame[i]);
        platform::QueueCounts counts;
        if (g_line->queueCounts(counts) && counts.inQueue >= 1) break;
        // A frame cut short is no command: the target's silence or NAK after it says nothing.
        if (!sent) return BSL_ERR_TIMEOUT;
    }

    if (waitForInput(1, g_port.answerTimeout * g_port.answerFactor) < 1) return BSL_ERR_TIMEOUT;
    uint8_t header = 0;
    if (!readBytes(&header, 1)) return BSL_ERR_ANSWER;
    switch (header & 0xF0) {
    case 0x90: return BSL_OK;
    case 0xA0: return BSL_ERR_NAK;
    case 0x70: return BSL_ERR_FAILED;
    case 0x80:
        g_port.rxFrame[0] = header;
        return receiveDataFrame();
    default: return BSL_ERR_ANSWER;
    }
}
