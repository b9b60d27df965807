#pragma once
#include <string>

namespace platform {

// The user's temporary directory as the host reports it (GetTempPathA on Windows; TMPDIR, else
// "/tmp/", elsewhere). Whether it ends in a separator is up to the host: callers add one.
std::string tempPath();

// The separator the host's paths use ('\\' on Windows, '/' elsewhere).
char pathSeparator();

}  // namespace platform
