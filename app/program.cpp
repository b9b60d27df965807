#ifdef _WIN32
#include <windows.h>  // before the toolkit's headers, which skip what it defines
#endif

#include "app/program.h"

#include <cstdio>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/wiz_app.h"
#include "platform/os/version.h"
#include "res/version/version.h"
#include "sim/options.h"
#ifdef _WIN32
#include "platform/ui/win32/win32_backend.h"
#else
#include <signal.h>

#include "platform/ui/terminal/console.h"
#include "platform/ui/terminal/signals.h"
#include "upload/infoa_files.h"
#include "vendor/link.h"
#endif

const char* const PROGRAM_USAGE =
    "usage: KoralLoader [/SKIPSERVICE] [/SIMULATE [--sim-...]]\n"
    "\n"
    "Writes the firmware release it carries into a KORAL VKT instrument through its USB cable,\n"
    "keeping the instrument's calibration (InfoA). Switches start with \"/\" or \"-\", in any case.\n"
    "\n"
    "  /SKIPSERVICE           start at the power-cycling page\n"
    "  --plain                print the wizard as lines even on a terminal (Linux)\n"
    "  /SIMULATE              the built-in simulated instrument, its USB bridge and a simulated\n"
    "                         operator instead of real hardware (demonstration and training)\n"
    "%s%s"  // the --sim-* options
    "  --bridge-list=FILE     the USB bridges are the lines of FILE (path, serial, vid, pid; tab\n"
    "                         between, ids in hex), not the system's; a bridge's reset appends its\n"
    "                         path to FILE.reset (Wine, which has no USB; the port is real)\n"
    "  --help, /?             this text\n"
    "  --version              the program's version\n"
    "\n"
    "Exit status: 0 the last upload ended with the green tick; 1 the firmware was programmed but\n"
    "the instrument was not seen starting it; 2 the last upload failed or none was run; 3 the\n"
    "wizard could not start; 4 the simulated instrument could not be saved.\n";

namespace {

#ifdef _WIN32
// KoralLoader.exe is a windowed program: its text goes to standard output when that leads
// somewhere (a file, a pipe), else to the console it was typed in, else into a box.
void PrintText(const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    bool redirected = out && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN;
    if (!redirected && AttachConsole(ATTACH_PARENT_PROCESS)) {
        redirected = std::freopen("CONOUT$", "w", stdout) != nullptr;
        if (redirected) std::fputs("\n", stdout);  // the prompt came back before the text
    }
    if (redirected) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        return;
    }
    MessageBoxA(nullptr, text.c_str(), "KoralLoader", MB_OK | MB_ICONINFORMATION);
}
#else
void PrintText(const std::string& text) { std::fputs(text.c_str(), stdout); }
#endif

}  // namespace

#ifndef _WIN32
namespace {

// A signal ends the program (SIGTERM, SIGHUP, a second Ctrl+C): the simulated instrument is saved
// as the cut leaves it, and a cut upload names where the calibration is kept.
void EndedBySignal(CWizApp& app, int sig, bool uploading) {
    const char* name = sig == SIGINT ? "Ctrl+C" : sig == SIGTERM ? "SIGTERM" : sig == SIGHUP ? "SIGHUP" : "a signal";
    {
        std::lock_guard lock(app.m_simulationLock);
        std::string error;
        if (app.m_pSimulation && !sim::saveInstrument(app.m_cmdInfo.m_simulation.instrument,
                                                      app.m_pSimulation->instrument(), error)) {
            std::fprintf(stderr, "KoralLoader: %s\n", error.c_str());
        }
    }
    if (!uploading) return;
    std::vector<std::string> kept = KeptOwnBackups();
    if (kept.empty()) {
        std::fprintf(stderr, "KoralLoader: %s ended the upload before a backup of the instrument's calibration (InfoA) "
                             "was made.\n", name);
    } else {
        std::fprintf(stderr, "KoralLoader: %s ended the upload. The instrument's calibration (InfoA) is kept in %s\n",
                     name, kept.back().c_str());
    }
}

}  // namespace
#endif

int RunKoralLoader(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "/?") == 0) {
            std::vector<char> text(std::strlen(PROGRAM_USAGE) + std::strlen(sim::OPTIONS_USAGE) +
                                   std::strlen(SIMULATION_USAGE) + 1);
            std::snprintf(text.data(), text.size(), PROGRAM_USAGE, sim::OPTIONS_USAGE, SIMULATION_USAGE);
            PrintText(text.data());
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            PrintText("koralloader " KORAL_VERSION_LINE "\n" KORAL_COPYRIGHT "\n");
            return 0;
        }
    }
    // The version label reads the program's file: started from its folder as "KoralLoader" (or
    // through PATH), the first argument alone names no file that can be opened.
    std::string self = platform::programFile(argc > 0 ? argv[0] : nullptr);
    std::vector<const char*> args(argv, argv + argc);
    if (argc > 0) args[0] = self.c_str();
    AfxSetCommandLine(argc, args.data());
#ifndef _WIN32
    vendor::linkStandIn();  // the vendor library cannot run as a DLL here: its code is linked in
    // The terminal draws the wizard, or line mode prints it; the operator's answers come from
    // standard input unless the simulated operator clicks.
    bool plain = false, simulate = false, hands = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        for (char& c : arg) c = char(std::tolower((unsigned char)c));
        plain = plain || arg == "--plain";
        simulate = simulate || arg == "/simulate" || arg == "-simulate";
        hands = hands || arg == "--sim-operator=hands";
    }
    std::unique_ptr<ui::Backend> console = ui::term::makeConsoleBackend(plain, !simulate || hands);
    ui::setBackend(console.get());
#else
    std::unique_ptr<ui::Backend> native = ui::win32::makeBackend();
    ui::setBackend(native.get());
#endif
    int status;
    {
        CWizApp app;
#ifndef _WIN32
        ui::term::setEndHook([&app](int sig, bool uploading) { EndedBySignal(app, sig, uploading); });
#endif
        app.Run();
        status = app.m_nExitStatus;
#ifndef _WIN32
        ui::term::setEndHook(nullptr);
#endif
    }
    ui::setBackend(nullptr);
    return status;
}
