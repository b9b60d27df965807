#include "vendor/link.h"

#include "device/export_lookup.h"
#include "vendor/standin.h"

namespace vendor {

void linkStandIn() {
    void* const functions[] = {
        reinterpret_cast<void*>(&getNumDevices), reinterpret_cast<void*>(&getProductString),
        reinterpret_cast<void*>(&open),          reinterpret_cast<void*>(&getDeviceVid),
        reinterpret_cast<void*>(&getDevicePid),  reinterpret_cast<void*>(&getDeviceSerialNumber),
        reinterpret_cast<void*>(&reset),         reinterpret_cast<void*>(&close),
        reinterpret_cast<void*>(&setBackend)};
    static_assert(std::size(functions) == std::size(EXPORT_NAMES));
    for (size_t i = 0; i < std::size(functions); ++i) RegisterLinkedFunction(EXPORT_NAMES[i], functions[i]);
}

}  // namespace vendor
