// koral_wine_bench: the simulated instrument behind a COM port of Wine. A pseudo-terminal stands
// for the bridge's port (Wine's dosdevices link names its slave); the instrument's UART is on the
// master side, at the line's rate and with the settings the program chose, which our preload in
// the Wine process reports together with the modem lines (DTR and RTS drive RST and TEST as on
// the bench). COMMAND runs under that preload; the programs have no hook for it.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/os/clock.h"
#include "sim/instrument.h"
#include "sim/options.h"
#include "tools/bench/instrument_setup.h"
#include "tools/bench/line_settings.h"
#include "tools/wine_bench/line_event.h"

namespace {

const char* const USAGE =
    "usage: koral_wine_bench --port=LINK --shim=FILE [--bridge-list=LIST] [--sim-state=FILE]\n"
    "                        [--sim-infoa=HEX128] -- COMMAND [ARG...]\n"
    "\n"
    "Runs COMMAND (Wine and a Windows program) with a simulated KORAL VKT on a pseudo-terminal\n"
    "that LINK (a Wine prefix's dosdevices/comN) names, so the program's real serial code reaches\n"
    "it. FILE is the 32-bit preload that gives the pseudo-terminal modem lines and parity; it goes\n"
    "into COMMAND's LD_PRELOAD. When COMMAND ends the instrument is saved to the state file; the\n"
    "exit status is COMMAND's.\n"
    "\n"
    "  --bridge-list=LIST     the bridge as the wizard's --bridge-list reads it: LIST names it while\n"
    "                         it is present (LINK too), a path in LIST.reset restarts it; the\n"
    "                         operator does the physical steps: when the program first reads LIST\n"
    "                         (a connect page) cable out, switch on, cable in; the On switch when\n"
    "                         the console opens; without it the cable stays in, LINK stays\n"
    "  --sim-state=FILE       the instrument's state: loaded when the file exists, saved at the end\n"
    "  --sim-infoa=HEX128     a new instrument's InfoA: 128 hexadecimal digits\n";

struct WineBench {
    sim::Instrument* instrument = nullptr;
    std::unique_ptr<platform::SerialLine> line;
    int master = -1;
    std::deque<uint8_t> toProgram;  // the instrument's bytes the pseudo-terminal has not taken yet
    bench::Termios termios = bench::initialTermios();
    bool dtr = true, rts = true;
    KoralLineEvent last{termios.c_iflag, termios.c_cflag, TIOCM_DTR | TIOCM_RTS};
    bool shown = false;
    std::string link, slaveName, bridgeList;

    void openLine() {
        line = instrument->openLine();
        if (!line) return;
        platform::Timeouts immediate{platform::TIMEOUT_MAXDWORD, 0, 0, 0, 0};
        line->setTimeouts(immediate);
        apply(last);  // what the program set last: the preload tells only changes
    }

    // The bridge as the program sees it: the port's link and the list's line, while present.
    void show(bool present) {
        shown = present;
        std::error_code ec;
        if (!present) {
            line.reset();  // the instrument killed it when the bridge left
            toProgram.clear();
            tcflush(master, TCIOFLUSH);
            std::filesystem::remove(link, ec);
        } else {
            openLine();
            std::filesystem::create_symlink(slaveName, link, ec);
        }
        if (bridgeList.empty()) return;
        {
            std::ofstream out(bridgeList + ".new", std::ios::trunc);
            char ids[16];
            std::snprintf(ids, sizeof ids, "%04x\t%04x", instrument->vid(), instrument->pid());
            if (present) out << instrument->bridgePath() << '\t' << instrument->bridgeSerial() << '\t' << ids << "\r\n";
        }
        std::filesystem::rename(bridgeList + ".new", bridgeList, ec);
    }

    // A restart the program asked for through the list's reset file.
    void takeResets() {
        const std::string file = bridgeList + ".reset";
        struct stat st;
        if (bridgeList.empty() || stat(file.c_str(), &st) != 0) return;
        std::error_code ec;
        std::filesystem::remove(file, ec);
        instrument->resetBridge();
    }

    // What the program wrote goes to the instrument before anything it did after.
    void takeWritten() {
        uint8_t buffer[512];
        for (;;) {
            ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) return;
            uint32_t done = 0;
            if (line) line->write(buffer, uint32_t(n), done);
        }
    }

