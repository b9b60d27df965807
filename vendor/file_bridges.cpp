#include "vendor/file_bridges.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vendor {
namespace {

uint32_t listBridges(void* context, KoralBridge* bridges, uint32_t capacity) {
    std::ifstream in(*static_cast<std::string*>(context));
    std::string line;
    uint32_t n = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream fields(line);
        std::string path, serial, vid, pid;
        if (!std::getline(fields, path, '\t') || !std::getline(fields, serial, '\t') || !std::getline(fields, vid, '\t') ||
            !std::getline(fields, pid, '\t') || path.size() >= KORAL_BRIDGE_PATH_SIZE)
            continue;  // not a bridge: a line cut short while written
        if (n < capacity) {
            KoralBridge& b = bridges[n];
            std::snprintf(b.path, sizeof b.path, "%s", path.c_str());
            std::snprintf(b.serial, sizeof b.serial, "%s", serial.c_str());
            b.vid = uint16_t(std::strtoul(vid.c_str(), nullptr, 16));
            b.pid = uint16_t(std::strtoul(pid.c_str(), nullptr, 16));
        }
        ++n;
    }
    return n;
}

int resetBridge(void* context, const char* path) {
    std::ofstream out(*static_cast<std::string*>(context) + ".reset", std::ios::app);
    out << path << '\n';
    out.close();
    return out ? 0 : 1;
}

}  // namespace

FileBridges::FileBridges(std::string path) : path_(std::move(path)), backend_{&path_, &listBridges, &resetBridge} {}

}  // namespace vendor
