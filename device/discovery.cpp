#include "device/discovery.h"

#include <climits>
#include <cstring>

#include "device/cp210x.h"
#include "platform/os/registry.h"

using namespace platform;

namespace {

// The value buffer: 100 bytes offered to the registry and one more, so that a value read without
// its own terminator can still be ended.
constexpr uint32_t VALUE_OFFERED = 100;
using ValueBuffer = char[VALUE_OFFERED + 1];

// Reads the string value `name` of `key` into `value`, offering `size` bytes (never more than the
// buffer holds) and leaving in `size` what the registry answered.
long readValue(RegKey key, const char* name, ValueBuffer& value, uint32_t& size) {
    if (size > VALUE_OFFERED) size = VALUE_OFFERED;
    long result = regQueryValueEx(key, name, nullptr, nullptr, reinterpret_cast<uint8_t*>(value), &size);
    if (result == regError::SUCCESS) value[size <= VALUE_OFFERED ? size : VALUE_OFFERED] = 0;
    return result;
}

// "COM12" gives 12: the first three characters become '0' and the leading digits are read; the
// prefix is not examined. A number beyond int gives -1.
int portNumber(ValueBuffer& value) {
    for (int i = 0; i < 3 && value[i]; ++i) value[i] = '0';
    long long number = 0;
    for (const char* p = value; *p >= '0' && *p <= '9'; ++p) {
        number = number * 10 + (*p - '0');
        if (number > INT_MAX) return -1;
    }
    return int(number);
}

}  // namespace

BOOL GetDeviceList(DeviceList& list) {
    list.clear();
    uint32_t count = 0;
    if (CP210x_GetNumDevices(&count) != 0) return FALSE;
    for (uint32_t k = 0; k < count; ++k) {
        char path[CP210x_PRODUCT_STRING_SIZE];
        if (CP210x_GetProductString(k, path, CP210x_RETURN_DEVICE_PATH) != 0) return FALSE;
        list.emplace_back(path, strnlen(path, sizeof path));
    }
    return TRUE;
}

int GetPortFromUsbEnum(uint16_t vid, uint16_t pid, char* serial) {
    for (char* p = serial; *p; ++p)
        if (*p == ' ') *p = '_';

    RegKey system = nullptr, usb = nullptr;
    if (regOpenKeyEx(regKey::LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\", 0, regAccess::READ, &system) !=
        regError::SUCCESS)
        return -1;
    if (regOpenKey(system, "Enum\\USB\\", &usb) != regError::SUCCESS) {
        regCloseKey(system);
        return -1;
    }

    int port = -1;
    CString name;
    name.Format("Vid_%04x&Pid_%04x&Mi_00\\%s_00\\Device Parameters\\", vid, pid, serial);
    RegKey device = nullptr;
    long opened = regOpenKeyEx(usb, name.c_str(), 0, regAccess::READ, &device);
    if (opened != regError::SUCCESS) {
        name.Format("Vid_%04x&Pid_%04x\\%s\\Device Parameters\\", vid, pid, serial);
        opened = regOpenKeyEx(usb, name.c_str(), 0, regAccess::READ, &device);
    }
    if (opened == regError::SUCCESS) {
        ValueBuffer value;
        uint32_t size = VALUE_OFFERED;
        if (readValue(device, "PortName", value, size) == regError::SUCCESS) port = portNumber(value);
        regCloseKey(device);
    }
    regCloseKey(usb);
    regCloseKey(system);
    return port;
}

int GetPortFromSlabcrEnum(uint16_t vid, uint16_t pid, char* serial) {
    for (char* p = serial; *p; ++p) {
        if (*p == ' ')
            *p = '_';
        else if (*p >= 'a' && *p <= 'z')
            *p = char(*p - 'a' + 'A');
    }
    CString wanted;
    wanted.Format("USB\\VID_%04X&PID_%04X&MI_00\\%s_00", vid, pid, serial);

    int port = -1;
    uint32_t size = VALUE_OFFERED;  // one byte count for every query of the lookup
    for (int n = 0;;) {
        CString name;
        name.Format("Enum\\SLABCR\\guid\\%.4d", n);
        RegKey key = nullptr;
        if (regOpenKey(regKey::LOCAL_MACHINE, name.c_str(), &key) != regError::SUCCESS) break;
        ValueBuffer value;
        uint32_t offered = size > VALUE_OFFERED ? VALUE_OFFERED : size;
        long result = readValue(key, "CRLowerDeviceID", value, size);
        if (result == regError::MORE_DATA && size > offered && size <= VALUE_OFFERED) {
            // The count now holds the size needed: read this key again with it.
            regCloseKey(key);
            continue;
        }
        // A value longer than the buffer is not read at all.
        if (result == regError::SUCCESS && wanted == value) {
            ValueBuffer portName;
            if (readValue(key, "Portname", portName, size) == regError::SUCCESS) port = portNumber(portName);
        }
        regCloseKey(key);
        ++n;
    }
    return port;
}
