#pragma once
// GetVersion: low byte the major version, next byte the minor, top bit set on Windows 95/98/Me
// (whose registry keeps the bridge's COM port elsewhere), the build number above on the NT family.
#include <cstdint>
#include <optional>

namespace platform {

// Windows 98's answer (4.10, top bit set), and Windows 8 and later's to a program that does not
// declare them in its manifest (6.2, build 9200), which POSIX hosts give too: their registry view
// is laid out as the NT family's.
constexpr uint32_t VERSION_WINDOWS_98 = 0xC0000A04u;
constexpr uint32_t VERSION_WINDOWS_NT_6_2 = 0x23F00206u;

uint32_t getVersion();
// Tests: answer `version` instead of the host (nullopt: the host again). Returns the previous.
std::optional<uint32_t> setVersionOverride(std::optional<uint32_t> version);

}  // namespace platform
