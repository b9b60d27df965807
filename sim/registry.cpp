#include "sim/registry.h"

namespace sim {
namespace {

std::vector<platform::RegistryValue> toValues(const std::vector<RegistryEntry>& entries) {
    std::vector<platform::RegistryValue> values;
    for (const RegistryEntry& e : entries) values.push_back({e.key, e.name, e.value});
    return values;
}

}  // namespace

std::shared_ptr<platform::ValueRegistry> makeRegistry(Instrument& instrument) {
    return std::make_shared<platform::ValueRegistry>([&instrument] { return toValues(instrument.registryEntries()); });
}

std::shared_ptr<platform::ValueRegistry> makeRegistry(UsbBus& bus) {
    return std::make_shared<platform::ValueRegistry>([&bus] { return toValues(bus.registryEntries()); });
}

}  // namespace sim
