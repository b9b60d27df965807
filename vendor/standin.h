#pragma once
// Our stand-in for the CP210x vendor library, written from the eight operations the program
// needs: list the bridges, name them by a device path, open one, read its ids and serial number,
// restart it. The bridges come from a backend: the host's own (SetupAPI on Windows, libudev and
// libusb on Linux) unless another is installed.
#include <cstdint>

#include "vendor/bridge_backend.h"

namespace vendor {

using Status = int32_t;
using Handle = void*;

constexpr Status SUCCESS = 0;
constexpr Status INVALID_HANDLE = 0x01;
constexpr Status INVALID_PARAMETER = 0x02;
constexpr Status DEVICE_IO_FAILED = 0x03;
constexpr Status DEVICE_NOT_FOUND = 0xFF;

// Product string forms.
constexpr uint8_t RETURN_SERIAL_NUMBER = 0, RETURN_DESCRIPTION = 1, RETURN_FULL_PATH = 2;
constexpr int PRODUCT_STRING_SIZE = 256;  // the callers' buffer, terminator included
constexpr int MAX_SERIAL_BYTES = 63;      // so the callers' 64-byte buffer keeps room for a NUL
constexpr const char* DESCRIPTION = "CP210x USB to UART Bridge";

Status getNumDevices(uint32_t* count);
Status getProductString(uint32_t index, void* buffer, uint8_t options);
// The handle keeps what the bridge told at opening; Reset and Close act on it.
Status open(uint32_t index, Handle* handle);
Status getDeviceVid(Handle handle, uint16_t* vid);
Status getDevicePid(Handle handle, uint16_t* pid);
// ASCII bytes when convertToAscii is non-zero, else UTF-16LE; never terminated.
Status getDeviceSerialNumber(Handle handle, void* buffer, uint8_t* length, int convertToAscii);
Status reset(Handle handle);
Status close(Handle handle);

// Installs a backend, which stays the caller's and must outlive its use; null goes back to the
// host's own. Returns SUCCESS.
Status setBackend(const KoralBridgeBackend* backend);
// The host's own backend.
const KoralBridgeBackend* hostBackend();

// The names the library exports, in the order of the functions above, and the extra one that
// installs a backend.
constexpr const char* EXPORT_NAMES[] = {
    "CP210x_GetNumDevices",         "CP210x_GetProductString", "CP210x_Open",
    "CP210x_GetDeviceVid",          "CP210x_GetDevicePid",     "CP210x_GetDeviceSerialNumber",
    "CP210x_Reset",                 "CP210x_Close",            "KoralVendor_SetBackend"};
constexpr const char* LIBRARY_NAME = "CP210xManufacturing.dll";

}  // namespace vendor
