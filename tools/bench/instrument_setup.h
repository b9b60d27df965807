#pragma once
// The instrument a bench serves to a program running unmodified on the real clock: real line
// timing, an earlier release in flash and the embedded one as the valid firmware.
#include "sim/instrument.h"
#include "upload/firmware_package.h"

namespace bench {

inline sim::InstrumentConfig benchInstrumentConfig() {
    sim::InstrumentConfig config;
    config.realLineTiming = true;
    // The programs write byte by byte, each write a round trip to the bench, on a host that may
    // be busy: room for their pauses within a frame. Still below the 1,200 ms answer wait, so
    // after a frame cut short the next SYNC starts afresh.
    config.frameGapMs = 1000;
    MemoryImage image = embeddedFirmwareImage();
    if (image.bytes.size() >= 34) {
        config.firmwareImage = {sim::Section{image.address, image.bytes}};
        // An earlier release runs: the same vectors and security word, not yet this image.
        config.flash = {sim::Section{sim::PASSWORD_ADDRESS - 2, {image.bytes.end() - 34, image.bytes.end()}}};
    }
    return config;
}

}  // namespace bench
