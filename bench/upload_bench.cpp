// The full program run of the embedded release ("-m3" "+aepvr") at the real 9600-baud line
// timing, under the virtual clock. Reports how much longer the run takes in instrument time than
// the bytes it exchanges need on the wire alone (protocol overhead: SYNC round trips, answer
// turnarounds, flash times), and the host CPU time one run costs. The instrument counts the bytes
// itself: a recording of every call (about 300,000 polls a run) cost twenty times the run.
#include <benchmark/benchmark.h>

#include <memory>

#include "bsl/bsl.h"
#include "bsl/collecting_output.h"
#include "platform/os/clock.h"
#include "sim/instrument.h"
#include "upload/firmware_package.h"

namespace {

constexpr double BITS_PER_BYTE = 11.0;  // start, 8 data, even parity, stop
constexpr double BAUD = 9600.0;

void BM_FullProgramRun(benchmark::State& state) {
    platform::Resource image = firmwareResource(ID_FIRMWARE_IMAGE);
    platform::Resource key = firmwareResource(ID_FIRMWARE_BLANK_KEY);
    MemoryImage flash = embeddedFirmwareImage();
    const char* argv[] = {"koralbsl", "-cCOM1", "-pkey_BLANK.txt", "-m3", "+aepvr", "firmware.txt"};

    double simulatedUs = 0, wireUs = 0;
    uint64_t bytes = 0;
    int runs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // The console tool's clock: 10 us a tick read keeps the times it prints true. The
        // wizard's tests step 1 ms, which polls a third as often (about 10 ms a run here) and
        // makes the run 0.4 s longer in instrument time.
        platform::VirtualClock clock(0, 10);
        platform::ScopedClock scope(clock);
        sim::InstrumentConfig config;
        config.comPort = 1;
        config.realLineTiming = true;
        config.firmwareImage = {sim::Section{flash.address, flash.bytes}};
        sim::Instrument instrument(config);
        platform::setSerialOpener(sim::makeOpener(instrument));
        CollectingOutput output;
        setOutputTarget(&output);
        bslResetState();
        state.ResumeTiming();

        uint64_t start = clock.nowUs();
        int result = bslMain(6, argv, reinterpret_cast<const char*>(key.data), key.size,
                             reinterpret_cast<const char*>(image.data), image.size);
        uint64_t end = clock.nowUs();

        state.PauseTiming();
        if (result != 0 || !instrument.holdsFirmware()) state.SkipWithError("the program run failed");
        sim::Instrument::WireBytes wire = instrument.wireBytes();
        uint64_t exchanged = wire.written + wire.read;
        simulatedUs += double(end - start);
        wireUs += double(exchanged) * BITS_PER_BYTE / BAUD * 1e6;
        bytes += exchanged;
        ++runs;
        setOutputTarget(nullptr);
        platform::setSerialOpener({});
        state.ResumeTiming();
    }
    if (runs > 0) {
        state.counters["simulated_s"] = simulatedUs / runs / 1e6;
        state.counters["wire_s"] = wireUs / runs / 1e6;
        state.counters["duration_over_wire"] = simulatedUs / wireUs;
        state.counters["bytes_on_wire"] = double(bytes) / runs;
    }
}
BENCHMARK(BM_FullProgramRun)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
