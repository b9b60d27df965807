#include "platform/os/recording_serial.h"

#include <cstdio>

#include "platform/os/clock.h"

namespace platform {
namespace {

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (uint8_t b : bytes) {
        snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", b);
        out += buf;
    }
    return out;
}

std::string lineState(const LineState& s) {
    static const char parities[] = "NOEMS";
    char buf[160];
    snprintf(buf, sizeof buf, "%u %u%c%s dtr=%u rts=%u bin=%d par=%d cts=%d dsr=%d outx=%d inx=%d err=%d null=%d errchar=%02X",
             s.baudRate, s.byteSize, s.parity < 5 ? parities[s.parity] : '?',
             s.stopBits == stopBits::ONE ? "1" : s.stopBits == stopBits::ONE5 ? "1.5" : "2", s.dtrControl, s.rtsControl,
             s.fBinary, s.fParity, s.fOutxCtsFlow, s.fOutxDsrFlow, s.fOutX, s.fInX, s.fErrorChar, s.fNull,
             uint8_t(s.errorChar));
    return buf;
}

std::string timeouts(const Timeouts& t) {
    char buf[80];
    snprintf(buf, sizeof buf, "%u %u %u %u %u", t.readIntervalTimeout, t.readTotalTimeoutMultiplier,
             t.readTotalTimeoutConstant, t.writeTotalTimeoutMultiplier, t.writeTotalTimeoutConstant);
    return buf;
}

}  // namespace

std::string describe(const SerialCall& c) {
    using Op = SerialCall::Op;
    char buf[64];
    std::string s;
    switch (c.op) {
    case Op::Open: s = "open " + c.path; break;
    case Op::SetupQueues: snprintf(buf, sizeof buf, "setupQueues %u %u", c.a, c.b), s = buf; break;
    case Op::GetTimeouts: s = "getTimeouts " + timeouts(c.timeouts); break;
    case Op::SetTimeouts: s = "setTimeouts " + timeouts(c.timeouts); break;
    case Op::SetEventMask: snprintf(buf, sizeof buf, "setEventMask 0x%X", c.a), s = buf; break;
    case Op::GetState: s = "getState " + lineState(c.state); break;
    case Op::SetState: s = "setState " + lineState(c.state); break;
    case Op::Purge: snprintf(buf, sizeof buf, "purge 0x%X", c.a), s = buf; break;
    case Op::QueueCounts: snprintf(buf, sizeof buf, "queueCounts in=%u out=%u", c.counts.inQueue, c.counts.outQueue), s = buf; break;
    case Op::Read: s = "read " + (c.bytes.empty() ? std::string("-") : hex(c.bytes)); break;
    case Op::Write: s = "write " + hex(c.bytes); break;
    case Op::Close: s = "close"; break;
    }
    return c.ok ? s : s + " FAILED";
}

