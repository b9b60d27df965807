#include "platform/os/serial.h"

namespace platform {

// Host ports arrive with the serial line layer; until then nothing opens.
std::unique_ptr<SerialLine> openHostSerialLine(const std::string&) { return nullptr; }

}  // namespace platform
