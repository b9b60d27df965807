#include "sim/options.h"

#include <cctype>
#include <filesystem>

namespace sim {
namespace {

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::string trimmed(const std::string& text) {
    size_t from = 0, to = text.size();
    while (from < to && isSpace(text[from])) ++from;
    while (to > from && isSpace(text[to - 1])) --to;
    return text.substr(from, to - from);
}

OptionValue takeValue(const std::string& arg, const char* name, std::string& value, std::string& error) {
    const std::string n = name;
    if (arg.rfind(n, 0) != 0) return OptionValue::NotThis;
    if (arg.size() == n.size() || isSpace(arg[n.size()])) {
        error = n + " wants its value after \"=\" (" + n + "=...)";
        return OptionValue::Malformed;
    }
    if (arg[n.size()] != '=') return OptionValue::NotThis;
    value = trimmed(arg.substr(n.size() + 1));
    return OptionValue::Taken;
}

namespace {

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
    "                           blank-infoa, cut-flash=K@P (the battery removed P per mille\n"
    "                           into the K-th flash write or erase)\n";

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
    static const char* const NAMES[] = {"--sim-state", "--sim-infoa", "--sim-bsl-version", "--sim-fault"};
    std::string option, value;
    for (const char* name : NAMES) {
        OptionValue taken = takeValue(arg, name, value, error);
        if (taken == OptionValue::Malformed) return OptionParse::Malformed;
        if (taken == OptionValue::Taken) option = name;
    }
    if (option.empty()) return OptionParse::NotOurs;
    if (option == "--sim-state") {
        if (value.empty()) {
            error = "--sim-state wants a file name";
            return OptionParse::Malformed;
        }
        options.stateFile = value;
    } else if (option == "--sim-infoa") {
        if (!parseInfoA(value, options.infoA)) {
            error = "--sim-infoa wants 128 hexadecimal digits (the 64 bytes of InfoA)";
            return OptionParse::Malformed;
        }
    } else if (option == "--sim-bsl-version") {
        uint16_t version = 0;
        if (!parseHex16(value, version)) {
            error = "--sim-bsl-version wants a hexadecimal version word such as 0x0140";
            return OptionParse::Malformed;
        }
        options.bslVersion = version;
    } else {
        Faults check;
        if (value.empty() || !parseFaults(value, check, &error)) {
            if (value.empty()) error = "a fault list";
            error = "--sim-fault wants " + error;
            return OptionParse::Malformed;
        }
        options.faults = options.faults.empty() ? value : options.faults + "," + value;
    }
    return OptionParse::Taken;
}

std::unique_ptr<Instrument> makeInstrument(const Options& options, InstrumentConfig config, std::string& error) {
    if (options.bslVersion) config.bslVersion = *options.bslVersion;
    if (!options.infoA.empty()) config.infoA = options.infoA;
    if (!options.faults.empty() && !parseFaults(options.faults, config.faults, &error)) return nullptr;
    std::error_code ec;
    const bool saved = !options.stateFile.empty() &&
                       std::filesystem::symlink_status(options.stateFile, ec).type() != std::filesystem::file_type::not_found;
    const std::string file = "\"" + options.stateFile + "\"";
    if (saved && !std::filesystem::is_regular_file(options.stateFile, ec)) {
        error = file + " is not a regular file: --sim-state wants a file the simulated instrument is saved in";
        return nullptr;
    }
    // These make a new instrument; the saved one would silently override them.
    if (saved && (!options.infoA.empty() || options.bslVersion || config.faults.blankInfoA)) {
        error = "--sim-infoa, --sim-bsl-version and --sim-fault=blank-infoa describe a new instrument, but " + file +
                " holds a saved one; remove the file to start afresh, or leave the option out";
        return nullptr;
    }
    auto instrument = std::make_unique<Instrument>(config);
    std::string reason;
    if (saved && !instrument->loadState(options.stateFile, &reason)) {
        // Never saved back: the file stays as it is for the user to look at.
        error = "cannot load the simulated instrument from " + file + ": " + reason + "; the file is left as it is";
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
