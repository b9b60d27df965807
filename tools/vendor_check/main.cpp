// koral_vendor_check: loads the program's embedded vendor library (resource DLL/6) with the
// in-memory loader, which runs its entry point on Windows, and drives the eight CP210x functions
// against two simulated bridges: list, paths, open, ids, serial number, reset and the return
// of the bridge under the same path. Windows CI runs it under Wine. Exit status 0 when all hold.
#include <cstdio>
#include <cstring>
#include <string>

#include "device/cp210x.h"
#include "device/module_loader.h"
#include "platform/os/clock.h"
#include "platform/os/resources.h"
#include "sim/instrument.h"
#include "vendor/sim_bridges.h"
#ifndef _WIN32
#include "vendor/link.h"
#endif

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

std::string path(uint32_t index) {
    char buffer[CP210x_PRODUCT_STRING_SIZE] = {};
    return CP210x_GetProductString(index, buffer, CP210x_RETURN_DEVICE_PATH) == 0 ? buffer : "";
}

uint32_t count() {
    uint32_t n = 0;
    return CP210x_GetNumDevices(&n) == 0 ? n : 0xFFFFFFFF;
}

}  // namespace

int main() {
#ifndef _WIN32
    vendor::linkStandIn();
#endif
    const platform::Resource dll = platform::findResource("DLL", 6);
    g_pVendorModule = LoadModuleFromMemory(dll.data, dll.size);
    check(g_pVendorModule != nullptr, "the embedded vendor library loads from memory");
    if (!g_pVendorModule) return 1;

    platform::VirtualClock clock;
    platform::ScopedClock scoped(clock);
    sim::InstrumentConfig a, b;
    a.bridgeSerial = "0001";
    b.bridgeSerial = "KOR 42 A";
    sim::Instrument first(a), second(b);
    sim::UsbBus bus;
    bus.add(first);
    bus.add(second);
    vendor::SimulatedBridges bridges(bus);
    check(vendor::installBackend(bridges.backend()), "KoralVendor_SetBackend takes the simulated bus");

    check(count() == 2, "CP210x_GetNumDevices counts two bridges");
    check(path(0) == first.bridgePath() && path(1) == second.bridgePath() && path(0) != path(1),
          "CP210x_GetProductString gives each bridge's own path");

    CP210x_HANDLE h = nullptr;
    check(CP210x_Open(1, &h) == 0 && h, "CP210x_Open opens the second bridge");
    uint16_t vid = 0, pid = 0;
    check(CP210x_GetDeviceVid(h, &vid) == 0 && vid == 0x10C4, "CP210x_GetDeviceVid is 0x10C4");
    check(CP210x_GetDevicePid(h, &pid) == 0 && pid == 0xEA60, "CP210x_GetDevicePid is 0xEA60");
    uint8_t serial[CP210x_SERIAL_BUFFER_SIZE] = {};
    uint8_t length = 0;
    check(CP210x_GetDeviceSerialNumber(h, serial, &length, 1) == 0 && length == 8 &&
              std::memcmp(serial, "KOR 42 A", 8) == 0,
          "CP210x_GetDeviceSerialNumber gives the serial number with its blanks");
    const std::string before = path(1);
    check(CP210x_Reset(h) == 0, "CP210x_Reset restarts the bridge");
    check(CP210x_Close(h) == 0, "CP210x_Close");
    check(count() == 1, "the restarted bridge is off the bus");
    clock.advanceMs(a.bridgeResetMs + 100);
    check(count() == 2 && path(1) == before, "it comes back under the same path");
    check(CP210x_Open(5, &h) != 0, "CP210x_Open refuses an index past the list");

    check(vendor::installBackend(nullptr), "the library's own backend comes back");
    uint32_t n = 0;
    check(CP210x_GetNumDevices(&n) == 0, "the library's own backend lists the host's bridges");
    FreeLoadedModule(g_pVendorModule);
    g_pVendorModule = nullptr;
    check(count() == 0xFFFFFFFF, "without the library the functions answer a status, no call");
    std::printf("%s\n", failures ? "FAILED" : "PASSED");
    return failures ? 1 : 0;
}
