#pragma once
// Linux cannot run the stand-in as a 32-bit DLL, so it is linked into the program and reached
// through the export table of an image that only names its functions (vendor/export_image.h).
namespace vendor {

// Registers the stand-in's functions under their export names (device/export_lookup.h). Calling
// it again does no harm; on Windows it does nothing, the DLL runs its own code there.
void linkStandIn();

}  // namespace vendor
