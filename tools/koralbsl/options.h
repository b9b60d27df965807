#pragma once
// The console tool's own options ("--" ones) and the files the driver's arguments name.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ToolOptions {
    bool help = false;
    bool version = false;
    bool simulate = false;
    bool realTime = false;  // simulated instrument at host speed instead of virtual time
    std::string simState;
    std::string simInfoA;  // 128 hex digits
    std::optional<uint16_t> simBslVersion;
    std::string simFault;
    std::string transcript;
    std::vector<std::string> driverArgs;  // everything else, in order, for the driver
};

// False, with a message, on an unknown or malformed "--" option.
bool parseToolOptions(int argc, const char* const* argv, ToolOptions& options, std::string& error);

// "0x0140", "140" -> 0x0140; false for anything that is not a 16-bit hex number.
bool parseHex16(const std::string& text, uint16_t& value);
// 128 hex digits -> 64 bytes.
bool parseInfoA(const std::string& text, std::vector<uint8_t>& bytes);
