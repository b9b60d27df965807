// Real bridges through SetupAPI: the present USB devices of vendor 0x10C4, named by the path of
// their USB device interface (it carries the instance id, serial number included, so it differs
// between bridges and is the same again after a restart), restarted by a property-change
// restart of the device, which takes it off the bus and brings it back.
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vendor/standin.h"

namespace vendor {
namespace {

// GUID_DEVINTERFACE_USB_DEVICE
const GUID USB_DEVICE_INTERFACE = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
constexpr uint16_t SILABS_VID = 0x10C4;

// "USB\VID_10C4&PID_EA60\0001" -> vid, pid, serial.
bool parseInstanceId(const std::string& id, KoralBridge& bridge) {
    unsigned vid = 0, pid = 0;
    if (std::sscanf(id.c_str(), "USB\\VID_%4x&PID_%4x", &vid, &pid) != 2) return false;
    size_t last = id.rfind('\\');
    if (last == std::string::npos || last < 4) return false;
    bridge.vid = uint16_t(vid);
    bridge.pid = uint16_t(pid);
    std::snprintf(bridge.serial, sizeof bridge.serial, "%s", id.c_str() + last + 1);
    return true;
}

// Calls `visit(set, info, bridge)` for every present CP210x-family device; stops when it
// returns false.
template <class Visit>
void forEachBridge(Visit visit) {
    HDEVINFO set = SetupDiGetClassDevsA(&USB_DEVICE_INTERFACE, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &USB_DEVICE_INTERFACE, i, &iface); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, size));
        if (!detail) break;
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        char id[512] = {};
        KoralBridge bridge{};
        bool ok = SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, size, nullptr, &info) &&
                  SetupDiGetDeviceInstanceIdA(set, &info, id, sizeof id, nullptr) && parseInstanceId(id, bridge) &&
                  bridge.vid == SILABS_VID && std::strlen(detail->DevicePath) < sizeof bridge.path;
        if (ok) std::snprintf(bridge.path, sizeof bridge.path, "%s", detail->DevicePath);
        std::free(detail);
        if (ok && !visit(set, info, bridge)) break;
    }
    SetupDiDestroyDeviceInfoList(set);
}

uint32_t listBridges(void*, KoralBridge* bridges, uint32_t capacity) {
    uint32_t n = 0;
    forEachBridge([&](HDEVINFO, SP_DEVINFO_DATA&, const KoralBridge& bridge) {
        if (n < capacity) bridges[n] = bridge;
        ++n;
        return true;
    });
    return n;
}

int restartBridge(void*, const char* path) {
    int result = 1;
    forEachBridge([&](HDEVINFO set, SP_DEVINFO_DATA& info, const KoralBridge& bridge) {
        if (_stricmp(bridge.path, path) != 0) return true;
        SP_PROPCHANGE_PARAMS params{};
        params.ClassInstallHeader.cbSize = sizeof params.ClassInstallHeader;
        params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
        params.StateChange = DICS_PROPCHANGE;
        params.Scope = DICS_FLAG_CONFIGSPECIFIC;
        if (SetupDiSetClassInstallParamsA(set, &info, &params.ClassInstallHeader, sizeof params) &&
            SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &info))
            result = 0;
        return false;
    });
    return result;
}

}  // namespace

const KoralBridgeBackend* hostBackend() {
    static const KoralBridgeBackend setupApi{nullptr, &listBridges, &restartBridge};
    return &setupApi;
}

}  // namespace vendor
