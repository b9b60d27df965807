#include "sim/options.h"

#include <cctype>
#include <fstream>

namespace sim {
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

const char* const OPTIONS_USAGE =
    "  --sim-state=FILE       load the simulated instrument from FILE if it exists, save it back\n"
    "                         at the end, so that several runs see one instrument\n"
    "  --sim-infoa=HEX128     the simulated InfoA segment, 64 bytes as 128 hex digits\n"
    "  --sim-bsl-version=0xVVVV  the simulated loader's version word (default 0x0202)\n"
    "  --sim-fault=LIST       faults to inject in this run (never saved), comma separated:\n"
    "                           nak-frame=K silence-frame=K corrupt-frame=K drop-frame=K\n"
    "                           (the answer to the K-th command frame; K/0xCC counts only\n"
    "                           command 0xCC; K+ repeats it for every later one),\n"
    "                           the same with -byte=K (the K-th byte the instrument sends),\n"
    "                           unplug-at-ms=T, wrong-password-erases, bridge-never-returns,\n"
    "                           blank-infoa\n";

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

OptionParse parseOption(const std::string& arg, Options& options, std::string& error) {
    std::string value;
    if (takeValue(arg, "--sim-state", value)) {
        if (value.empty()) {
            error = "--sim-state wants a file name";
            return OptionParse::Malformed;
        }
        options.stateFile = value;
    } else if (takeValue(arg, "--sim-infoa", value)) {
        if (!parseInfoA(value, options.infoA)) {
            error = "--sim-infoa wants 128 hexadecimal digits (the 64 bytes of InfoA)";
            return OptionParse::Malformed;
        }
    } else if (takeValue(arg, "--sim-bsl-version", value)) {
        uint16_t version = 0;
        if (!parseHex16(value, version)) {
            error = "--sim-bsl-version wants a hexadecimal version word such as 0x0140";
            return OptionParse::Malformed;
        }
        options.bslVersion = version;
    } else if (takeValue(arg, "--sim-fault", value)) {
        Faults check;
        if (value.empty() || !parseFaults(value, check, &error)) {
            if (value.empty()) error = "a fault list";
            error = "--sim-fault wants " + error;
            return OptionParse::Malformed;
        }
        options.faults = options.faults.empty() ? value : options.faults + "," + value;
    } else {
        return OptionParse::NotOurs;
    }
    return OptionParse::Taken;
}

std::unique_ptr<Instrument> makeInstrument(const Options& options, InstrumentConfig config, std::string& error) {
    if (options.bslVersion) config.bslVersion = *options.bslVersion;
    if (!options.infoA.empty()) config.infoA = options.infoA;
    if (!options.faults.empty() && !parseFaults(options.faults, config.faults, &error)) return nullptr;
    auto instrument = std::make_unique<Instrument>(config);
    std::string reason;
    if (!options.stateFile.empty() && std::ifstream(options.stateFile) &&
        !instrument->loadState(options.stateFile, &reason)) {
        // Never saved back: the file stays as it is for the user to look at.
        error = "cannot load the simulated instrument from \"" + options.stateFile + "\": " + reason +
                "; the file is left as it is";
        return nullptr;
    }
    return instrument;
}

bool saveInstrument(const Options& options, const Instrument& instrument, std::string& error) {
    if (options.stateFile.empty() || instrument.saveState(options.stateFile)) return true;
    error = "cannot save the simulated instrument to \"" + options.stateFile + "\"";
    return false;
}

}  // namespace sim
