#pragma once
#include <string>

namespace platform {

// The user's temporary directory as the host reports it (GetTempPathA on Windows; TMPDIR, else
// "/tmp/", elsewhere). Whether it ends in a separator is up to the host: callers add one.
std::string tempPath();

// The separator the host's paths use ('\\' on Windows, '/' elsewhere).
char pathSeparator();

enum class NewFile { Created, Exists, Failed };
// Creates `path` as an empty file only if nothing of that name exists, in one step no other
// process can come between. Failed: `reason` says why, in the host's words.
NewFile createNewFile(const std::string& path, std::string& reason);

}  // namespace platform