    void giveAnswers() {
        uint8_t buffer[256];
        uint32_t done = 0;
        while (line && line->read(buffer, sizeof buffer, done) && done > 0) toProgram.insert(toProgram.end(), buffer, buffer + done);
        while (!toProgram.empty()) {
            uint8_t chunk[256];
            size_t n = std::min(toProgram.size(), sizeof chunk);
            std::copy_n(toProgram.begin(), n, chunk);
            ssize_t written = ::write(master, chunk, n);
            if (written <= 0) return;
            toProgram.erase(toProgram.begin(), toProgram.begin() + written);
        }
    }

    void apply(const KoralLineEvent& e) {
        termios.c_iflag = e.iflag;
        termios.c_cflag = e.cflag;
        dtr = (e.modem & TIOCM_DTR) != 0;
        rts = (e.modem & TIOCM_RTS) != 0;
        last = e;
        platform::LineState state = bench::lineStateOf(termios);
        state.dtrControl = dtr ? platform::dtr::ENABLE : platform::dtr::DISABLE;
        state.rtsControl = rts ? platform::rts::ENABLE : platform::rts::DISABLE;
        if (line) line->setState(state);
    }
};

struct Client {
    int fd;
    std::vector<uint8_t> pending;
};

int makePty(std::string& slaveName, int& slave) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
    slaveName = ptsname(master);
    // Held open here, so the master never reads a hang-up between the program's opens.
    slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios raw;
    if (slave < 0 || tcgetattr(slave, &raw) != 0) return -1;
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    return master;
}

int listenAt(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd < 0 || path.size() >= sizeof address.sun_path) return -1;
    std::strcpy(address.sun_path, path.c_str());
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) return -1;
    return fd;
}

pid_t g_child = -1;

// The bench's end is the program's: it ends first, and the bench cleans up after it.
void passOn(int sig) {
    if (g_child > 0) kill(g_child, sig);
}

