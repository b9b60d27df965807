#pragma once
// The engine's text and progress as messages posted to a window: what the upload page shows.
#include <atomic>

#include "bsl/output.h"
#include "platform/ui/types.h"

// wParam 1: lParam is an ENGINE_TEXT_SIZE buffer the receiver frees with freeEngineText;
// wParam 0: lParam is constant text.
constexpr UINT WM_ENGINE_TEXT = WM_USER + 1005;
// wParam: firmware text bytes consumed; lParam: total length of the firmware text.
constexpr UINT WM_ENGINE_PROGRESS = WM_USER + 1006;

class EngineWindowOutput final : public OutputTarget {
public:
    explicit EngineWindowOutput(HWND window = nullptr);
    void setWindow(HWND window) { window_.store(window); }
    HWND window() const { return window_.load(); }
    // Any thread. A text that cannot be posted (no window) is freed here rather than lost.
    void postText(char* text) override;
    void postProgress(uint32_t consumed, uint32_t total) override;

private:
    std::atomic<HWND> window_;
};

// Makes `window` the process-wide target of the engine's output.
void setEngineOutputWindow(HWND window);
EngineWindowOutput& engineWindowOutput();
