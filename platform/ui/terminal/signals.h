#pragma once
// Ctrl+C, SIGTERM and SIGHUP in both console backends. The first Ctrl+C is reported to the GUI
// thread (the backend presses Escape, or says that the upload keeps Close disabled); a second
// within INTERRUPT_AGAIN_MS, SIGTERM and SIGHUP end the program: a thread of its own gives the
// screen back, runs the end hook (which names what the cut leaves behind) and then lets the
// signal's default action end the process, whatever the GUI thread is doing meanwhile.
#include <functional>

#include "platform/ui/model.h"

namespace ui::term {

inline constexpr int INTERRUPT_AGAIN_MS = 3000;

// sigaction with `handler` and nothing masked.
void installHandler(int sig, void (*handler)(int));

// `wake` (signal-safe) ends the GUI thread's current wait, so it sees the interrupt at once.
void installSignalHandlers(void (*wake)());
// True once for each first Ctrl+C.
bool takeInterrupt();

// What the program does before a signal ends it; `uploadRunning`: the wizard's Close was disabled.
// Runs on the ending thread, after the screen was given back. Null: nothing.
void setEndHook(std::function<void(int signal, bool uploadRunning)> hook);
// The backends tell, whenever they wait for input, whether `dialog`'s Close is disabled.
void noteWizardState(HWND dialog);
// The screen registers how it is given back.
void setScreenRestore(void (*restore)());

}  // namespace ui::term
