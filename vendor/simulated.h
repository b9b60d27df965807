#pragma once
// The simulated bus behind the CP210x functions (device/cp210x.h).
//
// Test hook: a vendor::SimulatedVendor object puts the stand-in vendor library, with the given
// sim::UsbBus as its bridges, behind CP210x_GetNumDevices ... CP210x_Close for its lifetime:
//
//     sim::Instrument instrument;            // or several, each with its own bridgeSerial
//     sim::UsbBus bus;
//     bus.add(instrument);
//     vendor::SimulatedVendor vendor(bus);   // link koral_vendor_sim
//     CP210x_GetNumDevices(&n);              // the bus's present bridges, in bus order
//
// When g_pVendorModule is empty it loads the stand-in's image into it (Linux) and restores it
// afterwards; when a vendor library is already loaded (the program under SIMULATE) it only hands
// that library the bus through its extra export KoralVendor_SetBackend, and takes it back at the
// end. Device path = Instrument::bridgePath() (differs per serial, survives a reset); a reset
// is Instrument::resetBridge(), so the bridge leaves the list for bridgeResetMs of clock time.
#include "sim/instrument.h"
#include "vendor/sim_bridges.h"

struct LoadedModule;

namespace vendor {

class SimulatedVendor {
public:
    explicit SimulatedVendor(sim::UsbBus& bus);
    ~SimulatedVendor();
    SimulatedVendor(const SimulatedVendor&) = delete;
    SimulatedVendor& operator=(const SimulatedVendor&) = delete;
    bool installed() const { return installed_; }

private:
    SimulatedBridges bridges_;
    LoadedModule* previous_ = nullptr;
    LoadedModule* loaded_ = nullptr;
    bool installed_ = false;
};

}  // namespace vendor
