#include "sim/uart.h"

#include "platform/os/serial.h"

namespace sim::uart {
namespace {

bool hasParity(const Framing& f) { return f.parity != platform::parity::NONE; }

double stopLength(const Framing& f) {
    return f.stopBits == platform::stopBits::TWO ? 2.0 : f.stopBits == platform::stopBits::ONE5 ? 1.5 : 1.0;
}

bool parityBit(uint8_t data, const Framing& f) {
    int ones = 0;
    for (int i = 0; i < f.dataBits; ++i) ones += (data >> i) & 1;
    switch (f.parity) {
    case platform::parity::EVEN: return ones % 2 != 0;
    case platform::parity::ODD: return ones % 2 == 0;
    case platform::parity::MARK: return true;
    default: return false;
    }
}

// The sender's line level, bit by bit: start, data LSB first, parity, then stop (idle) forever.
struct Waveform {
    std::vector<bool> bits;
    double bitUs;
    bool level(double us) const {
        if (us < 0) return true;
        size_t index = size_t(us / bitUs);
        return index < bits.size() ? bits[index] : true;
    }
    double endUs() const { return double(bits.size()) * bitUs; }
};

Waveform waveform(uint8_t byte, const Framing& f) {
    Waveform w{{}, 1e6 / double(f.baud)};
    w.bits.push_back(false);
    for (int i = 0; i < f.dataBits; ++i) w.bits.push_back((byte >> i) & 1);
    if (hasParity(f)) w.bits.push_back(parityBit(byte, f));
    w.bits.push_back(true);
    return w;
}

}  // namespace

uint64_t charTimeUs(const Framing& f) {
    double bits = 1 + f.dataBits + (hasParity(f) ? 1 : 0) + stopLength(f);
    return uint64_t(bits * 1e6 / double(f.baud) + 0.5);
}

std::vector<Received> transfer(uint8_t byte, const Framing& tx, const Framing& rx) {
    uint8_t mask = uint8_t((1u << tx.dataBits) - 1);
    if (tx == rx) return {{uint8_t(byte & mask), false}};
    Waveform w = waveform(byte, tx);
    double rxBit = 1e6 / double(rx.baud);
    std::vector<Received> out;
    double edge = 0;  // a falling edge starts a character
    while (edge < w.endUs() && out.size() < 16) {
        double t = edge + rxBit / 2;
        if (w.level(t)) {  // glitch, not a start bit
            edge = t;
        } else {
            Received r;
            for (int i = 0; i < rx.dataBits; ++i) {
                t += rxBit;
                if (w.level(t)) r.byte |= uint8_t(1u << i);
            }
            if (hasParity(rx)) {
                t += rxBit;
                if (w.level(t) != parityBit(r.byte, rx)) r.error = true;
            }
            t += rxBit;
            if (!w.level(t)) r.error = true;
            out.push_back(r);
            edge = t;
        }
        // The next character begins at the next high-to-low transition after `edge`.
        size_t k = size_t(edge / w.bitUs) + 1;
        while (k < w.bits.size() && !(w.bits[k - 1] && !w.bits[k])) ++k;
        if (k >= w.bits.size()) break;
        edge = double(k) * w.bitUs;
    }
    return out;
}

}  // namespace sim::uart
