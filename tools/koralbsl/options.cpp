#include "tools/koralbsl/options.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

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

namespace {

bool isNumber(const std::string& text, int base) {
    if (text.empty()) return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    std::strtol(begin, &end, base);
    return *end == '\0' && (std::isdigit(static_cast<unsigned char>(begin[0])) || begin[0] == '-');
}

}  // namespace

bool checkDriverArgs(const std::vector<std::string>& args, std::string& error) {
    const std::string* flow = nullptr;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '+')) continue;
        if (arg[0] == '+') {
            if (flow) {
                error = "one flow argument only: \"" + *flow + "\" and \"" + arg + "\" (the driver would take the last)";
                return false;
            }
            flow = &arg;
            for (char c : arg.substr(1)) {
                if (!std::strchr("aecfpruvwx", std::tolower(static_cast<unsigned char>(c)))) {
                    error = std::string("illegal action letter '") + c + "' in \"" + arg + "\"";
                    return false;
                }
            }
            continue;
        }
        const char letter = char(std::tolower(static_cast<unsigned char>(arg[1])));
        const std::string value = arg.substr(2);
        if (!std::strchr("hcpabemfrswx1", letter)) {
            error = "unknown option " + arg + " (see --help)";
            return false;
        }
        bool number = true;
        if (letter == 'm') number = value.empty() || isNumber(value, 0);
        if (letter == 'f') number = value.empty() || isNumber(value, 10);
        if (letter == 's') number = value.empty() || (value.size() == 1 && std::isdigit(static_cast<unsigned char>(value[0])));
        if (!number) {
            error = "the value of " + arg.substr(0, 2) + " is not a number: \"" + value + "\"";
            return false;
        }
        // The driver takes the arguments after these as their operands, whatever they look like.
        if (letter == 'e') i += 1;
        if (letter == 'r') i += 2;
    }
    return true;
}