int fail(const std::string& text, int status) {
    std::fprintf(stderr, "koral_wine_bench: %s\n", text.c_str());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    sim::Options options;
    std::string link, shim, bridgeList;
    // "--name=VALUE" with a value: VALUE into `out`.
    auto valueOf = [](const std::string& arg, const std::string& name, std::string& out) {
        if (arg.size() <= name.size() || arg.compare(0, name.size(), name) != 0) return false;
        out = arg.substr(name.size());
        return true;
    };
    int first = argc;
    for (int i = 1; i < argc && first == argc; ++i) {
        std::string arg = argv[i], error;
        if (arg == "--help" || arg == "-h") return std::fputs(USAGE, stdout) < 0 ? 74 : 0;
        if (arg == "--") first = i + 1;
        else if (!valueOf(arg, "--port=", link) && !valueOf(arg, "--shim=", shim) && !valueOf(arg, "--bridge-list=", bridgeList)) {
            sim::OptionParse parsed = sim::parseOption(arg, options, error);
            bool ours = parsed == sim::OptionParse::Taken && arg.rfind("--sim-fault", 0) != 0 &&
                        arg.rfind("--sim-bsl-version", 0) != 0;
            if (!ours) return fail((parsed == sim::OptionParse::Malformed ? error : "unknown option " + arg) + "\n" + USAGE, 64);
        }
    }
    if (first >= argc || link.empty() || shim.empty()) return fail(std::string("--port, --shim and COMMAND are needed\n") + USAGE, 64);

    std::string error;
    sim::InstrumentConfig config = bench::benchInstrumentConfig();
    config.attached = true;  // the operator pulls it when a connect page asks
    std::unique_ptr<sim::Instrument> instrument = sim::makeInstrument(options, config, error);
    if (!instrument) return fail(error, 66);

    WineBench b;
    b.instrument = instrument.get();
    b.link = link;
    b.bridgeList = bridgeList;
    int slave = -1;
    b.master = makePty(b.slaveName, slave);
    if (b.master < 0) return fail("cannot make a pseudo-terminal", 71);
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::remove(bridgeList + ".reset", ec);
    b.show(true);
    if (!b.line || !std::filesystem::is_symlink(link, ec)) return fail("cannot link " + link + " to the instrument's line", 73);
    // The first read of the list is a connect page asking for the instrument.
    int listWatch = -1;
    if (!bridgeList.empty()) {
        listWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        std::string folder = std::filesystem::path(bridgeList).parent_path().string();
        if (listWatch < 0 || inotify_add_watch(listWatch, folder.empty() ? "." : folder.c_str(), IN_OPEN) < 0)
            return fail("cannot watch " + bridgeList, 71);
    }
    std::string folder = (std::filesystem::temp_directory_path(ec) / "koral-wine-bench-XXXXXX").string();
    if (!mkdtemp(folder.data())) return fail("cannot make a folder for the socket", 73);
    const std::string socketPath = folder + "/line";
    int listener = listenAt(socketPath);
    if (listener < 0) return fail("cannot listen on " + socketPath, 71);


    signal(SIGINT, SIG_IGN);  // Ctrl-C is the program's; the bench ends with it
    signal(SIGPIPE, SIG_IGN);
    pid_t child = fork();
    if (child == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        setenv(KORAL_WINE_SOCKET_ENV, socketPath.c_str(), 1);
        const char* before = std::getenv("LD_PRELOAD");
        setenv("LD_PRELOAD", (before && *before ? shim + ":" + before : shim).c_str(), 1);
        execvp(argv[first], argv + first);
        std::fprintf(stderr, "koral_wine_bench: cannot run %s: %s\n", argv[first], std::strerror(errno));
        _exit(127);
    }
    g_child = child;
    signal(SIGTERM, passOn);
    signal(SIGHUP, passOn);
    int childFd = int(syscall(SYS_pidfd_open, child, 0));
    if (childFd < 0) return fail("pidfd_open", 71);

    std::vector<Client> clients;
    for (bool running = true; running;) {
        b.instrument->advance();
        b.takeResets();
        if (b.instrument->bridgePresent() != b.shown) b.show(!b.shown);
        b.giveAnswers();
        std::vector<pollfd> fds{{childFd, POLLIN, 0}, {listener, POLLIN, 0}, {b.master, POLLIN, 0}, {listWatch, POLLIN, 0}};
        if (!b.toProgram.empty()) fds[2].events |= POLLOUT;
        for (const Client& c : clients) fds.push_back({c.fd, POLLIN, 0});
        uint64_t now = platform::activeClock().nowUs();
        uint64_t wait = 20'000;
        if (std::optional<uint64_t> due = b.instrument->nextEventUs(); due) wait = std::min(wait, *due > now ? *due - now : 0);
        timespec timeout{time_t(wait / 1'000'000), long(wait % 1'000'000) * 1000};
        if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR) break;
        if (fds[0].revents) running = false;
        if (fds[1].revents & POLLIN) {
            int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients.push_back({fd, {}});
        }
        if (fds[2].revents & POLLIN) b.takeWritten();
        if (fds[3].revents & POLLIN) {
            alignas(inotify_event) char events[4096];
            ssize_t n = ::read(listWatch, events, sizeof events);
            const std::string name = std::filesystem::path(bridgeList).filename().string();
            for (ssize_t at = 0; at < n;) {
                auto* e = reinterpret_cast<inotify_event*>(events + at);
                if (e->len && name == e->name && listWatch >= 0) {
                    close(listWatch);
                    listWatch = -1;
                    b.instrument->runOperator();
                    break;
                }
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
        for (size_t i = 4; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            Client& c = clients[i - 4];
            uint8_t buffer[256];
            ssize_t n = ::read(c.fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(c.fd);
                c.fd = -1;
                continue;
            }
            c.pending.insert(c.pending.end(), buffer, buffer + n);
            while (c.pending.size() >= sizeof(KoralLineEvent)) {
                KoralLineEvent e;
                std::memcpy(&e, c.pending.data(), sizeof e);
                c.pending.erase(c.pending.begin(), c.pending.begin() + sizeof e);
                b.instrument->advance();
                b.takeWritten();
                b.apply(e);
                const char done = 1;
                if (::write(c.fd, &done, 1) != 1) break;
            }
        }
        std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    b.line.reset();
    instrument->stopOperator();
    if (!sim::saveInstrument(options, *instrument, error)) {
        std::fprintf(stderr, "koral_wine_bench: %s\n", error.c_str());
        if (rc == 0) rc = 73;
    }
    std::filesystem::remove(link, ec);
    if (!bridgeList.empty()) std::filesystem::remove(bridgeList, ec);
    std::filesystem::remove_all(folder, ec);
    return rc;
}
