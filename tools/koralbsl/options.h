#pragma once
// The console tool's own options ("--" ones) and the files the driver's arguments name.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/options.h"

struct ToolOptions {
    bool help = false;
    bool version = false;
    bool simulate = false;
    bool realTime = false;  // simulated instrument at host speed instead of virtual time
    sim::Options sim;  // --sim-state, --sim-infoa, --sim-bsl-version, --sim-fault
    std::string transcript;
    std::vector<std::string> driverArgs;  // everything else, in order, for the driver
};

// False, with a message, on an unknown or malformed "--" option.
bool parseToolOptions(int argc, const char* const* argv, ToolOptions& options, std::string& error);

// The driver goes on past a flow letter or an option it does not know, a second flow argument
// (which silently replaces the first) and a value that is not a number: from the console these
// are mistakes, refused before any port is opened. False, with a message.
bool checkDriverArgs(const std::vector<std::string>& args, std::string& error);
