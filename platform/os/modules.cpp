#include <mutex>

#include "platform/os/modules.h"

namespace platform {
namespace {

std::mutex& hookMutex() {
    static std::mutex mutex;
    return mutex;
}
EntryPointHook& hook() {
    static EntryPointHook h;
    return h;
}

}  // namespace

bool callEntryPoint(void* entry, void* module, uint32_t reason, void* reserved) {
    EntryPointHook h;
    {
        std::lock_guard lock(hookMutex());
        h = hook();
    }
    if (h) return h(entry, module, reason, reserved);
    return host::callNativeEntryPoint(entry, module, reason, reserved);
}

EntryPointHook setEntryPointHook(EntryPointHook h) {
    std::lock_guard lock(hookMutex());
    EntryPointHook previous = std::move(hook());
    hook() = std::move(h);
    return previous;
}

}  // namespace platform
