// Where koralloader's start-up goes: the time from starting the program to its first screen, in
// an 80 x 24 pseudo-terminal and in line mode, and the piece that once took most of it, the
// version label (the program's own file read for its version block).
//   startup_bench KORALLOADER [RUNS]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/master_dlg.h"
#include "platform/os/clock.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

// Reads `fd` until `text` appears; the milliseconds since `t0`, or -1 after 10 s.
double waitFor(int fd, const std::string& text, Clock::time_point t0) {
    std::string seen;
    while (msSince(t0) < 10000) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return -1;
        seen.append(buf, size_t(n));
        if (seen.find(text) != std::string::npos) return msSince(t0);
    }
    return -1;
}

void end(pid_t pid) {
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

// The program in a pseudo-terminal of 80 x 24 until its welcome page is drawn.
double toFirstScreen(const char* program, const std::vector<const char*>& extra) {
    winsize size{};
    size.ws_col = 80;
    size.ws_row = 24;
    int master = -1;
    Clock::time_point t0 = Clock::now();
    pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        setenv("TERM", "xterm-256color", 1);
        setenv("LANG", "C.UTF-8", 1);
        std::vector<const char*> argv{program};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(nullptr);
        execv(program, const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    double ms = waitFor(master, "Welcome to the", t0);
    end(pid);
    close(master);
    return ms;
}

// Line mode: the program's standard output is a pipe.
double toFirstLines(const char* program) {
    int out[2];
    if (pipe(out) != 0) return -1;
    Clock::time_point t0 = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, STDIN_FILENO);
        close(out[0]);
        execl(program, program, "--plain", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    double ms = waitFor(out[0], "Welcome to the", t0);
    end(pid);
    close(out[0]);
    return ms;
}

// How the version label read the program file until it read only the headers and the section:
// the whole file, once for the size and once for the block.
double wholeFileLabel(const char* program) {
    Clock::time_point t0 = Clock::now();
    for (int i = 0; i < 2; ++i) {
        std::ifstream in(program, std::ios::binary);
        std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (file.empty()) return -1;
    }
    return msSince(t0);
}

double labelNow(const char* program) {
    Clock::time_point t0 = Clock::now();
    CString label = readVersionLabel(program);
    return label.empty() ? -1 : msSince(t0);
}

struct Row {
    const char* what;
    std::vector<double> ms;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: startup_bench KORALLOADER [RUNS]\n");
        return 2;
    }
    const char* program = argv[1];
    int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    std::vector<Row> rows = {{"first screen, 80 x 24 terminal", {}},
                             {"first screen, /SIMULATE", {}},
                             {"first lines, line mode", {}},
                             {"version label now (includes its 20 ms pause)", {}},
                             {"version label reading the whole file, as before", {}}};
    for (int i = 0; i < runs; ++i) {
        rows[0].ms.push_back(toFirstScreen(program, {}));
        rows[1].ms.push_back(toFirstScreen(program, {"/SIMULATE", "--sim-operator=hands"}));
        rows[2].ms.push_back(toFirstLines(program));
        rows[3].ms.push_back(labelNow(program));
        if (i < 3) rows[4].ms.push_back(wholeFileLabel(program));  // seconds in a Debug build
    }
    std::printf("%-50s %9s %9s %9s   (%d runs, ms)\n", "", "min", "median", "max", runs);
    bool failed = false;
    for (Row& r : rows) {
        std::sort(r.ms.begin(), r.ms.end());
        failed = failed || r.ms.front() < 0;
        std::printf("%-50s %9.1f %9.1f %9.1f\n", r.what, r.ms.front(), r.ms[r.ms.size() / 2], r.ms.back());
    }
    return failed ? 1 : 0;
}
