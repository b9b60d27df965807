// The stand-in as CP210xManufacturing.dll: the eight functions with the Windows API's calling
// convention, and KoralVendor_SetBackend, exported under their plain names by exports.def.
#include <windows.h>

#include "vendor/standin.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

vendor::Status WINAPI CP210x_GetNumDevices(uint32_t* count) {
    return vendor::getNumDevices(count);
}
vendor::Status WINAPI CP210x_GetProductString(uint32_t index, void* buffer, uint8_t options) {
    return vendor::getProductString(index, buffer, options);
}
vendor::Status WINAPI CP210x_Open(uint32_t index, vendor::Handle* handle) {
    return vendor::open(index, handle);
}
vendor::Status WINAPI CP210x_GetDeviceVid(vendor::Handle handle, uint16_t* vid) {
    return vendor::getDeviceVid(handle, vid);
}
vendor::Status WINAPI CP210x_GetDevicePid(vendor::Handle handle, uint16_t* pid) {
    return vendor::getDevicePid(handle, pid);
}
vendor::Status WINAPI CP210x_GetDeviceSerialNumber(vendor::Handle handle, void* buffer,
                                                                         uint8_t* length, int convertToAscii) {
    return vendor::getDeviceSerialNumber(handle, buffer, length, convertToAscii);
}
vendor::Status WINAPI CP210x_Reset(vendor::Handle handle) { return vendor::reset(handle); }
vendor::Status WINAPI CP210x_Close(vendor::Handle handle) { return vendor::close(handle); }
vendor::Status WINAPI KoralVendor_SetBackend(const KoralBridgeBackend* backend) {
    return vendor::setBackend(backend);
}

}  // extern "C"
