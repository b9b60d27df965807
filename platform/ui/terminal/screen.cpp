#include "platform/ui/terminal/screen.h"

#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <ncursesw/ncurses.h>

#include "platform/ui/terminal/signals.h"

namespace ui::term {
namespace {

std::atomic<bool> g_active{false};
bool g_ascii = false;
// While the screen is up, whatever the program prints to standard output or error goes to a
// temporary file instead of over the screen; restore() hands it to standard error afterwards.
int g_savedOut = -1, g_savedErr = -1, g_capture = -1;
SCREEN* g_screen = nullptr;
// Held while the screen is drawn and while the ending thread gives it back, so that nothing is
// drawn after that.
std::mutex g_drawLock;
int g_wake[2] = {-1, -1};

long long monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void drainWake() {
    char buf[64];
    while (read(g_wake[0], buf, sizeof buf) > 0) {
    }
}

void reraise(int sig) {
    Screen::restore();
    signal(sig, SIG_DFL);
    raise(sig);
}

void restoreFromThread() {
    std::lock_guard lock(g_drawLock);
    Screen::restore();
}

void onFatal(int sig) { reraise(sig); }

struct Colours {
    int fg, bg;
    attr_t attr;
};

// One colour pair per Paint, numbered Paint + 1.
Colours colours(Paint p, bool grey) {
    switch (p) {
    case Paint::Screen: return {COLOR_WHITE, COLOR_BLUE, A_NORMAL};
    case Paint::Window: return {COLOR_BLACK, COLOR_WHITE, A_NORMAL};
    case Paint::Border: return {COLOR_BLACK, COLOR_WHITE, A_NORMAL};
    case Paint::Caption: return {COLOR_WHITE, COLOR_BLUE, A_BOLD};
    case Paint::Title: return {COLOR_BLACK, COLOR_WHITE, A_BOLD};
    case Paint::Disabled: return {grey ? 8 : COLOR_BLACK, COLOR_WHITE, grey ? A_NORMAL : A_DIM};
    case Paint::Panel: return {COLOR_WHITE, COLOR_BLUE, A_NORMAL};
    case Paint::PanelText: return {COLOR_YELLOW, COLOR_BLUE, A_BOLD};
    case Paint::Button: return {COLOR_BLACK, COLOR_WHITE, A_NORMAL};
    case Paint::DefaultButton: return {COLOR_BLACK, COLOR_WHITE, A_BOLD};
    case Paint::Focus: return {COLOR_WHITE, COLOR_BLUE, A_BOLD};
    case Paint::Field: return {COLOR_BLACK, COLOR_WHITE, A_NORMAL};
    case Paint::Bar: return {COLOR_BLUE, COLOR_WHITE, A_NORMAL};
    case Paint::Done: return {COLOR_GREEN, COLOR_WHITE, A_BOLD};
    case Paint::Failed: return {COLOR_RED, COLOR_WHITE, A_BOLD};
    case Paint::Unsure: return {COLOR_BLUE, COLOR_WHITE, A_BOLD};
    case Paint::Busy: return {COLOR_BLUE, COLOR_WHITE, A_BOLD};
    case Paint::Warning: return {COLOR_BLACK, COLOR_YELLOW, A_BOLD};
    case Paint::Hint: return {COLOR_WHITE, COLOR_BLUE, A_NORMAL};
    case Paint::Count: break;
    }
    return {COLOR_WHITE, COLOR_BLACK, A_NORMAL};
}

attr_t g_attr[size_t(Paint::Count)] = {};

std::optional<InputEvent> decode(int kind, wint_t c) {
    InputEvent e;
    if (kind == KEY_CODE_YES) {
        switch (c) {
        case KEY_BTAB: e.key = Key::BackTab; return e;
        case KEY_ENTER: e.key = Key::Enter; return e;
        case KEY_BACKSPACE: e.key = Key::Backspace; return e;
        case KEY_DC: e.key = Key::Delete; return e;
        case KEY_UP: e.key = Key::Up; return e;
        case KEY_DOWN: e.key = Key::Down; return e;
        case KEY_LEFT: e.key = Key::Left; return e;
        case KEY_RIGHT: e.key = Key::Right; return e;
        case KEY_PPAGE: e.key = Key::PageUp; return e;
        case KEY_NPAGE: e.key = Key::PageDown; return e;
        case KEY_HOME: e.key = Key::Home; return e;
        case KEY_END: e.key = Key::End; return e;
        case KEY_RESIZE: e.key = Key::Resize; return e;
        case KEY_MOUSE: {
            MEVENT m{};
            if (getmouse(&m) != OK) return std::nullopt;
            if (!(m.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED))) return std::nullopt;
            e.key = Key::Click;
            e.col = m.x;
            e.row = m.y;
            return e;
        }
        default: return std::nullopt;
        }
    }
    switch (c) {
    case L'\t': e.key = Key::Tab; return e;
    case L'\n':
    case L'\r': e.key = Key::Enter; return e;
    case 27: e.key = Key::Escape; return e;
    case L' ': e.key = Key::Space; return e;
    case 8:
    case 127: e.key = Key::Backspace; return e;
    default: break;
    }
    if (c < 0x20) return std::nullopt;
    e.key = Key::Char;
    e.ch = wchar_t(c);
    return e;
}

}  // namespace

