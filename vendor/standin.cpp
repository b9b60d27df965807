#include "vendor/standin.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace vendor {
namespace {

std::atomic<const KoralBridgeBackend*> g_installed{nullptr};

const KoralBridgeBackend& backend() {
    const KoralBridgeBackend* b = g_installed.load();
    return b ? *b : *hostBackend();
}

// A snapshot of the bus; a bridge may come or go between two calls of the backend, so the count
// is asked until the list holds everything.
std::vector<KoralBridge> presentBridges() {
    const KoralBridgeBackend& b = backend();
    std::vector<KoralBridge> bridges(4);
    for (;;) {
        uint32_t n = b.list(b.context, bridges.data(), uint32_t(bridges.size()));
        if (n <= bridges.size()) {
            bridges.resize(n);
            return bridges;
        }
        bridges.resize(n);
    }
}

constexpr uint32_t HANDLE_MAGIC = 0x43503231;  // "CP21"

struct OpenBridge {
    uint32_t magic = HANDLE_MAGIC;
    KoralBridge bridge;
};

OpenBridge* opened(Handle handle) {
    auto* open = static_cast<OpenBridge*>(handle);
    return open && open->magic == HANDLE_MAGIC ? open : nullptr;
}

void copyString(char* to, size_t size, const char* from) {
    size_t n = strnlen(from, size - 1);
    std::memcpy(to, from, n);
    to[n] = '\0';
}

}  // namespace

Status getNumDevices(uint32_t* count) {
    if (!count) return INVALID_PARAMETER;
    *count = uint32_t(presentBridges().size());
    return SUCCESS;
}

Status getProductString(uint32_t index, void* buffer, uint8_t options) {
    if (!buffer) return INVALID_PARAMETER;
    std::vector<KoralBridge> bridges = presentBridges();
    if (index >= bridges.size()) return DEVICE_NOT_FOUND;
    const KoralBridge& b = bridges[index];
    const char* text = options == RETURN_SERIAL_NUMBER ? b.serial
                       : options == RETURN_DESCRIPTION ? DESCRIPTION
                       : options == RETURN_FULL_PATH   ? b.path
                                                       : nullptr;
    if (!text) return INVALID_PARAMETER;
    copyString(static_cast<char*>(buffer), PRODUCT_STRING_SIZE, text);
    return SUCCESS;
}

Status open(uint32_t index, Handle* handle) {
    if (!handle) return INVALID_PARAMETER;
    *handle = nullptr;
    std::vector<KoralBridge> bridges = presentBridges();
    if (index >= bridges.size()) return DEVICE_NOT_FOUND;
    auto* open = new OpenBridge;
    open->bridge = bridges[index];
    *handle = open;
    return SUCCESS;
}

Status getDeviceVid(Handle handle, uint16_t* vid) {
    OpenBridge* open = opened(handle);
    if (!open) return INVALID_HANDLE;
    if (!vid) return INVALID_PARAMETER;
    *vid = open->bridge.vid;
    return SUCCESS;
}

Status getDevicePid(Handle handle, uint16_t* pid) {
    OpenBridge* open = opened(handle);
    if (!open) return INVALID_HANDLE;
    if (!pid) return INVALID_PARAMETER;
    *pid = open->bridge.pid;
    return SUCCESS;
}

Status getDeviceSerialNumber(Handle handle, void* buffer, uint8_t* length, int convertToAscii) {
    OpenBridge* open = opened(handle);
    if (!open) return INVALID_HANDLE;
    if (!buffer || !length) return INVALID_PARAMETER;
    const char* serial = open->bridge.serial;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t chars = strnlen(serial, sizeof open->bridge.serial);
    if (convertToAscii) {
        chars = chars < size_t(MAX_SERIAL_BYTES) ? chars : size_t(MAX_SERIAL_BYTES);
        for (size_t i = 0; i < chars; ++i) out[i] = uint8_t(serial[i]) < 0x80 ? uint8_t(serial[i]) : '?';
        *length = uint8_t(chars);
    } else {
        chars = chars < size_t(MAX_SERIAL_BYTES / 2) ? chars : size_t(MAX_SERIAL_BYTES / 2);
        for (size_t i = 0; i < chars; ++i) {
            out[2 * i] = uint8_t(serial[i]);
            out[2 * i + 1] = 0;
        }
        *length = uint8_t(2 * chars);
    }
    return SUCCESS;
}

Status reset(Handle handle) {
    OpenBridge* open = opened(handle);
    if (!open) return INVALID_HANDLE;
    const KoralBridgeBackend& b = backend();
    return b.reset(b.context, open->bridge.path) == 0 ? SUCCESS : DEVICE_IO_FAILED;
}

Status close(Handle handle) {
    OpenBridge* open = opened(handle);
    if (!open) return INVALID_HANDLE;
    open->magic = 0;
    delete open;
    return SUCCESS;
}

Status setBackend(const KoralBridgeBackend* backend) {
    g_installed.store(backend);
    return SUCCESS;
}

}  // namespace vendor
