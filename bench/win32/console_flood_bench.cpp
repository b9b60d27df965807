// The wizard under a console flood, on the system's own windows (run under Wine or Windows): the
// service-mode page takes an instrument's console at 115200 baud, full rate, for ten seconds,
// while another thread asks the wizard's window with SendMessageTimeout every 20 ms, as the
// system does before it calls a window "Not Responding". Prints the slowest answer and how many
// took over 100 ms; it reports, it does not gate.
//   console_flood_bench [seconds]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "app/master_dlg.h"
#include "pages/service_mode_page.h"
#include "platform/ui/backend.h"
#include "platform/ui/win32/win32_backend.h"

namespace {

double nowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

BOOL CALLBACK takeOurVisibleWindow(HWND w, LPARAM out) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) return TRUE;
    *reinterpret_cast<HWND*>(out) = w;
    return FALSE;
}

HWND findWizard() {
    HWND found = nullptr;
    EnumWindows(takeOurVisibleWindow, LPARAM(&found));
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    std::unique_ptr<ui::Backend> backend = ui::win32::makeBackend();
    ui::setBackend(backend.get());
    CWinApp app("KoralLoader");
    ui::setGuiThread();
    CMasterDlg wizard;
    CServiceModePage page;
    wizard.AddPage(&page, IDD_SERVICEMODE);
    app.m_pMainWnd = &wizard;

    std::atomic<bool> done{false};
    std::vector<double> answers;
    long bytes = 0;
    std::thread flood([&] {
        HWND native = nullptr;
        while (!(native = findWizard())) Sleep(10);
        // 115200 baud, 8E1: 11 bits a byte, 10,472 bytes a second, posted as the reader does.
        const char line[] = "KORAL VKT 1.0.3  T=21.4C  U=3.61V  I=12.0mA  state=idle  warn=0\r\n";
        double start = nowMs(), next = start;
        while (nowMs() - start < seconds * 1000.0) {
            double due = (nowMs() - start) * 10.472;
            for (; bytes < long(due); ++bytes)
                page.PostMessage(WM_CONSOLE_CHAR, WPARAM(uint8_t(line[bytes % (sizeof line - 1)])), 0);
            next += 1.0;
            double wait = next - nowMs();
            if (wait > 0) Sleep(DWORD(wait));
        }
        done = true;
        PostMessageA(native, WM_CLOSE, 0, 0);
    });
    std::thread probe([&] {
        HWND native = nullptr;
        while (!(native = findWizard())) Sleep(10);
        while (!done) {
            double before = nowMs();
            DWORD_PTR result = 0;
            SendMessageTimeoutA(native, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
            answers.push_back(nowMs() - before);
            Sleep(20);
        }
    });
    double began = nowMs();
    wizard.DoModal();
    double took = nowMs() - began;
    flood.join();
    probe.join();
    ui::setBackend(nullptr);

    double slowest = answers.empty() ? 0 : *std::max_element(answers.begin(), answers.end());
    long late = long(std::count_if(answers.begin(), answers.end(), [](double ms) { return ms > 100.0; }));
    std::printf("console flood: %ld bytes in %.1f s; the wizard answered %zu probes, slowest %.1f ms, %ld over 100 ms\n",
                bytes, took / 1000.0, answers.size(), slowest, late);
    return 0;
}
