#include <cctype>
#include <charconv>
#include <mutex>

#include "platform/os/serial.h"
#include "platform/os/usb_bridges.h"

namespace platform {
namespace {
std::mutex g_openerMutex;
SerialOpener g_opener;
std::map<int, std::string> g_comPorts;
}  // namespace

void setComPortTable(std::map<int, std::string> table) {
    std::lock_guard lock(g_openerMutex);
    g_comPorts = std::move(table);
}

std::map<int, std::string> comPortTable() {
    std::lock_guard lock(g_openerMutex);
    return g_comPorts;
}

std::string posixDevicePath(const std::string& path) {
    std::string_view p = path;
    if (p.substr(0, 4) == "\\\\.\\") p.remove_prefix(4);
    if (!p.empty() && p[0] == '/') return std::string(p);
    if (p.size() < 4 || std::toupper(static_cast<unsigned char>(p[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(p[1])) != 'O' || std::toupper(static_cast<unsigned char>(p[2])) != 'M')
        return {};
    int number = 0;
    auto [end, ec] = std::from_chars(p.data() + 3, p.data() + p.size(), number);
    if (ec != std::errc() || end != p.data() + p.size()) return {};
    {
        std::lock_guard lock(g_openerMutex);
        auto it = g_comPorts.find(number);
        if (it != g_comPorts.end()) return it->second;
    }
    for (const auto& [n, node] : bridgeComPorts(listCp210xBridges()))
        if (n == number) return node;
    return {};
}

namespace {
thread_local std::string t_openError;
}

std::string lastSerialOpenError() { return t_openError; }
void setSerialOpenError(std::string why) { t_openError = std::move(why); }

std::unique_ptr<SerialLine> openSerialLine(const std::string& path) {
    t_openError.clear();
    SerialOpener opener;
    {
        std::lock_guard lock(g_openerMutex);
        opener = g_opener;
    }
    return opener ? opener(path) : openHostSerialLine(path);
}

SerialOpener setSerialOpener(SerialOpener opener) {
    std::lock_guard lock(g_openerMutex);
    SerialOpener previous = std::move(g_opener);
    g_opener = std::move(opener);
    return previous;
}

}  // namespace platform
