#pragma once
#include <string>

namespace platform {

// Moves `from` to `to` in one step, replacing a file `to` that exists (POSIX rename; on Windows
// MoveFileEx with MOVEFILE_REPLACE_EXISTING, since rename never replaces a file there). False
// when the move did not happen; `to` is then as it was.
bool replaceFile(const std::string& from, const std::string& to);

}  // namespace platform
