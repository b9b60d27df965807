// koralbsl: the BSL driver as a console program. The driver's arguments pass through unchanged;
// the files they name are read here and handed over in memory, as the wizard hands over its
// embedded package.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bsl/bsl.h"
#include "bsl/output.h"
#include "platform/os/clock.h"
#include "platform/os/recording_serial.h"
#include "platform/os/serial.h"
#include "res/version/version.h"
#include "sim/instrument.h"
#include "sim/options.h"
#include "tools/koralbsl/input_files.h"
#include "tools/koralbsl/options.h"
#include "upload/firmware_package.h"
#include "upload/infoa_files.h"

namespace {

const char* const TOOL_USAGE =
    "usage: koralbsl [--simulate [--sim-...]] [--transcript=FILE] DRIVER-ARGUMENTS...\n"
    "\n"
    "Runs the BSL driver with DRIVER-ARGUMENTS (described below). The files named by -p and by the\n"
    "plain file argument are read and checked first (well-formed TI-TXT, LF or CR LF line ends; a\n"
    "password file holds the 32 bytes at 0xFFE0), so that no mistake reaches the port; the exit\n"
    "status is the driver's result. On a terminal the program pass shows its progress on stderr.\n"
    "\n"
    "  --help                 this text, then the driver's own\n"
    "  --version              the program's version\n"
    "  --simulate             talk to the built-in simulated instrument instead of a real port\n"
    "                         (its bridge answers on whatever port -c names)\n"
    "%s"  // the --sim-* options
    "  --real-time            run the simulated instrument in host time at the real line rate\n"
    "                         (default: virtual time, so a full upload takes well under a second;\n"
    "                         the timing lines still show the instrument's own time)\n"
    "  --transcript=FILE      write every byte on the wire, both directions, to FILE\n"
    "\n";

// Engine text to standard output; on a terminal the program pass also draws a progress bar on
// standard error, which never reaches a pipe or a file.
class ConsoleOutput final : public OutputTarget {
public:
    explicit ConsoleOutput(bool bar) : bar_(bar) {}
    ~ConsoleOutput() override { clearBar(); }

    void postText(char* text) override {
        clearBar();
        std::fputs(text, stdout);
        std::fflush(stdout);
        freeEngineText(text);
    }
    void postProgress(uint32_t consumed, uint32_t total) override {
        if (!bar_ || total == 0 || consumed > total) return;
        uint32_t now = platform::tickCount();
        if (!shown_) startTick_ = now, lastPercent_ = -1;
        int percent = int(uint64_t(consumed) * 100 / total);
        if (shown_ && percent == lastPercent_) return;
        shown_ = true;
        lastPercent_ = percent;
        char left[32] = "";
        uint32_t elapsed = now - startTick_;
        if (consumed > 0 && elapsed > 0) {
            uint64_t ms = uint64_t(elapsed) * (total - consumed) / consumed;
            std::snprintf(left, sizeof left, ", %u:%02u left", unsigned(ms / 60000), unsigned(ms / 1000 % 60));
        }
        const int width = 30;
        std::string bar(size_t(width * percent / 100), '#');
        bar.resize(width, '.');
        std::fprintf(stderr, "\r[%s] %3d%%  %u of %u bytes%s\x1b[K", bar.c_str(), percent, unsigned(consumed),
                     unsigned(total), left);
        std::fflush(stderr);
    }

private:
    void clearBar() {
        if (!shown_) return;
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }
    bool bar_;
    bool shown_ = false;
    int lastPercent_ = -1;
    uint32_t startTick_ = 0;
};

// Reads and checks a TI-TXT file the run needs; the text handed on has CR LF line ends.
bool loadTiTxt(const char* role, const std::string& path, bool extended, bool password, std::string& text,
               uint32_t& dataBytes) {
    std::string bytes, error;
    std::vector<TiTxtSection> sections;
    bool ok = readRegularFile(path, bytes, error) && checkTiTxt(bytes, extended, text, sections, error) &&
              (!password || checkPasswordSections(sections, error));
    if (!ok) {
        std::fprintf(stderr, "koralbsl: the %s file \"%s\": %s\n", role, path.c_str(), error.c_str());
        return false;
    }
    dataBytes = 0;
    for (const TiTxtSection& s : sections) dataBytes += s.size;
    return true;
}

bool sameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error)) return true;
    return std::filesystem::weakly_canonical(a, error) == std::filesystem::weakly_canonical(b, error);
}