void SerialRecording::add(SerialCall call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

std::vector<SerialCall> SerialRecording::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void SerialRecording::clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

std::vector<uint8_t> SerialRecording::written() const {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> out;
    for (const SerialCall& c : calls_)
        if (c.op == SerialCall::Op::Write) out.insert(out.end(), c.bytes.begin(), c.bytes.end());
    return out;
}

std::vector<uint8_t> SerialRecording::received() const {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> out;
    for (const SerialCall& c : calls_)
        if (c.op == SerialCall::Op::Read) out.insert(out.end(), c.bytes.begin(), c.bytes.end());
    return out;
}

std::string SerialRecording::text(bool collapsePolls) const {
    std::lock_guard lock(mutex_);
    std::string out, last;
    size_t repeats = 0;
    auto flush = [&] {
        if (last.empty()) return;
        out += last;
        if (repeats > 1) out += " x" + std::to_string(repeats);
        out += "\n";
    };
    for (const SerialCall& c : calls_) {
        std::string line = describe(c);
        bool poll = c.op == SerialCall::Op::QueueCounts || (c.op == SerialCall::Op::Read && c.bytes.empty());
        if (collapsePolls && poll && line == last) {
            ++repeats;
            continue;
        }
        flush();
        last = line;
        repeats = 1;
    }
    flush();
    return out;
}

RecordingSerialLine::RecordingSerialLine(std::unique_ptr<SerialLine> inner, std::shared_ptr<SerialRecording> recording)
    : inner_(std::move(inner)), recording_(std::move(recording)) {}

SerialCall RecordingSerialLine::call(SerialCall::Op op, bool ok) {
    SerialCall c;
    c.op = op;
    c.ok = ok;
    c.timeUs = activeClock().nowUs();
    return c;
}

bool RecordingSerialLine::setupQueues(uint32_t in, uint32_t out) {
    SerialCall c = call(SerialCall::Op::SetupQueues, inner_->setupQueues(in, out));
    c.a = in, c.b = out;
    recording_->add(c);
    return c.ok;
}

bool RecordingSerialLine::getTimeouts(Timeouts& t) {
    SerialCall c = call(SerialCall::Op::GetTimeouts, inner_->getTimeouts(t));
    c.timeouts = t;
    recording_->add(c);
    return c.ok;
}

bool RecordingSerialLine::setTimeouts(const Timeouts& t) {
    SerialCall c = call(SerialCall::Op::SetTimeouts, inner_->setTimeouts(t));
    c.timeouts = t;
    recording_->add(c);
    return c.ok;
}

bool RecordingSerialLine::setEventMask(uint32_t mask) {
    SerialCall c = call(SerialCall::Op::SetEventMask, inner_->setEventMask(mask));
    c.a = mask;
    recording_->add(c);
    return c.ok;
}

bool RecordingSerialLine::getState(LineState& s) {
    SerialCall c = call(SerialCall::Op::GetState, inner_->getState(s));
    c.state = s;
    recording_->add(c);
    return c.ok;
}

bool RecordingSerialLine::setState(const LineState& s) {
    SerialCall c = call(SerialCall::Op::SetState, inner_->setState(s));
    c.state = s;
    recording_->add(c);
    return c.ok;
}

bool RecordingSerialLine::purge(uint32_t flags) {
    SerialCall c = call(SerialCall::Op::Purge, inner_->purge(flags));
    c.a = flags;
    recording_->add(c);
    return c.ok;
}

bool RecordingSerialLine::queueCounts(QueueCounts& counts) {
    SerialCall c = call(SerialCall::Op::QueueCounts, inner_->queueCounts(counts));
    c.counts = counts;
    recording_->add(c);
    return c.ok;
}

bool RecordingSerialLine::read(void* buffer, uint32_t size, uint32_t& done) {
    done = 0;
    SerialCall c = call(SerialCall::Op::Read, inner_->read(buffer, size, done));
    c.a = size;
    auto* bytes = static_cast<const uint8_t*>(buffer);
    c.bytes.assign(bytes, bytes + done);
    recording_->add(c);
    return c.ok;
}

bool RecordingSerialLine::write(const void* buffer, uint32_t size, uint32_t& done) {
    done = 0;
    SerialCall c = call(SerialCall::Op::Write, inner_->write(buffer, size, done));
    c.a = size;
    auto* bytes = static_cast<const uint8_t*>(buffer);
    c.bytes.assign(bytes, bytes + size);
    recording_->add(c);
    return c.ok;
}

bool RecordingSerialLine::close() {
    SerialCall c = call(SerialCall::Op::Close, inner_->close());
    recording_->add(c);
    return c.ok;
}

SerialOpener recordingOpener(SerialOpener inner, std::shared_ptr<SerialRecording> recording) {
    return [inner = std::move(inner), recording](const std::string& path) -> std::unique_ptr<SerialLine> {
        std::unique_ptr<SerialLine> line = inner ? inner(path) : openHostSerialLine(path);
        SerialCall c;
        c.op = SerialCall::Op::Open;
        c.ok = line != nullptr;
        c.path = path;
        c.timeUs = activeClock().nowUs();
        recording->add(c);
        if (!line) return nullptr;
        return std::make_unique<RecordingSerialLine>(std::move(line), recording);
    };
}

}  // namespace platform
