#include "vendor/sim_bridges.h"

#include <algorithm>
#include <cstring>

#include "device/cp210x.h"
#include "device/export_lookup.h"

namespace vendor {
namespace {

void copyString(char* to, size_t size, const std::string& from) {
    size_t n = std::min(from.size(), size - 1);
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

uint32_t listBridges(void* context, KoralBridge* bridges, uint32_t capacity) {
    auto present = static_cast<sim::UsbBus*>(context)->presentBridges();
    for (uint32_t i = 0; i < present.size() && i < capacity; ++i) {
        KoralBridge& b = bridges[i];
        copyString(b.path, sizeof b.path, present[i]->bridgePath());
        copyString(b.serial, sizeof b.serial, present[i]->bridgeSerial());
        b.vid = present[i]->vid();
        b.pid = present[i]->pid();
    }
    return uint32_t(present.size());
}

int resetBridge(void* context, const char* path) {
    for (sim::Instrument* i : static_cast<sim::UsbBus*>(context)->presentBridges())
        if (i->bridgePath() == path) return i->resetBridge() ? 0 : 1;
    return 1;
}

}  // namespace

SimulatedBridges::SimulatedBridges(sim::UsbBus& bus) : bus_(bus), backend_{&bus_, &listBridges, &resetBridge} {}

bool installBackend(const KoralBridgeBackend* backend) {
    using SetBackend = int32_t(KORAL_WINAPI*)(const KoralBridgeBackend*);
    auto set = reinterpret_cast<SetBackend>(FindCallableExport(g_pVendorModule, "KoralVendor_SetBackend"));
    return set && set(backend) == 0;
}

}  // namespace vendor
