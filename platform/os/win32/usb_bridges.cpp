#include "platform/os/usb_bridges.h"

namespace platform {

std::vector<UsbBridge> listCp210xBridges() { return {}; }

}  // namespace platform
