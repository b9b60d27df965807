#include "platform/os/windows_version.h"

namespace platform {

uint32_t hostVersion() { return VERSION_WINDOWS_NT_6_2; }

}  // namespace platform
