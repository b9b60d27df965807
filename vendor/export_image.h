#pragma once
// A PE32 DLL image that exports functions by name and holds no code of its own: every export
// points at a trap instruction. Linux builds embed one as resource DLL/6 so that start-up loads
// the vendor library exactly as on Windows; the functions themselves are linked into the program
// (device/export_lookup.h).
#include <cstdint>
#include <string>
#include <vector>

namespace vendor {

std::vector<uint8_t> exportOnlyImage(const std::vector<std::string>& names, const std::string& libraryName);

// The stand-in's own: every name of standin.h's EXPORT_NAMES.
std::vector<uint8_t> standInExportImage();

}  // namespace vendor
