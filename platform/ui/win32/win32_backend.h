#pragma once
// The Windows backend: every dialog of the model is a native dialog made by the system's dialog
// manager from the same template (a resource generated from dialogs.def), its controls kept in
// step with the model both ways. Message boxes are MessageBoxA, the open-file dialog is
// GetOpenFileNameA; the toolkit's queue and the native message loop run as one.
#include <memory>

#include "platform/ui/backend.h"

namespace ui::win32 {

std::unique_ptr<Backend> makeBackend();

}  // namespace ui::win32
