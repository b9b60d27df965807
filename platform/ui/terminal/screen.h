#pragma once
// The terminal itself (ncurses, wide characters): puts a Canvas on the screen with a colour per
// Paint, waits for keys, mouse clicks, resizes and wake-ups from other threads, and gives the
// terminal back as it found it on every way out: a normal end, exit(), Ctrl+C, a crash.
#include <optional>

#include "platform/ui/terminal/canvas.h"
#include "platform/ui/terminal/input.h"

namespace ui::term {

class Screen {
public:
    // Takes over the terminal on standard input and output; one Screen per process.
    Screen();
    ~Screen();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    int cols() const;
    int rows() const;
    void show(const Canvas& canvas);
    void beep();

    // Waits up to `timeoutMs` (negative: no limit) for input; nullopt when the time ran out or
    // wake() was called.
    std::optional<InputEvent> wait(int timeoutMs);
    // Any thread, and signal handlers: ends the current or the next wait.
    static void wake();

    // The first Ctrl+C is reported as Key::Interrupt; a second soon after, SIGTERM and SIGHUP
    // end the program (signals.h).

    // Gives the terminal back now (idempotent); what the crash and exit paths call.
    static void restore();
};

// Standard input and output are a terminal that ncurses can drive.
bool terminalAvailable();

}  // namespace ui::term
