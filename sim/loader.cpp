// The ROM bootstrap loader: SYNC, frames, the password lock and the commands.
#include <algorithm>

#include "sim/core.h"

namespace sim {
namespace {

constexpr uint8_t CMD_PASSWORD = 0x10, CMD_WRITE = 0x12, CMD_READ = 0x14, CMD_ERASE_SEGMENT = 0x16,
                  CMD_MASS_ERASE = 0x18, CMD_LOAD_PC = 0x1A, CMD_ERASE_CHECK = 0x1C, CMD_BAUD = 0x20,
                  CMD_OFFSET = 0x21;

// A receiver waiting in mid-frame gives up after config.frameGapMs of silence, so a lost byte
// costs one frame and the host's next SYNC is heard again.
constexpr uint32_t MAX_READ = 250;

// Flash timings of the part (at the loader's flash clock), used with real line timing.
constexpr uint64_t WRITE_BYTE_US = 40, SEGMENT_ERASE_US = 15'000, MASS_ERASE_US = 35'000;

bool known(uint8_t cmd) {
    switch (cmd) {
    case CMD_PASSWORD: case CMD_WRITE: case CMD_READ: case CMD_ERASE_SEGMENT: case CMD_MASS_ERASE:
    case CMD_LOAD_PC: case CMD_ERASE_CHECK: case CMD_BAUD: case CMD_OFFSET: return true;
    default: return false;
    }
}

// The clock settings each family's loader expects for 9600, 19200 and 38400 baud.
std::optional<uint16_t> baudSetting(uint8_t family, uint16_t mode) {
    static const uint16_t f1[] = {0x8580, 0x86E0, 0x87E0}, f2[] = {0x8880, 0x8B80, 0x8C80},
                          f4[] = {0x9800, 0xB000, 0xC800};
    if (family == 0xF1 || family == 0x12) return f1[mode];
    if (family == 0xF2) return f2[mode];
    if (family == 0xF4) return f4[mode];
    return std::nullopt;
}

std::pair<uint8_t, uint8_t> checksum(const std::vector<uint8_t>& bytes, size_t count) {
    uint8_t even = 0, odd = 0;
    for (size_t i = 0; i < count; ++i) (i % 2 ? odd : even) ^= bytes[i];
    return {uint8_t(~even), uint8_t(~odd)};
}

}  // namespace

Instrument::Core::FlashWork Instrument::Core::erasing(std::vector<std::pair<uint32_t, uint32_t>> segments, uint64_t at,
                                                      uint64_t durationUs) const {
    FlashWork work{FlashWork::Kind::Erase, at, at + durationUs, 0, {}, std::move(segments)};
    for (auto [first, last] : work.segments)
        for (uint32_t a = first; a <= last; ++a) work.before.push_back(memory.get(a));
    return work;
}

void Instrument::Core::beginFlashWork(FlashWork work) {
    flashFrames.push_back(framesReceived + 1);  // the frame being answered
    ++flashOperations;
    const auto& cut = faults.powerCutInFlash;
    if (cut && cut->operation == flashOperations) {
        uint64_t when = work.startUs + (work.endUs - work.startUs) * std::min<uint32_t>(cut->permille, 999) / 1000;
        uint64_t mySession = session;
        schedule(when, [this, mySession] {
            if (session != mySession) return;
            ++flashCuts;
            powerOff();
        });
    }
    flashWork = std::move(work);
}

// A power loss while the flash controller works leaves the cells it was at undefined: the word
// being programmed, or the segment being erased, takes arbitrary values; what came before is
// done, what comes after untouched.
void Instrument::Core::cutFlashWork() {
    std::optional<FlashWork> work = std::move(flashWork);
    flashWork.reset();
    if (!work || now < work->startUs || now >= work->endUs) return;
    const double done = double(now - work->startUs) / double(work->endUs - work->startUs);
    if (work->kind == FlashWork::Kind::Write) {
        const size_t words = (work->before.size() + 1) / 2, cutWord = size_t(done * double(words));
        for (size_t i = 0; i < work->before.size(); ++i) {
            uint32_t a = work->address + uint32_t(i);
            if (i / 2 == cutWord) memory.setRaw(a, arbitrary(a));
            else if (i / 2 > cutWord) memory.setRaw(a, work->before[i]);
        }
        return;
    }
    const size_t cutSegment = size_t(done * double(work->segments.size()));
    size_t i = 0;
    for (size_t k = 0; k < work->segments.size(); ++k)
        for (uint32_t a = work->segments[k].first; a <= work->segments[k].second; ++a, ++i) {
            if (k == cutSegment) memory.setRaw(a, arbitrary(a));
            else if (k > cutSegment) memory.setRaw(a, work->before[i]);
        }
}

// Seeded by the instant and the cell, so a run repeats exactly.
uint8_t Instrument::Core::arbitrary(uint32_t address) {
    uint64_t h = FNV_OFFSET;
    for (int shift = 0; shift < 64; shift += 8) h = fnv1a(h, uint8_t(now >> shift));
    for (int shift = 0; shift < 32; shift += 8) h = fnv1a(h, uint8_t(address >> shift));
    return uint8_t(h >> 29);
}

bool Instrument::Core::allowedLocked(uint8_t command) const {
    return command == CMD_PASSWORD || command == CMD_MASS_ERASE;
}

uint16_t Instrument::Core::securityKey() const {
    return uint16_t(memory.get(SECURITY_KEY_ADDRESS) | memory.get(SECURITY_KEY_ADDRESS + 1) << 8);
}

bool Instrument::Core::loaderSwitchedOff() const {
    return config.bslVersion >= FIRST_KEYED_LOADER && securityKey() == KEY_LOADER_OFF;
}

bool Instrument::Core::wrongPasswordErases() const {
    return faults.wrongPasswordMassErases ||
           (config.bslVersion >= FIRST_KEYED_LOADER && securityKey() != KEY_KEEP_FLASH);
}

void Instrument::Core::resetLoaderReceiver() {
    rx = Rx::Idle;
    frame.clear();
    rejectRemaining = 0;
}

void Instrument::Core::answer(std::vector<uint8_t> bytes, uint8_t command, uint64_t at) {
    ++framesReceived;
    commands.push_back(command);
    for (size_t i = 0; i < faults.wire.size(); ++i) {
        const WireFault& f = faults.wire[i];
        if (f.trigger != FaultTrigger::Frame || (f.command >= 0 && f.command != command)) continue;
        uint32_t n = ++faultCounts[i];
        if (n != f.index && !(f.repeat && n > f.index)) continue;
        switch (f.action) {
        case FaultAction::Nak: bytes = {BSL_NAK}; break;
        case FaultAction::Silence: bytes.clear(); break;
        case FaultAction::CorruptChecksum:
            if (bytes.size() > 1) bytes[bytes.size() - 2] ^= 0xFF;
            else if (!bytes.empty()) bytes[0] ^= 0x55;
            break;
        case FaultAction::DropByte:
            if (bytes.size() > 4) bytes.erase(bytes.begin() + 4);
            else if (!bytes.empty()) bytes.erase(bytes.begin());
            break;
        }
    }
    deviceSend(bytes, at);
}

void Instrument::Core::loaderByte(uint8_t c, uint64_t at) {
    uint64_t gap = at - deviceLastRxUs;
    deviceLastRxUs = at;
    if (rx == Rx::Rejecting) {
        // The rest of a refused frame, while it comes back to back; then listen afresh.
        if (gap <= 3 * uart::charTimeUs(deviceFraming) && rejectRemaining > 0) {
            frame.push_back(c);
            if (frame.size() == 3) rejectRemaining = size_t(c) + 4;  // L2, data, checksum, and this one
            if (--rejectRemaining == 0) resetLoaderReceiver();
            return;
        }
        resetLoaderReceiver();
    }
    if (rx != Rx::Idle && gap > uint64_t(config.frameGapMs) * 1000) resetLoaderReceiver();
    switch (rx) {
    case Rx::Idle:
        if (c == BSL_SYNC) {
            deviceSend({BSL_ACK}, at);
            rx = Rx::Synced;
        }
        return;
    case Rx::Synced:
        if (c == BSL_HEADER) {
            frame.assign(1, c);
            rx = Rx::Frame;
        } else {
            rx = Rx::Idle;
        }
        return;
    case Rx::Frame:
    case Rx::Rejecting: break;
    }
    frame.push_back(c);
    uint8_t cmd = frame.size() > 1 ? frame[1] : 0;
    bool refuse = (frame.size() == 2 && (!known(cmd) || (!unlocked && !allowedLocked(cmd)))) ||
                  (frame.size() == 4 && (frame[2] != frame[3] || frame[2] < 4));
    if (refuse) {
        // Answered at once, so the host stops sending the rest.
        answer({BSL_NAK}, cmd, at);
        if (config.realLineTiming) {
            rx = Rx::Rejecting;
            rejectRemaining = frame.size() >= 3 ? size_t(frame[2]) + 6 - frame.size() : 1;
        } else {
            resetLoaderReceiver();
        }
        return;
    }
    if (frame.size() >= 4 && frame.size() == size_t(frame[2]) + 6) {
        loaderFrame(at);
        resetLoaderReceiver();
    }
}

void Instrument::Core::loaderFrame(uint64_t at) {
    const uint8_t cmd = frame[1];
    const size_t n = size_t(frame[2]) + 4;
    auto [ckl, ckh] = checksum(frame, n);
    if (frame[n] != ckl || frame[n + 1] != ckh) return answer({BSL_NAK}, cmd, at);
    const uint16_t addr = uint16_t(frame[4] | frame[5] << 8);
    const uint16_t len = uint16_t(frame[6] | frame[7] << 8);
    const std::vector<uint8_t> data(frame.begin() + 8, frame.begin() + long(n));
    const uint32_t address = fullAddress(addr);
    const bool timed = config.realLineTiming;

    switch (cmd) {
    case CMD_PASSWORD: {
        bool ok = data.size() >= PASSWORD_SIZE;
        for (uint32_t i = 0; ok && i < PASSWORD_SIZE; ++i) ok = data[i] == memory.get(PASSWORD_ADDRESS + i);
        if (ok) {
            unlocked = true;
            return answer({BSL_ACK}, cmd, at);
        }
        if (wrongPasswordErases()) {
            if (timed) beginFlashWork(erasing(memory.segments(true, true), at, MASS_ERASE_US));
            memory.eraseAll();
            at += timed ? MASS_ERASE_US : 0;
        }
        return answer({BSL_NAK}, cmd, at);
    }
    case CMD_WRITE: {
        if (len > data.size()) return answer({BSL_NAK}, cmd, at);
        bool readBack = true;
        if (timed && memory.isFlash(address)) {
            FlashWork work{FlashWork::Kind::Write, at, at + WRITE_BYTE_US * len, address, {}, {}};
            for (uint32_t i = 0; i < len; ++i) work.before.push_back(memory.get(address + i));
            beginFlashWork(std::move(work));
        }
        for (uint32_t i = 0; i < len; ++i) {
            memory.program(address + i, data[i]);
            readBack = readBack && memory.get(address + i) == data[i];
        }
        if (timed && memory.isFlash(address)) at += WRITE_BYTE_US * len;
        // Loaders from 1.40 on read every block back themselves.
        bool checks = config.bslVersion >= 0x0140;
        return answer({checks && !readBack ? BSL_NAK : BSL_ACK}, cmd, at);
    }
    case CMD_READ: {
        if (len > MAX_READ) return answer({BSL_NAK}, cmd, at);
        std::vector<uint8_t> out = {BSL_HEADER, 0x00, uint8_t(len), uint8_t(len)};
        for (uint32_t i = 0; i < len; ++i) out.push_back(memory.get(address + i));
        auto [l, h] = checksum(out, out.size());
        out.push_back(l);
        out.push_back(h);
        return answer(out, cmd, at);
    }
    case CMD_ERASE_SEGMENT:
    case CMD_MASS_ERASE:
        // Both write the length into the flash controller and touch the address.
        if (len == ERASE_SEGMENT_KEY) {
            if (timed && memory.isFlash(address)) beginFlashWork(erasing({memory.segment(address)}, at, SEGMENT_ERASE_US));
            memory.eraseSegment(address);
            at += timed ? SEGMENT_ERASE_US : 0;
        } else if (len == ERASE_MAIN_KEY || len == ERASE_ALL_KEY) {
            if (timed) beginFlashWork(erasing(memory.segments(len == ERASE_ALL_KEY, true), at, MASS_ERASE_US));
            len == ERASE_MAIN_KEY ? memory.eraseMain() : memory.eraseAll();
            at += timed ? MASS_ERASE_US : 0;
        } else {
            return answer({BSL_NAK}, cmd, at);
        }
        return answer({BSL_ACK}, cmd, at);
    case CMD_LOAD_PC:
        answer({BSL_ACK}, cmd, at);
        if (address == ROM_LOADER_ENTRY) {
            startLoader();
        } else if (memory.region(address) != Memory::Region::Ram) {
            startApplication();
        }
        // Code in RAM (a patch or a loader of one's own) hands control back to this loader.
        return;
    case CMD_ERASE_CHECK: return answer({memory.blank(address, len) ? BSL_ACK : BSL_NAK}, cmd, at);
    case CMD_BAUD: {
        if (len > 2) return answer({BSL_NAK}, cmd, at);
        static const uint32_t rates[] = {9600, 19200, 38400};
        uint32_t rate = rates[len];
        // Other clock settings give the part another clock, so another rate than asked for.
        std::optional<uint16_t> expected = baudSetting(memory.get(IDENTITY_ADDRESS), len);
        if (expected && *expected != addr) rate = rate * 5 / 4;
        answer({BSL_ACK}, cmd, at);
        uint64_t mySession = session;
        schedule(std::max(deviceTxFreeUs, at), [this, rate, mySession] {
            if (session == mySession && mode == Mode::Bsl) deviceFraming.baud = rate;
        });
        return;
    }
    case CMD_OFFSET:
        offset = len;
        return answer({BSL_ACK}, cmd, at);
    default: return answer({BSL_NAK}, cmd, at);
    }
}

}  // namespace sim
