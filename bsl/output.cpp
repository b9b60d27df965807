#include "bsl/output.h"

#include <cstdarg>
#include <cstdio>

namespace {
StdoutOutput g_stdout;
OutputTarget* g_target = nullptr;
}  // namespace

void StdoutOutput::postText(char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
    freeEngineText(text);
}

void StdoutOutput::postProgress(uint32_t, uint32_t) {}

void setOutputTarget(OutputTarget* target) { g_target = target; }
OutputTarget* outputTarget() { return g_target ? g_target : &g_stdout; }

char* allocEngineText() { return new char[ENGINE_TEXT_SIZE]; }
void freeEngineText(char* text) { delete[] text; }

void postOutput(const char* format, ...) {
    char* text = allocEngineText();
    va_list args;
    va_start(args, format);
    // vsnprintf cuts what does not fit and always terminates.
    int n = std::vsnprintf(text, ENGINE_TEXT_SIZE, format, args);
    va_end(args);
    if (n < 0) text[0] = '\0';
    outputTarget()->postText(text);
}

void postProgress(uint32_t consumed, uint32_t total) { outputTarget()->postProgress(consumed, total); }
