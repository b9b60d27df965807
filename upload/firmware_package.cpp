#include "upload/firmware_package.h"

#include <cctype>

platform::Resource firmwareResource(int id) { return platform::findResource(FIRMWARE_RESOURCE_TYPE, id); }

namespace {

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<unsigned char>(std::toupper(c));
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool decodeTiTxtImage(const unsigned char* text, size_t size, MemoryImage& image) {
    image = {};
    bool haveAddress = false;
    uint32_t address = 0;
    size_t i = 0;
    while (i < size) {
        unsigned char c = text[i];
        if (c == ' ' || c == '\r' || c == '\n' || c == '\t') {
            ++i;
        } else if (c == 'q' || c == 'Q') {
            return haveAddress;
        } else if (c == '@') {
            uint32_t value = 0;
            size_t digits = 0;
            for (++i; i < size && hexValue(text[i]) >= 0 && digits < 8; ++i, ++digits) value = value << 4 | uint32_t(hexValue(text[i]));
            if (digits == 0) return false;
            if (!haveAddress) image.address = value;
            if (value < image.address) return false;  // sections must ascend
            address = value;
            haveAddress = true;
        } else {
            if (!haveAddress || i + 1 >= size || hexValue(text[i]) < 0 || hexValue(text[i + 1]) < 0) return false;
            size_t offset = address - image.address;
            if (image.bytes.size() < offset + 1) image.bytes.resize(offset + 1, 0xFF);
            image.bytes[offset] = uint8_t(hexValue(text[i]) << 4 | hexValue(text[i + 1]));
            ++address;
            i += 2;
        }
    }
    return false;  // no "q"
}

MemoryImage embeddedFirmwareImage() {
    MemoryImage image;
    platform::Resource r = firmwareResource(ID_FIRMWARE_IMAGE);
    if (r) decodeTiTxtImage(r.data, r.size, image);
    return image;
}
