#pragma once
// The backend the Linux program draws with: the terminal when standard input and output are one
// (and --plain was not asked for), else line mode on standard output.
#include <memory>

#include "platform/ui/backend.h"

namespace ui::term {

// `answersFromInput`: line mode reads the operator's answers and clicks from standard input.
std::unique_ptr<Backend> makeConsoleBackend(bool plain, bool answersFromInput);

}  // namespace ui::term