std::vector<sim::Section> embeddedFirmwareSections() {
    MemoryImage image = embeddedFirmwareImage();
    if (image.bytes.empty()) return {};
    return {sim::Section{image.address, image.bytes}};
}

// Runs of bytes in one direction, one line each, with the time of their first byte.
bool writeTranscript(const std::string& path, const platform::SerialRecording& recording) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    std::fputs("# '>' from the PC to the instrument, '<' back; time in ms on the run's clock\n", out);
    char direction = 0;
    int column = 0;
    for (const platform::SerialCall& call : recording.calls()) {
        bool isWrite = call.op == platform::SerialCall::Op::Write;
        if (!isWrite && call.op != platform::SerialCall::Op::Read) continue;
        if (call.bytes.empty() || !call.ok) continue;
        char d = isWrite ? '>' : '<';
        for (uint8_t b : call.bytes) {
            if (d != direction || column == 16) {
                std::fprintf(out, "%s%10.3f %c", direction ? "\n" : "", double(call.timeUs) / 1000.0, d);
                direction = d;
                column = 0;
            }
            std::fprintf(out, " %02X", b);
            ++column;
        }
    }
    if (direction) std::fputc('\n', out);
    return std::fclose(out) == 0;
}

int runDriver(const std::vector<std::string>& args, const std::string& password, const std::string& image,
              bool havePassword, bool haveImage) {
    std::vector<const char*> argv{"koralbsl"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    return bslMain(int(argv.size()), argv.data(), havePassword ? password.data() : nullptr, password.size(),
                   haveImage ? image.data() : nullptr, image.size());
}

}  // namespace

