#include "platform/os/registry.h"
#include "platform/os/usb_bridges.h"

namespace platform {

std::shared_ptr<Registry> hostRegistry() {
    static const std::shared_ptr<Registry> view =
        std::make_shared<ValueRegistry>([] { return bridgeRegistryValues(listCp210xBridges()); });
    return view;
}

}  // namespace platform
