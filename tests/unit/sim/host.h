#pragma once
// A small host for the simulated instrument: the line calls a BSL programmer makes, under a
// virtual clock, without the engine.
#include <gtest/gtest.h>

#include "platform/os/clock.h"
#include "platform/os/serial.h"
#include "sim/instrument.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes withChecksum(Bytes f) {
    uint8_t even = 0, odd = 0;
    for (size_t i = 0; i < f.size(); ++i) (i % 2 ? odd : even) ^= f[i];
    f.push_back(uint8_t(~even));
    f.push_back(uint8_t(~odd));
    return f;
}

// The frame as the engine builds it: padded to even n, L1 = L2 = n, checksum over all.
inline Bytes frame(uint8_t cmd, uint16_t address, uint16_t length, Bytes data = {}) {
    Bytes payload = {uint8_t(address), uint8_t(address >> 8), uint8_t(length), uint8_t(length >> 8)};
    payload.insert(payload.end(), data.begin(), data.end());
    if (payload.size() % 2) payload.push_back(0xFF);
    Bytes f = {0x80, cmd, uint8_t(payload.size()), uint8_t(payload.size())};
    f.insert(f.end(), payload.begin(), payload.end());
    return withChecksum(f);
}

inline Bytes dataFrame(const Bytes& data) {
    Bytes f = {0x80, 0x00, uint8_t(data.size()), uint8_t(data.size())};
    f.insert(f.end(), data.begin(), data.end());
    return withChecksum(f);
}

inline const Bytes ACK = {0x90}, NAK = {0xA0};
inline const Bytes BLANK_PASSWORD(32, 0xFF);

class Host {
public:
    explicit Host(sim::InstrumentConfig config = {}) : instrument(std::move(config)) {}

    bool open(uint32_t baud = 9600, uint8_t parity = platform::parity::EVEN) {
        line = instrument.openLine();
        if (!line) return false;
        platform::LineState s;
        line->getState(s);
        s.baudRate = baud;
        s.byteSize = 8;
        s.parity = parity;
        s.stopBits = platform::stopBits::ONE;
        s.dtrControl = platform::dtr::ENABLE;
        s.rtsControl = platform::rts::ENABLE;
        state = s;
        return line->setState(s);
    }
    void setBaud(uint32_t baud) {
        state.baudRate = baud;
        ASSERT_TRUE(line->setState(state));
    }
    void dtr(bool on) {
        state.dtrControl = on ? platform::dtr::ENABLE : platform::dtr::DISABLE;
        line->setState(state);
    }
    void rts(bool on) {
        state.rtsControl = on ? platform::rts::ENABLE : platform::rts::DISABLE;
        line->setState(state);
    }
    void wait(uint32_t ms) { clock.advanceMs(ms); }
    // DTR drives reset, RTS the TEST pin.
    void entrySequence(bool startBsl) {
        dtr(true), rts(true), wait(250), dtr(false);
        if (startBsl) {
            rts(true), wait(10), rts(false), wait(10), rts(true), wait(10), rts(false), wait(10);
            dtr(true), wait(10), rts(true);
        } else {
            wait(10), dtr(true);
        }
        wait(250);
        line->purge(platform::purge::TXCLEAR);
        line->purge(platform::purge::RXCLEAR);
    }
    bool startBsl() {
        if (!open()) return false;
        entrySequence(true);
        return instrument.mode() == sim::Mode::Bsl;
    }
    // What arrives within `ms`, or as soon as `enough` bytes are in.
    Bytes collect(uint32_t ms, size_t enough = SIZE_MAX) {
        Bytes out;
        uint64_t end = clock.nowUs() + uint64_t(ms) * 1000;
        while (clock.nowUs() < end && out.size() < enough) {
            platform::QueueCounts q;
            if (!line->queueCounts(q)) break;
            if (q.inQueue == 0) continue;
            Bytes buf(q.inQueue);
            uint32_t done = 0;
            line->read(buf.data(), uint32_t(buf.size()), done);
            out.insert(out.end(), buf.begin(), buf.begin() + done);
        }
        return out;
    }
    // As the frame layer sends: purge, one byte per write, stop once an answer is queued.
    Bytes send(const Bytes& bytes, uint32_t answerMs = 50, size_t enough = SIZE_MAX) {
        line->purge(platform::purge::RXABORT | platform::purge::RXCLEAR);
        sent = 0;
        for (uint8_t b : bytes) {
            uint32_t done = 0;
            line->write(&b, 1, done);
            ++sent;
            platform::QueueCounts q;
            line->queueCounts(q);
            if (q.inQueue > 0) break;
        }
        return collect(answerMs, enough);
    }
    // As the engine synchronises: on to the frame as soon as the answer is in.
    bool sync() { return send({0x80}, 100, 1) == ACK; }
    // A SYNC on its own; the pause lets the loader drop it before the next command's SYNC.
    bool probe() {
        bool ok = sync();
        wait(30);
        return ok;
    }
    Bytes command(const Bytes& f) {
        if (!sync()) return {};
        return send(f);
    }
    bool unlock(const Bytes& password = BLANK_PASSWORD) {
        return command(frame(0x10, 0xFFE0, uint16_t(password.size()), password)) == ACK;
    }

    platform::VirtualClock clock;
    platform::ScopedClock scoped{clock};
    sim::Instrument instrument;
    std::unique_ptr<platform::SerialLine> line;
    platform::LineState state;
    size_t sent = 0;
};

}  // namespace simtest
