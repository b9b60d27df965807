#pragma once
// Where the engine's text goes. The engine formats each printed piece into a fresh
// ENGINE_TEXT_SIZE buffer and hands it to the process-wide target: the upload page's window in
// the wizard, standard output in the console tool, a list in tests.
#include <cstddef>
#include <cstdint>

constexpr size_t ENGINE_TEXT_SIZE = 1024;

class OutputTarget {
public:
    virtual ~OutputTarget() = default;
    // `text` is zero-terminated and came from allocEngineText; from here on the target owns it
    // and releases it with freeEngineText, at once or after delivering it.
    virtual void postText(char* text) = 0;
    virtual void postProgress(uint32_t consumed, uint32_t total) = 0;
};

// Not owned. Until one is set the engine writes to standard output.
void setOutputTarget(OutputTarget* target);
OutputTarget* outputTarget();

char* allocEngineText();
void freeEngineText(char* text);

#if defined(__GNUC__)
#define KORAL_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define KORAL_PRINTF_FORMAT(f, a)
#endif

// printf-style; each call is one piece of text, cut to fit the buffer if ever too long.
void postOutput(const char* format, ...) KORAL_PRINTF_FORMAT(1, 2);
void postProgress(uint32_t consumed, uint32_t total);

// The console tool's target, and the default: every piece straight to standard output; progress
// is not shown.
class StdoutOutput final : public OutputTarget {
public:
    void postText(char* text) override;
    void postProgress(uint32_t consumed, uint32_t total) override;
};
