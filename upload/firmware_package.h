#pragma once
// The firmware release the program carries: five read-only members of resource type "FIRMWARE".
// Nothing of it is ever written to disk; consumers keep pointers for the life of the process.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/os/resources.h"

inline constexpr const char* FIRMWARE_RESOURCE_TYPE = "FIRMWARE";

enum : int {
    ID_FIRMWARE_IMAGE = 1,        // TI-TXT, one section "@2100" up to 0xFFFF
    ID_FIRMWARE_IDENTITY = 2,     // "ZantirKORAL-VKT-1.0.3 \r\n"
    ID_FIRMWARE_BLANK_KEY = 3,    // password of an erased device
    ID_FIRMWARE_MODEL_KEY = 4,    // the image's interrupt vectors: password after programming
    ID_FIRMWARE_BLANK_INFOA = 5,  // what a read-out of an erased InfoA looks like
};

platform::Resource firmwareResource(int id);

// Memory contents a TI-TXT text describes, as one contiguous run from its first address (gaps
// between sections read as erased flash, 0xFF). False for text that is not in that form.
struct MemoryImage {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
};
bool decodeTiTxtImage(const unsigned char* text, size_t size, MemoryImage& image);

// The flash contents that programming the embedded image leaves behind.
MemoryImage embeddedFirmwareImage();
