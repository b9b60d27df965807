#include <windows.h>

#include "platform/os/windows_version.h"

namespace platform {

uint32_t hostVersion() { return GetVersion(); }

}  // namespace platform