int main(int argc, char** argv) {
    ToolOptions options;
    std::string error;
    if (!parseToolOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "koralbsl: %s\n", error.c_str());
        return 1;
    }
    if (options.version) {
        std::printf("koralbsl " KORAL_VERSION_LINE "\n" KORAL_COPYRIGHT "\n");
        return 0;
    }
    if (options.help) {
        std::printf(TOOL_USAGE, sim::OPTIONS_USAGE);
        std::fflush(stdout);
        return runDriver({"-h"}, {}, {}, false, false);
    }

    if (!checkDriverArgs(options.driverArgs, error)) {
        std::fprintf(stderr, "koralbsl: %s\n", error.c_str());
        return 1;
    }
    std::vector<const char*> driverArgv{"koralbsl"};
    for (const std::string& a : options.driverArgs) driverArgv.push_back(a.c_str());
    const BslRunPlan plan = bslPlanRun(int(driverArgv.size()), driverArgv.data());
    std::string password, image;
    // A usage mistake is the driver's to report, before any port is opened or instrument made.
    if (plan.endsBeforePort) {
        ConsoleOutput console(false);
        setOutputTarget(&console);
        int result = runDriver(options.driverArgs, {}, {}, false, false);
        setOutputTarget(nullptr);
        return result;
    }
    {
        uint32_t keyBytes = 0, imageBytes = 0;
        if (!plan.passwordFile.empty() && !loadTiTxt("password", plan.passwordFile, false, true, password, keyBytes))
            return 1;
        if (!plan.imageFile.empty() && !loadTiTxt("image", plan.imageFile, plan.extended, false, image, imageBytes))
            return 1;
        if (plan.readsImage && imageBytes == 0) {
            if (plan.imageFile.empty())
                std::fprintf(stderr, "koralbsl: the run checks, programs or verifies by file, but names no image file\n");
            else
                std::fprintf(stderr, "koralbsl: the image file \"%s\" holds no data to check, program or verify\n",
                             plan.imageFile.c_str());
            return 1;
        }
    }

    // Each file the run writes must be one of its own: a read-out or a transcript written to the
    // state file (or to each other) would be overwritten when the run ends, and lost unseen.
    const std::pair<const char*, std::string> outputs[] = {
        {"the -r read-out", plan.readFile}, {"the transcript", options.transcript}, {"the state file", options.sim.stateFile}};
    for (size_t i = 0; i < std::size(outputs); ++i)
        for (size_t j = i + 1; j < std::size(outputs); ++j)
            if (sameFile(outputs[i].second, outputs[j].second)) {
                std::fprintf(stderr, "koralbsl: %s and %s are one file, \"%s\"\n", outputs[i].first, outputs[j].first,
                             outputs[j].second.c_str());
                return 1;
            }

    // A run that erases with InfoA held in memory writes it to a file first: a run cut between the
    // erase and the write-back would otherwise lose it.
    std::string infoAFile;
    if (plan.keepsInfoA) {
        std::string problem;
        if (!NewInfoABackup(infoAFile, problem)) {
            std::fprintf(stderr, "koralbsl: InfoA cannot be kept on disk before the erase. %s\n", problem.c_str());
            return 1;
        }
        // Through the list of own backups: once deleted, the name is free for any other program.
        bslSetInfoAFile(infoAFile, [](const std::string& path) { DeleteOwnBackup(path); });
    }

    std::unique_ptr<sim::Instrument> instrument;
    std::unique_ptr<platform::VirtualClock> virtualClock;
    std::unique_ptr<platform::ScopedClock> clockScope;
    if (options.simulate) {
        if (!options.realTime) {
            // A small step per tick read keeps pure tick-count loops finite without distorting
            // the timings the driver prints.
            virtualClock = std::make_unique<platform::VirtualClock>(0, 10);
            clockScope = std::make_unique<platform::ScopedClock>(*virtualClock);
        }
        sim::InstrumentConfig config;
        config.realLineTiming = true;
        config.firmwareImage = embeddedFirmwareSections();
        instrument = sim::makeInstrument(options.sim, config, error);
        if (!instrument) {
            std::fprintf(stderr, "koralbsl: %s\n", error.c_str());
            return 1;
        }
        // Whoever runs the console tool has the cable in; an instrument the wizard saved may have
        // been left unplugged by its operator.
        if (!instrument->plugged()) instrument->plug();
        // Whatever port -c names reaches the simulated bridge, as long as it is plugged in.
        sim::Instrument* target = instrument.get();
        platform::setSerialOpener([target](const std::string&) { return target->openLine(); });
    }

    std::shared_ptr<platform::SerialRecording> recording;
    if (!options.transcript.empty()) {
        recording = std::make_shared<platform::SerialRecording>();
        platform::SerialOpener inner = platform::setSerialOpener({});
        platform::setSerialOpener(platform::recordingOpener(inner, recording));
    }

    ConsoleOutput console(isatty(STDERR_FILENO) != 0);
    setOutputTarget(&console);
    int result = runDriver(options.driverArgs, password, image, !plan.passwordFile.empty(), !plan.imageFile.empty());
    setOutputTarget(nullptr);
    std::fflush(stdout);
    if (!infoAFile.empty()) {
        std::vector<std::string> kept = KeptOwnBackups();
        if (std::find(kept.begin(), kept.end(), infoAFile) != kept.end()) {
            std::fprintf(stderr,
                         "koralbsl: InfoA as read before the erase is kept in \"%s\"; write it back with\n"
                         "  koralbsl -c<port> -p<password file> +pv \"%s\"\n",
                         infoAFile.c_str(), infoAFile.c_str());
            if (result == 0) result = 1;
        } else {
            DeleteOwnBackup(infoAFile);  // the run ended before InfoA was read: nothing to keep
        }
    }

    if (recording && !writeTranscript(options.transcript, *recording)) {
        std::fprintf(stderr, "koralbsl: cannot write the transcript \"%s\"\n", options.transcript.c_str());
        if (result == 0) result = 1;
    }
    if (instrument && !sim::saveInstrument(options.sim, *instrument, error)) {
        std::fprintf(stderr, "koralbsl: %s\n", error.c_str());
        if (result == 0) result = 1;
    }
    platform::setSerialOpener({});
    return result;
}
