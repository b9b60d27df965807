#include <cstdlib>

#include "platform/os/tempdir.h"

namespace platform {

std::string tempPath() {
    const char* dir = std::getenv("TMPDIR");
    if (dir && *dir) return dir;
    return "/tmp/";
}

char pathSeparator() { return '/'; }

}  // namespace platform
