// What one console byte costs the service-mode page's GUI thread once the console box is full:
// the read, append, write, scroll and marker search of a byte at the box's capacity. The
// instrument's console can deliver up to 11,520 bytes a second at 115200 8E1; the GUI keeps up
// when a byte costs well under 87 us.
#include <benchmark/benchmark.h>

#include "app/master_dlg.h"
#include "pages/service_mode_page.h"
#include "platform/ui/headless.h"

namespace {

void BM_ConsoleByteAtCapacity(benchmark::State& state) {
    ui::HeadlessDriver driver;
    CMasterDlg wizard;
    CServiceModePage page;
    CNewWizPage last(139);
    wizard.AddPage(&page, IDD_SERVICEMODE);
    wizard.AddPage(&last, 139);
    driver.open(wizard);
    const std::string line = "T=21.4C P=1013.2hPa U=3.61V status OK\r\n";
    size_t i = 0;
    auto feed = [&] {
        page.PostMessage(WM_CONSOLE_CHAR, WPARAM(uint8_t(line[i++ % line.size()])), 0);
        driver.pump();
    };
    while (driver.text(IDC_CONSOLE).size() < CONSOLE_CAPACITY - line.size()) feed();
    for (auto _ : state) feed();
    state.counters["box_chars"] = double(driver.text(IDC_CONSOLE).size());
    driver.pressEscape();
}
BENCHMARK(BM_ConsoleByteAtCapacity)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
