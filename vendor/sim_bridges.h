#pragma once
// The simulated bus as the stand-in vendor library's backend, and the way to hand a backend to
// the library in g_pVendorModule (its extra export KoralVendor_SetBackend).
#include "sim/instrument.h"
#include "vendor/bridge_backend.h"

namespace vendor {

// The bus as a stand-in backend: device indices in the order of UsbBus::presentBridges().
class SimulatedBridges {
public:
    explicit SimulatedBridges(sim::UsbBus& bus);
    SimulatedBridges(const SimulatedBridges&) = delete;
    SimulatedBridges& operator=(const SimulatedBridges&) = delete;
    const KoralBridgeBackend* backend() const { return &backend_; }

private:
    sim::UsbBus& bus_;
    KoralBridgeBackend backend_;
};

// Hands the library in g_pVendorModule a backend (null: its own); false when it has no
// KoralVendor_SetBackend export or refuses.
bool installBackend(const KoralBridgeBackend* backend);

}  // namespace vendor
