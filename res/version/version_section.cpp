// The version block as a VS_VERSIONINFO without children, in the ELF section the platform reads
// from the program file: the same bytes Windows keeps in the VERSIONINFO resource's fixed part.
#include <cstdint>

#include "res/version/version.h"

namespace {

struct VersionBlock {
    uint16_t length;
    uint16_t valueLength;
    uint16_t type;
    char16_t key[16];
    uint16_t padding;
    uint32_t fixed[13];
};
static_assert(sizeof(VersionBlock) == 92);

constexpr uint32_t kMS = (uint32_t(KORAL_VERSION_MAJOR) << 16) | KORAL_VERSION_MINOR;
constexpr uint32_t kLS = (uint32_t(KORAL_VERSION_PATCH) << 16) | KORAL_VERSION_BUILD;

// Nothing refers to it; `used` keeps it in the program file all the same.
__attribute__((section(".koral_version"), used)) const VersionBlock koralVersionBlock = {
    sizeof(VersionBlock), 52, 0, u"VS_VERSION_INFO", 0,
    {0xFEEF04BDu, 0x00010000u, kMS, kLS, kMS, kLS, 0x3Fu, 0, 0x40004u, 1, 0, 0, 0}};

}  // namespace
