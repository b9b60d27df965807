// Real bridges through SetupAPI: the present CP210x USB devices, named by the path of their USB
// device interface (it carries the instance id, serial number included, so it differs between
// bridges and is the same again after a restart). A restart pulses the instrument's reset line
// through the bridge's COM port: a standard user may do that from a 32-bit process on 64-bit
// Windows, where a device restart through SetupAPI or the configuration manager is refused.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vendor/reset_pulse.h"
#include "vendor/standin.h"

namespace vendor {
namespace {

// GUID_DEVINTERFACE_USB_DEVICE
const GUID USB_DEVICE_INTERFACE = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// Whatever another program left in the port's settings, the lines are ours to switch.
bool pulseResetLine(HANDLE line) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(line, &dcb)) return false;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = dcb.fOutX = dcb.fInX = FALSE;
    if (!SetCommState(line, &dcb)) return false;
    for (const LineStep& step : RESET_PULSE) {
        if (!EscapeCommFunction(line, step.dtr ? SETDTR : CLRDTR) || !EscapeCommFunction(line, step.rts ? SETRTS : CLRRTS))
            return false;
        Sleep(step.thenWaitMs);
    }
    return true;
}

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
                  isCp210x(bridge.vid, bridge.pid) && std::strlen(detail->DevicePath) < sizeof bridge.path;
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

// "PortName" of a device instance ("COM5"), empty when it has none.
std::string portNameOf(DEVINST device) {
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDA(device, id, sizeof id, 0) != CR_SUCCESS) return {};
    std::string key = std::string("SYSTEM\\CurrentControlSet\\Enum\\") + id + "\\Device Parameters";
    HKEY hkey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS) return {};
    char value[64] = {};
    DWORD size = sizeof value - 1, type = 0;
    LONG status = RegQueryValueExA(hkey, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(hkey);
    return status == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : std::string();
}

// The bridge's own port, else that of its first interface (a dual bridge is a composite device).
std::string portOfBridge(DEVINST device) {
    std::string port = portNameOf(device);
    DEVINST child = 0;
    if (port.empty() && CM_Get_Child(&child, device, 0) == CR_SUCCESS) port = portNameOf(child);
    return port;
}

int restartBridge(void*, const char* path) {
    std::string port;
    forEachBridge([&](HDEVINFO, SP_DEVINFO_DATA& info, const KoralBridge& bridge) {
        if (_stricmp(bridge.path, path) != 0) return true;
        port = portOfBridge(info.DevInst);
        return false;
    });
    if (port.empty()) return 1;
    HANDLE line = CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (line == INVALID_HANDLE_VALUE) return 1;
    int result = pulseResetLine(line) ? 0 : 1;
    CloseHandle(line);
    return result;
}

}  // namespace

const KoralBridgeBackend* hostBackend() {
    static const KoralBridgeBackend setupApi{nullptr, &listBridges, &restartBridge};
    return &setupApi;
}

}  // namespace vendor
