// koralbsl: the BSL driver as a console program. The driver's arguments pass through unchanged;
// the files they name are read here and handed over in memory, as the wizard hands over its
// embedded package.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bsl/bsl.h"
#include "platform/os/clock.h"
#include "platform/os/recording_serial.h"
#include "platform/os/serial.h"
#include "sim/instrument.h"
#include "tools/koralbsl/options.h"
#include "upload/firmware_package.h"

namespace {

const char* const TOOL_USAGE =
    "usage: koralbsl [--simulate [--sim-...]] [--transcript=FILE] DRIVER-ARGUMENTS...\n"
    "\n"
    "Runs the BSL driver with DRIVER-ARGUMENTS (described below). The files named by -p and by the\n"
    "plain file argument are read from disk first; the exit status is the driver's result.\n"
    "\n"
    "  --help                 this text, then the driver's own\n"
    "  --version              the program's version\n"
    "  --simulate             talk to the built-in simulated instrument instead of a real port\n"
    "                         (its bridge answers on whatever port -c names)\n"
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
    "                           blank-infoa\n"
    "  --real-time            run the simulated instrument in host time at the real line rate\n"
    "                         (default: virtual time, so a full upload takes well under a second;\n"
    "                         the timing lines still show the instrument's own time)\n"
    "  --transcript=FILE      write every byte on the wire, both directions, to FILE\n"
    "\n";

bool readFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
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
        std::printf("koralbsl %s\n", KORAL_VERSION);
        return 0;
    }
    if (options.help) {
        std::fputs(TOOL_USAGE, stdout);
        std::fflush(stdout);
        return runDriver({"-h"}, {}, {}, false, false);
    }

    DriverFiles files = driverFiles(options.driverArgs);
    std::string password, image;
    if (!files.usage) {
        if (!files.password.empty() && !readFile(files.password, password)) {
            std::fprintf(stderr, "koralbsl: cannot read the password file \"%s\"\n", files.password.c_str());
            return 1;
        }
        if (!files.image.empty() && !readFile(files.image, image)) {
            std::fprintf(stderr, "koralbsl: cannot read the image file \"%s\"\n", files.image.c_str());
            return 1;
        }
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
        if (options.simBslVersion) config.bslVersion = *options.simBslVersion;
        if (!options.simInfoA.empty()) parseInfoA(options.simInfoA, config.infoA);
        if (!options.simFault.empty() && !sim::parseFaults(options.simFault, config.faults, &error)) {
            std::fprintf(stderr, "koralbsl: --sim-fault: %s\n", error.c_str());
            return 1;
        }
        instrument = std::make_unique<sim::Instrument>(config);
        if (!options.simState.empty()) {
            std::ifstream exists(options.simState);
            std::string reason;
            if (exists && !instrument->loadState(options.simState, &reason)) {
                // Never saved back: the file stays as it is for the user to look at.
                std::fprintf(stderr, "koralbsl: cannot load the simulated instrument from \"%s\": %s; the file is left as it is\n",
                             options.simState.c_str(), reason.c_str());
                return 1;
            }
        }
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

    int result = runDriver(options.driverArgs, password, image, !files.password.empty(), !files.image.empty());
    std::fflush(stdout);

    if (recording && !writeTranscript(options.transcript, *recording)) {
        std::fprintf(stderr, "koralbsl: cannot write the transcript \"%s\"\n", options.transcript.c_str());
        if (result == 0) result = 1;
    }
    if (instrument && !options.simState.empty() && !instrument->saveState(options.simState)) {
        std::fprintf(stderr, "koralbsl: cannot save the simulated instrument to \"%s\"\n", options.simState.c_str());
        if (result == 0) result = 1;
    }
    platform::setSerialOpener({});
    return result;
}
