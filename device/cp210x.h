#pragma once
// The CP210x bridge through the vendor library loaded at start-up: eight forwarding functions,
// each finding its function by export name in g_pVendorModule at every call and returning the
// library's status unchanged (0 is success). A missing export answers CP210x_NO_EXPORT instead
// of calling through null.
#include <cstdint>

struct LoadedModule;

// The vendor library, from start-up to shutdown.
extern LoadedModule* g_pVendorModule;

using CP210x_STATUS = int32_t;
using CP210x_HANDLE = void*;

// Our own status for an export the loaded library does not have (the library's own are small).
constexpr CP210x_STATUS CP210x_NO_EXPORT = 0x7FFF;

// The product string forms; the device path is the one the system uses.
constexpr uint8_t CP210x_RETURN_DEVICE_PATH = 2;
constexpr int CP210x_PRODUCT_STRING_SIZE = 256;  // the callers' buffer
constexpr int CP210x_SERIAL_BUFFER_SIZE = 64;    // the callers' buffer: up to 63 bytes and a NUL

CP210x_STATUS CP210x_GetNumDevices(uint32_t* lpdwNumDevices);
CP210x_STATUS CP210x_GetProductString(uint32_t dwDeviceIndex, void* lpvProduct, uint8_t bOptions);
CP210x_STATUS CP210x_Open(uint32_t dwDeviceIndex, CP210x_HANDLE* pHandle);
CP210x_STATUS CP210x_GetDeviceVid(CP210x_HANDLE handle, uint16_t* lpwVid);
CP210x_STATUS CP210x_GetDevicePid(CP210x_HANDLE handle, uint16_t* lpwPid);
// Writes the serial (not terminated) and its length; bConvertToASCII 1 gives ASCII bytes.
CP210x_STATUS CP210x_GetDeviceSerialNumber(CP210x_HANDLE handle, void* lpSerialNumber, uint8_t* lpbLength,
                                           int bConvertToASCII);
CP210x_STATUS CP210x_Reset(CP210x_HANDLE handle);
CP210x_STATUS CP210x_Close(CP210x_HANDLE handle);
