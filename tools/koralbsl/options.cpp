#include "tools/koralbsl/options.h"

#include <cctype>

namespace {

bool takeValue(const std::string& arg, const char* name, std::string& value) {
    std::string prefix = std::string(name) + "=";
    if (arg.rfind(prefix, 0) != 0) return false;
    value = arg.substr(prefix.size());
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = char(std::toupper(static_cast<unsigned char>(c)));
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

}  // namespace

bool parseHex16(const std::string& text, uint16_t& value) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
    if (digits.empty() || digits.size() > 4) return false;
    uint32_t v = 0;
    for (char c : digits) {
        int d = hexDigit(c);
        if (d < 0) return false;
        v = v << 4 | uint32_t(d);
    }
    value = uint16_t(v);
    return true;
}

bool parseInfoA(const std::string& text, std::vector<uint8_t>& bytes) {
    if (text.size() != 128) return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(uint8_t(hi << 4 | lo));
    }
    return true;
}

bool parseToolOptions(int argc, const char* const* argv, ToolOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        if (arg.rfind("--", 0) != 0) {
            options.driverArgs.push_back(arg);
        } else if (arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--simulate") {
            options.simulate = true;
        } else if (arg == "--real-time") {
            options.realTime = true;
        } else if (takeValue(arg, "--sim-state", value) && !value.empty()) {
            options.simState = value;
        } else if (takeValue(arg, "--sim-infoa", value)) {
            std::vector<uint8_t> bytes;
            if (!parseInfoA(value, bytes)) {
                error = "--sim-infoa wants 128 hexadecimal digits (the 64 bytes of InfoA)";
                return false;
            }
            options.simInfoA = value;
        } else if (takeValue(arg, "--sim-bsl-version", value)) {
            uint16_t version = 0;
            if (!parseHex16(value, version)) {
                error = "--sim-bsl-version wants a hexadecimal version word such as 0x0140";
                return false;
            }
            options.simBslVersion = version;
        } else if (takeValue(arg, "--sim-fault", value) && !value.empty()) {
            options.simFault = options.simFault.empty() ? value : options.simFault + "," + value;
        } else if (takeValue(arg, "--transcript", value) && !value.empty()) {
            options.transcript = value;
        } else {
            error = "unknown option " + arg + " (see --help)";
            return false;
        }
    }
    bool simOnly = !options.simState.empty() || !options.simInfoA.empty() || options.simBslVersion ||
                   !options.simFault.empty() || options.realTime;
    if (simOnly && !options.simulate) {
        error = "the --sim-* and --real-time options go with --simulate";
        return false;
    }
    return true;
}
