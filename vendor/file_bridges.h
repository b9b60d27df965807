#pragma once
// The bridges a file lists, as the stand-in vendor library's backend: for a host whose USB the
// program cannot see (Wine), with the instrument on a real serial port. The switch
// --bridge-list=FILE of the wizard installs it; nothing else changes.
//
// FILE: one present bridge a line, "path<TAB>serial<TAB>vid<TAB>pid" (ids in hex), read afresh
// at every listing, so whoever writes it plugs and unplugs. A reset appends the bridge's path as
// a line to FILE.reset; the writer makes the bridge leave and come back as a restart does.
#include <string>

#include "vendor/bridge_backend.h"

namespace vendor {

class FileBridges {
public:
    explicit FileBridges(std::string path);
    FileBridges(const FileBridges&) = delete;
    FileBridges& operator=(const FileBridges&) = delete;
    const KoralBridgeBackend* backend() const { return &backend_; }

private:
    std::string path_;
    KoralBridgeBackend backend_;
};

}  // namespace vendor
