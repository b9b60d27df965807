#include "platform/os/windows_version.h"

#include <atomic>

namespace platform {

uint32_t hostVersion();  // per host

namespace {
constexpr uint64_t kNone = ~uint64_t(0);
std::atomic<uint64_t> g_override{kNone};
}  // namespace

uint32_t getVersion() {
    uint64_t v = g_override.load();
    return v == kNone ? hostVersion() : uint32_t(v);
}

std::optional<uint32_t> setVersionOverride(std::optional<uint32_t> version) {
    uint64_t previous = g_override.exchange(version ? *version : kNone);
    return previous == kNone ? std::nullopt : std::optional<uint32_t>(uint32_t(previous));
}

}  // namespace platform
