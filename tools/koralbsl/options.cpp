#include "tools/koralbsl/options.h"

#include <cctype>

bool parseToolOptions(int argc, const char* const* argv, ToolOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
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
        } else if (arg.rfind("--sim-", 0) == 0) {
            if (sim::parseOption(arg, options.sim, error) != sim::OptionParse::Taken) {
                if (error.empty()) error = "unknown option " + arg + " (see --help)";
                return false;
            }
        } else if (arg.rfind("--transcript=", 0) == 0 && arg.size() > 13) {
            options.transcript = arg.substr(13);
        } else {
            error = "unknown option " + arg + " (see --help)";
            return false;
        }
    }
    bool simOnly = options.sim.any() || options.realTime;
    if (simOnly && !options.simulate) {
        error = "the --sim-* and --real-time options go with --simulate";
        return false;
    }
    return true;
}
