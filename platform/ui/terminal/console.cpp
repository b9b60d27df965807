#include "platform/ui/terminal/console.h"

#include <unistd.h>

#include <cstdio>

#include "platform/ui/terminal/line_backend.h"
#include "platform/ui/terminal/signals.h"
#include "platform/ui/terminal/terminal_backend.h"

namespace ui::term {

std::unique_ptr<Backend> makeConsoleBackend(bool plain, bool answersFromInput) {
    if (!plain && terminalAvailable()) return std::make_unique<TerminalBackend>();  // the screen installs them
    installSignalHandlers(nullptr);  // line mode polls often enough to see a Ctrl+C without a wake
    return std::make_unique<LineBackend>(stdout, STDIN_FILENO, answersFromInput);
}

}  // namespace ui::term
