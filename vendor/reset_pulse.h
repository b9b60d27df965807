#pragma once
// What the stand-in's Windows backend does to a bridge: which USB devices count as CP210x bridges,
// and the restart it gives the instrument behind one through the bridge's COM port. DTR drives
// the instrument's reset line and RTS its TEST line, as for the loader: the pulse is the loader
// driver's own final reset, which starts the instrument's application.
#include <cstdint>

namespace vendor {

// Silicon Labs' CP210x family: vendor 0x10C4, products 0xEA60 to 0xEA7F (as tools/udev tags them).
constexpr bool isCp210x(uint16_t vid, uint16_t pid) { return vid == 0x10C4 && pid >= 0xEA60 && pid <= 0xEA7F; }

struct LineStep {
    bool dtr, rts;
    uint32_t thenWaitMs;
};
inline constexpr LineStep RESET_PULSE[] = {{true, true, 250}, {false, true, 10}, {true, true, 250}};

}  // namespace vendor
