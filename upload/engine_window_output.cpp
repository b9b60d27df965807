#include "upload/engine_window_output.h"

#include "platform/ui/model.h"

namespace {

// A text still queued when its window goes away is freed instead of leaked.
void discardEngineText(UINT, WPARAM wParam, LPARAM lParam) {
    if (wParam == 1) freeEngineText(reinterpret_cast<char*>(lParam));
}

}  // namespace

EngineWindowOutput::EngineWindowOutput(HWND window) : window_(window) {
    ui::setDiscardHandler(WM_ENGINE_TEXT, &discardEngineText);
}

void EngineWindowOutput::postText(char* text) {
    if (!ui::postMessage(window_.load(), WM_ENGINE_TEXT, 1, reinterpret_cast<LPARAM>(text))) freeEngineText(text);
}

void EngineWindowOutput::postProgress(uint32_t consumed, uint32_t total) {
    ui::postMessage(window_.load(), WM_ENGINE_PROGRESS, WPARAM(consumed), LPARAM(total));
}

EngineWindowOutput& engineWindowOutput() {
    static EngineWindowOutput output;
    return output;
}

void setEngineOutputWindow(HWND window) {
    engineWindowOutput().setWindow(window);
    setOutputTarget(&engineWindowOutput());
}
