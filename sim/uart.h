#pragma once
// Characters on a serial wire: what a receiver makes of a character sent with other settings.
#include <cstdint>
#include <vector>

namespace sim::uart {

struct Framing {
    uint32_t baud = 9600;
    uint8_t dataBits = 8;
    uint8_t parity = 0;    // platform::parity values
    uint8_t stopBits = 0;  // platform::stopBits values
    bool operator==(const Framing&) const = default;
};

constexpr Framing BSL_FRAMING{9600, 8, 2, 0};       // 8E1
constexpr Framing CONSOLE_FRAMING{115200, 8, 2, 0}; // 8E1

// Start bit, data, parity and stop bits of one character, in microseconds.
uint64_t charTimeUs(const Framing& framing);

struct Received {
    uint8_t byte = 0;
    bool error = false;  // parity or framing error at the receiver
};

// Samples the sender's waveform of `byte` the way a UART at `rx` does (mid-bit, from each
// falling edge), so a rate mismatch yields the garbage, extra or missing characters it would.
std::vector<Received> transfer(uint8_t byte, const Framing& tx, const Framing& rx);

// What transfer() gives, handed to `sink` one character at a time; settings that agree (nearly
// every character) cost no list.
template <class Sink>
void receive(uint8_t byte, const Framing& tx, const Framing& rx, Sink&& sink) {
    if (tx == rx) return sink(Received{uint8_t(byte & ((1u << tx.dataBits) - 1)), false});
    for (const Received& r : transfer(byte, tx, rx)) sink(r);
}

}  // namespace sim::uart
