#pragma once
// The command-line options that describe a simulated instrument, the same for every program
// that offers one (the console tool and the wizard), so several runs can share one instrument
// through its state file.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/instrument.h"

namespace sim {

struct Options {
    std::string stateFile;                // --sim-state=FILE
    std::vector<uint8_t> infoA;           // --sim-infoa=HEX128
    std::optional<uint16_t> bslVersion;   // --sim-bsl-version=0xVVVV
    std::string faults;                   // --sim-fault=LIST, repeated options joined by ","
    bool any() const { return !stateFile.empty() || !infoA.empty() || bslVersion || !faults.empty(); }
};

enum class OptionParse { NotOurs, Taken, Malformed };
enum class OptionValue { NotThis, Taken, Malformed };
// The value of "NAME=VALUE" in `arg`, without surrounding blanks. NAME alone, or followed by a
// blank, is Malformed (with `error`): the value went into another argument or nowhere.
OptionValue takeValue(const std::string& arg, const char* name, std::string& value, std::string& error);
std::string trimmed(const std::string& text);
// One argument as given ("--sim-state=FILE"); Malformed sets `error`.
OptionParse parseOption(const std::string& arg, Options& options, std::string& error);

// Help lines for the options above, indented as the programs' usage texts are.
extern const char* const OPTIONS_USAGE;

// The instrument the options describe, starting from `config`: the state file is loaded when it
// exists (faults are never saved: they are this run's). Null, with `error`, when it cannot be made.
std::unique_ptr<Instrument> makeInstrument(const Options& options, InstrumentConfig config, std::string& error);
// Saves to the state file, if one was named.
bool saveInstrument(const Options& options, const Instrument& instrument, std::string& error);

// "0x0140", "140" -> 0x0140; false for anything that is not a 16-bit hex number.
bool parseHex16(const std::string& text, uint16_t& value);
// 128 hex digits -> 64 bytes.
bool parseInfoA(const std::string& text, std::vector<uint8_t>& bytes);

}  // namespace sim