bool terminalAvailable() {
    const char* term = std::getenv("TERM");
    return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && term && *term && std::strcmp(term, "dumb") != 0;
}

Screen::Screen() {
    std::setlocale(LC_ALL, "");
    // A terminal set up for another code set cannot show UTF-8: draw in ASCII there.
    g_ascii = std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0;
    if (g_wake[0] < 0 && pipe(g_wake) == 0) {
        for (int fd : g_wake) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    set_escdelay(25);
    std::fflush(stdout);
    std::fflush(stderr);
    g_savedOut = dup(STDOUT_FILENO);
    g_savedErr = dup(STDERR_FILENO);
    std::FILE* tty = fdopen(dup(STDOUT_FILENO), "w");
    g_screen = newterm(nullptr, tty, stdin);
    // Standard output is the engine's console text (a warning line the windowed program never
    // shows either): it goes nowhere. Standard error waits in a file for the screen to close.
    int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) {
        dup2(devNull, STDOUT_FILENO);
        close(devNull);
    }
    if (std::FILE* capture = std::tmpfile()) {
        g_capture = dup(fileno(capture));
        std::fclose(capture);
        dup2(g_capture, STDERR_FILENO);
    }
    g_active = true;
    std::atexit(restore);
    setScreenRestore(restoreFromThread);
    installSignalHandlers(Screen::wake);
    for (int sig : {SIGQUIT, SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL}) installHandler(sig, onFatal);
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    curs_set(0);
    mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr);
    mouseinterval(0);
    bool colour = has_colors();
    if (colour) {
        start_color();
        bool grey = COLORS >= 16;
        for (int p = 0; p < int(Paint::Count); ++p) {
            Colours c = colours(Paint(p), grey);
            init_pair(short(p + 1), short(c.fg), short(c.bg));
            g_attr[p] = c.attr | COLOR_PAIR(p + 1);
        }
    } else {
        for (int p = 0; p < int(Paint::Count); ++p) g_attr[p] = colours(Paint(p), false).attr;
        g_attr[int(Paint::Focus)] = A_REVERSE;
        g_attr[int(Paint::Bar)] = A_REVERSE;
    }
}

Screen::~Screen() { restore(); }

void Screen::restore() {
    if (!g_active.exchange(false)) return;
    endwin();
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(g_savedOut, STDOUT_FILENO);
    dup2(g_savedErr, STDERR_FILENO);
    if (g_capture >= 0) {
        // Only read and write here: this also runs in signal handlers.
        char buf[4096];
        ssize_t n;
        lseek(g_capture, 0, SEEK_SET);
        while ((n = read(g_capture, buf, sizeof buf)) > 0) {
            [[maybe_unused]] ssize_t w = write(STDERR_FILENO, buf, size_t(n));
        }
        close(g_capture);
        g_capture = -1;
    }
}

int Screen::cols() const { return COLS; }
int Screen::rows() const { return LINES; }

void Screen::show(const Canvas& canvas) {
    std::lock_guard lock(g_drawLock);
    if (!g_active) return;
    for (int y = 0; y < canvas.rows() && y < LINES; ++y) {
        for (int x = 0; x < canvas.cols() && x < COLS; ++x) {
            const Cell& cell = canvas.at(x, y);
            wchar_t text[2] = {g_ascii ? asciiFor(cell.ch) : cell.ch, 0};
            cchar_t cc{};
            attr_t attr = g_attr[size_t(cell.paint)];
            setcchar(&cc, text, attr & ~A_COLOR, short(PAIR_NUMBER(attr)), nullptr);
            mvadd_wch(y, x, &cc);
        }
    }
    refresh();
}

void Screen::beep() { ::beep(); }

void Screen::wake() {
    if (g_wake[1] >= 0) {
        char b = 1;
        [[maybe_unused]] ssize_t n = write(g_wake[1], &b, 1);
    }
}

std::optional<InputEvent> Screen::wait(int timeoutMs) {
    long long until = timeoutMs < 0 ? -1 : monotonicMs() + timeoutMs;
    while (true) {
        if (takeInterrupt()) {
            drainWake();
            return InputEvent{Key::Interrupt};
        }
        wint_t c = 0;
        int kind = ERR;
        bool active = true;
        {
            // get_wch refreshes the screen: never after the ending thread gave the terminal back.
            std::lock_guard lock(g_drawLock);
            active = g_active;
            if (active) kind = get_wch(&c);
        }
        if (!active) {
            poll(nullptr, 0, 50);  // the process is ending
            return std::nullopt;
        }
        if (kind != ERR) {
            if (std::optional<InputEvent> e = decode(kind, c)) return e;
            continue;
        }
        int left = until < 0 ? -1 : int(std::max(0LL, until - monotonicMs()));
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
        int n = poll(fds, 2, left);
        if (n == 0) return std::nullopt;
        if (n > 0 && (fds[1].revents & POLLIN)) {
            drainWake();
            if (takeInterrupt()) return InputEvent{Key::Interrupt};
            return std::nullopt;
        }
        // Input, or a signal (a resize): the next get_wch tells.
    }
}

}  // namespace ui::term
