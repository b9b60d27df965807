#include <mutex>

#include "platform/os/serial.h"

namespace platform {
namespace {
std::mutex g_openerMutex;
SerialOpener g_opener;
}  // namespace

std::unique_ptr<SerialLine> openSerialLine(const std::string& path) {
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
