#pragma once
// Exported functions ready to call. Windows runs a loaded image's own code, so an export is the
// address FindModuleExport gives. A host that cannot run 32-bit code (Linux) links the library's
// functions into the program instead, and the image it loads carries only their export table:
// there a name the image exports resolves to the function linked in under that name.
#include "device/module_loader.h"

// The calling convention of the functions a Windows library exports.
#if defined(_WIN32) && !defined(_WIN64)
#define KORAL_WINAPI __stdcall
#else
#define KORAL_WINAPI
#endif

// Null when the module does not export the name, or (on a linking host) nothing is linked
// under it. Letter case is ignored, as by FindModuleExport.
void* FindCallableExport(const LoadedModule* module, const char* name);

// Links `function` in under an export name (a linking host only; Windows ignores it).
void RegisterLinkedFunction(const char* name, void* function);
