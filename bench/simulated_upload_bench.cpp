// Host CPU of one simulated upload: the wizard's driver runs (InfoA read trying the blank key,
// the program pass, the second InfoA read) against the simulated instrument at the real line
// timing, under the virtual clock the wizard's tests run on. The embedded release, and synthetic
// images of several sizes to show how the cost grows with the image.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bsl/bsl.h"
#include "bsl/collecting_output.h"
#include "platform/os/clock.h"
#include "sim/instrument.h"
#include "upload/firmware_package.h"
#include "upload/infoa.h"

namespace {

std::string resourceText(int id) {
    platform::Resource r = firmwareResource(id);
    return std::string(reinterpret_cast<const char*>(r.data), r.size);
}

std::string hexLines(const std::vector<uint8_t>& bytes) {
    std::string text;
    char hex[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        text += hex;
        text += i % 16 == 15 || i + 1 == bytes.size() ? "\r\n" : " ";
    }
    return text;
}

// `size` bytes of code up to 0xFFFF as the release has them: no 0xFF byte, the security key at
// 0xFFDE 0x0000, vectors in the last 32 bytes. Its model key goes to `key`.
std::string syntheticImage(uint32_t size, std::string& key) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = 0x1234567u + size;
    for (uint8_t& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = uint8_t((x >> 24) % 0xFF);
    }
    bytes[size - 34] = bytes[size - 33] = 0x00;
    char address[8];
    std::snprintf(address, sizeof address, "@%04X", 0x10000u - size);
    key = "@FFE0\r\n" + hexLines(std::vector<uint8_t>(bytes.end() - 32, bytes.end())) + "q\r\n";
    return address + std::string("\r\n") + hexLines(bytes) + "q\r\n";
}

struct Release {
    std::string image, modelKey;
    std::vector<sim::Section> sections;  // what programming the image leaves in flash
};

// One upload into a factory-fresh instrument (erased vectors): the first reading and the program
// pass use the blank key, the second reading falls back to the model key.
bool simulatedUpload(const Release& release, const std::string& blankKey, uint64_t& simulatedUs) {
    platform::VirtualClock clock;
    platform::ScopedClock scope(clock);
    sim::InstrumentConfig config;
    config.realLineTiming = true;
    config.firmwareImage = release.sections;
    sim::Instrument instrument(config);
    platform::setSerialOpener(sim::makeOpener(instrument));
    CollectingOutput output;
    setOutputTarget(&output);
    bslResetState();

    DriverSetup setup;
    setup.portOption = "-c\\\\.\\COM3";
    setup.blankKey = blankKey.data();
    setup.blankKeySize = uint32_t(blankKey.size());
    setup.modelKey = release.modelKey.data();
    setup.modelKeySize = uint32_t(release.modelKey.size());
    bool useBlankKey = true;
    CString first, firstText, second, secondText;
    bool ok = ReadAndSaveInfoA(setup, first, firstText, useBlankKey) &&
              RunDriver(setup, useBlankKey, {"-m3", "+aepvr", "firmware.txt"}, release.image.data(),
                        release.image.size()) == 0 &&
              ReadAndSaveInfoA(setup, second, secondText, useBlankKey) && firstText == secondText &&
              instrument.holdsFirmware() && !useBlankKey;
    std::remove(first.c_str());
    std::remove(second.c_str());
    simulatedUs = clock.nowUs();
    setOutputTarget(nullptr);
    platform::setSerialOpener({});
    return ok;
}

void runUploads(benchmark::State& state, Release release) {
    release.sections = sim::sectionsFromTiTxt(release.image);
    const std::string blankKey = resourceText(ID_FIRMWARE_BLANK_KEY);
    uint64_t simulatedUs = 0;
    for (auto _ : state) {
        if (!simulatedUpload(release, blankKey, simulatedUs)) state.SkipWithError("the upload failed");
    }
    state.counters["simulated_s"] = double(simulatedUs) / 1e6;
    state.counters["image_bytes"] = double(release.sections.at(0).bytes.size());
}

void BM_UploadEmbeddedRelease(benchmark::State& state) {
    runUploads(state, {resourceText(ID_FIRMWARE_IMAGE), resourceText(ID_FIRMWARE_MODEL_KEY), {}});
}
BENCHMARK(BM_UploadEmbeddedRelease)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_UploadSyntheticImage(benchmark::State& state) {
    Release release;
    release.image = syntheticImage(uint32_t(state.range(0)), release.modelKey);
    runUploads(state, release);
}
BENCHMARK(BM_UploadSyntheticImage)
    ->Arg(1 << 10)->Arg(4 << 10)->Arg(16 << 10)->Arg(0xDF00)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
    // The backups go to a directory of the benchmark's own.
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "koral_upload_bench";
    std::filesystem::create_directories(dir);
    setenv("TMPDIR", dir.c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(dir);
    return 0;
}
