#pragma once
// A scripted serial line with a small BSL target behind it: logs every call and every byte, and
// answers each complete frame either from a queue of scripted answers or from its own memory.
#include <array>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/clock.h"
#include "platform/os/serial.h"

using Bytes = std::vector<uint8_t>;

struct FakeWire {
    // What the engine did.
    std::vector<std::string> calls;
    std::vector<uint64_t> callTimesMs;
    Bytes written;
    std::vector<Bytes> frames;
    std::vector<platform::LineState> states;
    platform::Timeouts timeouts{7, 8, 9, 10, 11};
    int opens = 0;
    std::string openedPath;

    // How the line behaves.
    bool failOpen = false;
    bool failSetState = false;
    bool failClose = false;
    bool answerSync = true;
    std::optional<uint8_t> syncAnswer;  // instead of 0x90
    std::deque<Bytes> scripted;         // answers for the next frames, before the target's own
    int earlyAnswerAfter = -1;          // answer the next frame with `scripted` after this many bytes
    int failWriteAt = -1;               // the write of byte number N (counted in `written`) fails

    // The target.
    std::array<uint8_t, 0x10000> mem{};
    bool locked = true;
    std::vector<uint8_t> rx;

    FakeWire() {
        mem.fill(0xFF);
        const uint8_t id[14] = {0xF1, 0x49, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0x01, 0x40, 0, 0};
        std::memcpy(&mem[0x0FF0], id, 14);
    }
    void setVersion(uint16_t v) {
        mem[0x0FFA] = uint8_t(v >> 8);
        mem[0x0FFB] = uint8_t(v);
    }

    static Bytes dataFrame(const Bytes& data) {
        Bytes f{0x80, 0x00, uint8_t(data.size()), uint8_t(data.size())};
        f.insert(f.end(), data.begin(), data.end());
        uint16_t x = 0;
        for (size_t i = 0; i + 1 < f.size(); i += 2) x ^= uint16_t(f[i] | f[i + 1] << 8);
        x = uint16_t(~x);
        f.push_back(uint8_t(x));
        f.push_back(uint8_t(x >> 8));
        return f;
    }

    Bytes targetAnswer(const Bytes& f) {
        uint8_t cmd = f[1];
        uint16_t addr = uint16_t(f[4] | f[5] << 8);
        uint16_t len = uint16_t(f[6] | f[7] << 8);
        const uint8_t* data = f.data() + 8;
        if (cmd == 0x10) {
            locked = std::memcmp(data, &mem[0xFFE0], 32) != 0;
            return {uint8_t(locked ? 0xA0 : 0x90)};
        }
        if (cmd == 0x18) {
            std::fill(mem.begin() + 0x1000, mem.end(), 0xFF);
            return {0x90};
        }
        if (locked) return {0xA0};
        switch (cmd) {
        case 0x12: {
            // Flash only clears bits; like a loader that verifies while it writes, say so.
            bool ok = true;
            for (uint32_t i = 0; i < len; ++i) {
                uint8_t& m = mem[uint16_t(addr + i)];
                m &= data[i];
                ok = ok && m == data[i];
            }
            return {uint8_t(ok ? 0x90 : 0xA0)};
        }
        case 0x14: return dataFrame(Bytes(mem.begin() + addr, mem.begin() + addr + len));
        case 0x16:
            std::fill(mem.begin() + (addr & ~0x1FF), mem.begin() + (addr & ~0x1FF) + 0x200, 0xFF);
            return {0x90};
        case 0x1C:
            for (uint32_t i = 0; i < len; ++i)
                if (mem[uint16_t(addr + i)] != 0xFF) return {0xA0};
            return {0x90};
        default: return {0x90};
        }
    }

    void byteWritten(uint8_t b) {
        written.push_back(b);
        if (!inFrame_) {
            if (b == 0x80 && syncMode_) {
                if (syncAnswer)
                    rx.push_back(*syncAnswer);
                else if (answerSync)
                    rx.push_back(0x90);
            }
            return;
        }
        current_.push_back(b);
        if (earlyAnswerAfter >= 0 && int(current_.size()) == earlyAnswerAfter) {
            earlyAnswerAfter = -1;
            finishFrame();
            return;
        }
        if (current_.size() >= 4 && current_.size() == size_t(current_[2]) + 6) finishFrame();
    }

