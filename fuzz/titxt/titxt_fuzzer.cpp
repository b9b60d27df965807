// The TI-TXT reader on any text: blocks never exceed the frame size or the block buffer, and
// every block lies within the 32-bit address range the text can name.
#include <cstring>

#include "bsl/engine.h"
#include "bsl/output.h"

namespace {

class Quiet final : public OutputTarget {
public:
    void postText(char* text) override { freeEngineText(text); }
    void postProgress(uint32_t consumed, uint32_t total) override {
        if (consumed > total) __builtin_trap();
    }
};

uint8_t g_copy[BSL_TX_SIZE];
int g_blockNo = 0;
int g_failAt = -1;

int sink(uint32_t, uint32_t size, int) {
    if (size == 0 || size > g_set.maxFrameData || size > BSL_TX_SIZE) __builtin_trap();
    std::memcpy(g_copy, g_cmd.txData, size);
    return g_blockNo++ == g_failAt ? BSL_ERR_NAK : BSL_OK;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Quiet quiet;
    setOutputTarget(&quiet);
    if (size < 2) return 0;
    setBlockSink(sink);
    // First byte: frame size and flags; second: which block fails.
    g_set.maxFrameData = 16u * (1 + data[0] % 15);
    int flags = (data[0] & 0x80) ? BLOCK_PROGRAM : BLOCK_VERIFY | BLOCK_ERASE_CHECK;
    g_blockNo = 0;
    g_failAt = data[1] == 0xFF ? -1 : data[1];
    readTiTxtBuffer(reinterpret_cast<const char*>(data + 2), size - 2, flags);
    return 0;
}
