#pragma once
// The registry entries the simulated bridges' driver made, as the registry the system reads:
//     platform::setRegistry(sim::makeRegistry(bus));
// The entries are read afresh at every open below HKEY_LOCAL_MACHINE, so bridges added later
// are seen. The objects must outlive the registry.
#include <memory>

#include "platform/os/registry.h"
#include "sim/instrument.h"

namespace sim {

std::shared_ptr<platform::ValueRegistry> makeRegistry(Instrument& instrument);
std::shared_ptr<platform::ValueRegistry> makeRegistry(UsbBus& bus);

}  // namespace sim
