#include "vendor/simulated.h"

#include "device/cp210x.h"
#include "device/module_loader.h"
#include "vendor/export_image.h"
#include "vendor/link.h"

namespace vendor {

SimulatedVendor::SimulatedVendor(sim::UsbBus& bus) : bridges_(bus), previous_(g_pVendorModule) {
    linkStandIn();
#ifndef _WIN32
    if (!g_pVendorModule) {
        const std::vector<uint8_t> image = standInExportImage();
        loaded_ = LoadModuleFromMemory(image.data(), image.size());
        g_pVendorModule = loaded_;
    }
#endif
    installed_ = installBackend(bridges_.backend());
}

SimulatedVendor::~SimulatedVendor() {
    if (installed_) installBackend(nullptr);
    if (loaded_) {
        FreeLoadedModule(loaded_);
        g_pVendorModule = previous_;
    }
}

}  // namespace vendor
