#pragma once
// Simulated instruments the threaded tests share.
#include "sim/instrument.h"

namespace koral_test {

// Flash holds an application (its reset vector is set), so the instrument listens to its On
// switch and prints its programming-mode text after an on-off-on-off toggle.
inline sim::InstrumentConfig instrumentWithApplication() {
    sim::InstrumentConfig c;
    c.flash = {{0xFFFE, {0x00, 0x21}}};
    return c;
}

}  // namespace koral_test
