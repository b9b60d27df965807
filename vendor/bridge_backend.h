#pragma once
// What the stand-in vendor library asks of the world: which bridges are present, and a restart
// of one. Plain C, because a backend may be handed across a DLL boundary (the program gives the
// Windows DLL its simulated bridges through the extra export KoralVendor_SetBackend).
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { KORAL_BRIDGE_PATH_SIZE = 256, KORAL_BRIDGE_SERIAL_SIZE = 128 };

typedef struct KoralBridge {
    char path[KORAL_BRIDGE_PATH_SIZE];     // differs between bridges, survives a reset
    char serial[KORAL_BRIDGE_SERIAL_SIZE]; // USB serial number, ASCII
    uint16_t vid, pid;
} KoralBridge;

typedef struct KoralBridgeBackend {
    void* context;
    // Fills up to `capacity` entries in device-index order; returns how many bridges are present
    // (possibly more than `capacity`).
    uint32_t (*list)(void* context, KoralBridge* bridges, uint32_t capacity);
    // Restarts the bridge at `path`: it leaves the bus and comes back. 0 on success.
    int (*reset)(void* context, const char* path);
} KoralBridgeBackend;

#ifdef __cplusplus
}
#endif
