#include "platform/os/usb_bridges.h"

#include <charconv>

namespace platform {

int comNumberOfTty(const std::string& ttyNode) {
    constexpr std::string_view prefix = "ttyUSB";
    std::string_view name = ttyNode;
    name = name.substr(name.rfind('/') + 1);  // npos + 1 is 0: a bare name is taken whole
    if (name.substr(0, prefix.size()) != prefix || name.size() == prefix.size()) return 0;
    int n = -1;
    auto [end, ec] = std::from_chars(name.data() + prefix.size(), name.data() + name.size(), n);
    if (ec != std::errc() || end != name.data() + name.size() || n < 0 || n == 0x7FFFFFFF) return 0;
    return n + 1;
}

std::vector<std::pair<int, std::string>> bridgeComPorts(const std::vector<UsbBridge>& bridges) {
    std::vector<std::pair<int, std::string>> ports;
    for (const UsbBridge& b : bridges)
        if (int n = comNumberOfTty(b.ttyNode); n > 0) ports.emplace_back(n, b.ttyNode);
    return ports;
}

}  // namespace platform
