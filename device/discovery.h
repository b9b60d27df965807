#pragma once
// Which CP210x bridges are attached, and the COM port Windows gave one of them.
#include <string>
#include <vector>

#include "platform/ui/afxwin.h"

// Entry k is the device-path string of the bridge with device index k.
using DeviceList = std::vector<std::string>;

// Clears `list`, then fills it; FALSE when the count or a path could not be read (the list keeps
// the entries read so far).
BOOL GetDeviceList(DeviceList& list);

// The port number from the bridge's registry key, or -1. `serial` is rewritten in place.
int GetPortFromUsbEnum(uint16_t vid, uint16_t pid, char* serial);
int GetPortFromSlabcrEnum(uint16_t vid, uint16_t pid, char* serial);