    void purged(uint32_t flags) {
        if (flags & platform::purge::RXCLEAR) rx.clear();
        inFrame_ = (flags & platform::purge::RXABORT) != 0;
        syncMode_ = !inFrame_ && (flags & platform::purge::RXCLEAR);
        current_.clear();
    }

private:
    void finishFrame() {
        frames.push_back(current_);
        Bytes answer;
        if (!scripted.empty()) {
            answer = scripted.front();
            scripted.pop_front();
        } else if (current_.size() >= 8) {
            answer = targetAnswer(current_);
        }
        rx.insert(rx.end(), answer.begin(), answer.end());
        inFrame_ = false;
        current_.clear();
    }

    bool inFrame_ = false;
    bool syncMode_ = false;
    Bytes current_;
};

class FakeLine final : public platform::SerialLine {
public:
    explicit FakeLine(FakeWire& w) : w_(w) {}
    bool setupQueues(uint32_t in, uint32_t out) override {
        log("setupQueues " + std::to_string(in) + " " + std::to_string(out));
        return true;
    }
    bool getTimeouts(platform::Timeouts& t) override {
        t = w_.timeouts;
        return true;
    }
    bool setTimeouts(const platform::Timeouts& t) override {
        log(t == platform::Timeouts{} ? "setTimeouts zero" : "setTimeouts saved");
        w_.timeouts = t;
        return true;
    }
    bool setEventMask(uint32_t mask) override {
        log("setEventMask " + std::to_string(mask));
        return true;
    }
    bool getState(platform::LineState& s) override {
        s = platform::LineState{};
        s.baudRate = 115200;
        return true;
    }
    bool setState(const platform::LineState& s) override {
        w_.states.push_back(s);
        log("setState dtr=" + std::to_string(s.dtrControl) + " rts=" + std::to_string(s.rtsControl) +
            " baud=" + std::to_string(s.baudRate));
        return !w_.failSetState;
    }
    bool purge(uint32_t flags) override {
        log("purge " + std::to_string(flags));
        w_.purged(flags);
        return true;
    }
    bool queueCounts(platform::QueueCounts& c) override {
        c.inQueue = uint32_t(w_.rx.size());
        c.outQueue = 0;
        return true;
    }
    bool read(void* buffer, uint32_t size, uint32_t& done) override {
        done = std::min<uint32_t>(size, uint32_t(w_.rx.size()));
        std::memcpy(buffer, w_.rx.data(), done);
        w_.rx.erase(w_.rx.begin(), w_.rx.begin() + done);
        return true;
    }
    bool write(const void* buffer, uint32_t size, uint32_t& done) override {
        for (done = 0; done < size; ++done) {
            if (int(w_.written.size()) == w_.failWriteAt) return false;
            w_.byteWritten(static_cast<const uint8_t*>(buffer)[done]);
        }
        return true;
    }
    bool close() override {
        log("close");
        return !w_.failClose;
    }

private:
    void log(std::string s) {
        w_.calls.push_back(std::move(s));
        w_.callTimesMs.push_back(platform::activeClock().nowUs() / 1000);
    }
    FakeWire& w_;
};

// Installs the fake as the process's serial opener, and a virtual clock, for one test.
struct FakeSetup {
    FakeWire wire;
    platform::VirtualClock clock;
    platform::ScopedClock scopedClock{clock};
    FakeSetup() {
        platform::setSerialOpener([this](const std::string& path) -> std::unique_ptr<platform::SerialLine> {
            ++wire.opens;
            wire.openedPath = path;
            if (wire.failOpen) return nullptr;
            return std::make_unique<FakeLine>(wire);
        });
    }
    ~FakeSetup() { platform::setSerialOpener({}); }
};
