#include "device/cp210x.h"

#include "device/export_lookup.h"

LoadedModule* g_pVendorModule = nullptr;

namespace {

template <typename... Args>
CP210x_STATUS forward(const char* name, Args... args) {
    using Function = CP210x_STATUS(KORAL_WINAPI*)(Args...);
    auto function = reinterpret_cast<Function>(FindCallableExport(g_pVendorModule, name));
    return function ? function(args...) : CP210x_NO_EXPORT;
}

}  // namespace

CP210x_STATUS CP210x_GetNumDevices(uint32_t* lpdwNumDevices) {
    return forward("CP210x_GetNumDevices", lpdwNumDevices);
}

CP210x_STATUS CP210x_GetProductString(uint32_t dwDeviceIndex, void* lpvProduct, uint8_t bOptions) {
    return forward("CP210x_GetProductString", dwDeviceIndex, lpvProduct, bOptions);
}

CP210x_STATUS CP210x_Open(uint32_t dwDeviceIndex, CP210x_HANDLE* pHandle) {
    return forward("CP210x_Open", dwDeviceIndex, pHandle);
}

CP210x_STATUS CP210x_GetDeviceVid(CP210x_HANDLE handle, uint16_t* lpwVid) {
    return forward("CP210x_GetDeviceVid", handle, lpwVid);
}

CP210x_STATUS CP210x_GetDevicePid(CP210x_HANDLE handle, uint16_t* lpwPid) {
    return forward("CP210x_GetDevicePid", handle, lpwPid);
}

CP210x_STATUS CP210x_GetDeviceSerialNumber(CP210x_HANDLE handle, void* lpSerialNumber, uint8_t* lpbLength,
                                           int bConvertToASCII) {
    return forward("CP210x_GetDeviceSerialNumber", handle, lpSerialNumber, lpbLength, bConvertToASCII);
}

CP210x_STATUS CP210x_Reset(CP210x_HANDLE handle) { return forward("CP210x_Reset", handle); }

CP210x_STATUS CP210x_Close(CP210x_HANDLE handle) { return forward("CP210x_Close", handle); }
