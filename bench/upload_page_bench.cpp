// How long the upload page's GUI thread spends on the messages of one whole upload: every
// message a real upload against the simulated instrument posts (driver texts and progress, the
// worker's own lines, the start and the end), then the instrument's boot text byte by byte,
// handed to the page in order. Each text append rewrites the whole log. Reported, in CPU time of
// the GUI thread: the total and the longest single message; the page keeps up when the total stays
// well under 2 s and no message takes 16 ms (one frame).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstring>
#include <string>
#include <vector>

#include "bsl/bsl.h"
#include "device/console_reader.h"
#include "platform/os/event.h"
#include "platform/ui/headless.h"
#include "sim/instrument.h"
#include "upload/engine_window_output.h"
#include "upload/firmware_package.h"
#include "upload/upload_page.h"
#include "upload/upload_thread.h"
#include "vendor/simulated.h"

namespace {

struct Message {
    UINT id;
    WPARAM wParam;
    LPARAM lParam;
    std::string text;
};

class Recorder : public CWnd {
public:
    Recorder() { SubclassWindow(ui::HeadlessDriver::createBareWindow()); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_ENGINE_TEXT) {
            messages.push_back({message, wParam, 0, reinterpret_cast<const char*>(lParam)});
            if (wParam) freeEngineText(reinterpret_cast<char*>(lParam));
        } else if (message >= WM_UPLOAD_STARTED && message <= WM_ENGINE_PROGRESS) {
            messages.push_back({message, wParam, lParam, {}});
        }
        return 0;
    }
    std::vector<Message> messages;
};

// The messages of one clean upload of a programmed instrument, with its boot text at the end.
std::vector<Message> recordUpload() {
    platform::Resource image = firmwareResource(ID_FIRMWARE_IMAGE);
    platform::Resource blankKey = firmwareResource(ID_FIRMWARE_BLANK_KEY);
    platform::Resource modelKey = firmwareResource(ID_FIRMWARE_MODEL_KEY);
    sim::InstrumentConfig config;
    MemoryImage flash = embeddedFirmwareImage();
    config.firmwareImage = {sim::Section{flash.address, flash.bytes}};
    config.flash = config.firmwareImage;
    sim::Instrument instrument(config);
    sim::UsbBus bus;
    bus.add(instrument);
    vendor::SimulatedVendor vendor(bus);
    platform::setSerialOpener(sim::makeOpener(instrument));
    Recorder recorder;
    setEngineOutputWindow(recorder.m_hWnd);
    std::unique_ptr<platform::Event> stop = platform::createManualResetEvent(true);
    int result = 0;
    UploadJob job;
    job.window = recorder.m_hWnd;
    job.driver.portOption = "-c\\\\.\\COM3";
    job.driver.blankKey = reinterpret_cast<const char*>(blankKey.data);
    job.driver.blankKeySize = blankKey.size;
    job.driver.modelKey = reinterpret_cast<const char*>(modelKey.data);
    job.driver.modelKeySize = modelKey.size;
    job.portPath = "\\\\.\\COM3";
    job.devicePath = instrument.bridgePath();
    job.image = reinterpret_cast<const char*>(image.data);
    job.imageSize = image.size;
    job.stopEvent = stop.get();
    job.result = &result;
    RunUpload(job);
    ui::pumpMessages();
    platform::setSerialOpener({});
    std::vector<Message> messages = recorder.messages;
    // The console phase ends the list: the boot text, then the last line and the end.
    auto end = messages.end() - 2;
    std::vector<Message> console;
    for (char c : config.bootText) console.push_back({WM_CONSOLE_CHAR, WPARAM(uint8_t(c)), 0, {}});
    messages.insert(end, console.begin(), console.end());
    return messages;
}

// state.range(0): text messages at least; the recorded driver texts are repeated before the
// console phase until there are that many (a real upload posts a few dozen; 600 is the budget).
// CPU time of this thread, so that the machine's other work does not count against the page.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void BM_UploadPageMessages(benchmark::State& state) {
    ui::HeadlessDriver driver;
    std::vector<Message> messages = recordUpload();
    std::vector<Message> recordedTexts;
    for (const Message& m : messages)
        if (m.id == WM_ENGINE_TEXT && m.wParam) recordedTexts.push_back(m);
    auto consoleStart = std::find_if(messages.begin(), messages.end(), [](const Message& m) { return m.id == WM_CONSOLE_CHAR; });
    size_t have = size_t(std::count_if(messages.begin(), messages.end(), [](const Message& m) { return m.id == WM_ENGINE_TEXT; }));
    std::vector<Message> extra;
    for (size_t i = 0; have + extra.size() < size_t(state.range(0)) && !recordedTexts.empty(); ++i)
        extra.push_back(recordedTexts[i % recordedTexts.size()]);
    messages.insert(consoleStart, extra.begin(), extra.end());
    CUploadPage page;
    page.Create(IDD_UPLOAD, nullptr);
    double totalMs = 0, maxMs = 0;
    size_t texts = 0, progress = 0;
    for (const Message& m : messages) {
        texts += m.id == WM_ENGINE_TEXT;
        progress += m.id == WM_ENGINE_PROGRESS;
    }
    for (auto _ : state) {
        page.m_editLog.SetWindowText("");
        double runMs = 0;
        for (const Message& m : messages) {
            LPARAM lParam = m.lParam;
            if (m.id == WM_ENGINE_TEXT) {
                char* text = m.wParam ? allocEngineText() : const_cast<char*>(m.text.c_str());
                if (m.wParam) std::strncpy(text, m.text.c_str(), ENGINE_TEXT_SIZE - 1);
                lParam = reinterpret_cast<LPARAM>(text);
            }
            double start = threadCpuMs();
            ui::sendMessage(page.m_hWnd, m.id, m.wParam, lParam);
            double ms = threadCpuMs() - start;
            runMs += ms;
            maxMs = std::max(maxMs, ms);
        }
        totalMs += runMs;
        ui::pumpMessages();  // the page's own 100% message
        page.KillTimer(ID_STOP_TIMER);
    }
    state.counters["messages"] = double(messages.size());
    state.counters["texts"] = double(texts);
    state.counters["progress"] = double(progress);
    state.counters["log_chars"] = double(page.m_editLog.GetWindowTextLength());
    state.counters["total_ms"] = totalMs / double(state.iterations());
    state.counters["max_message_ms"] = maxMs;
}
BENCHMARK(BM_UploadPageMessages)->Arg(0)->Arg(600)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
