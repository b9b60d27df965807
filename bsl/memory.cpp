// What the engine does with one block of target memory.
#include <cstring>

#include "bsl/engine.h"
#include "bsl/output.h"

namespace {
bool extended() { return (g_set.flow & FLOW_EXTENDED) != 0; }
}  // namespace

int checkBlock(uint32_t address, uint32_t size, int mode) {
    if (mode == BLOCK_FAST_CHECK) {
        postOutput("Fast Check starting at %x, %i bytes... ", unsigned(address), int(size));
        int result = patchPreStep();
        if (result != BSL_OK) return result;
        result = bslCommand(CMD_ERASE_CHECK, uint16_t(address), uint16_t(size), nullptr, nullptr);
        patchPostStep();
        postOutput("Error: %i\n", result);
        return result == BSL_OK ? BSL_OK : ERR_ERASE_CHECK;
    }
    if (mode != BLOCK_VERIFY && mode != BLOCK_ERASE_CHECK) return BSL_OK;

    postOutput("Check starting at %x, %i bytes... ", unsigned(address), int(size));
    int result = patchPreStep();
    if (result != BSL_OK) return result;
    if (extended()) {
        if (bslSetOffset(address >> 16) != BSL_OK) return 1;
        address &= 0xFFFF;
    }
    // An odd block is read from the even address below it, so its bytes start one further on.
    uint32_t skew = address & 1;
    result = bslCommand(CMD_READ_BLOCK, uint16_t(address), uint16_t(size), nullptr,
                        g_cmd.replyData, sizeof g_cmd.replyData);
    patchPostStep();
    postOutput("Error: %i\n", result);
    if (result != BSL_OK) return result;
    for (uint32_t i = 0; i < size && i + skew < sizeof g_cmd.replyData; ++i) {
        uint8_t got = g_cmd.replyData[i + skew];
        if (mode == BLOCK_VERIFY && got != g_cmd.txData[i]) {
            postOutput("Verification failed at %x (%x, %x)\n", unsigned(address + i), got,
                       g_cmd.txData[i]);
            return ERR_VERIFY;
        }
        if (mode == BLOCK_ERASE_CHECK && got != 0xFF) {
            postOutput("Erase Check failed at %x (%x)\n", unsigned(address + i), got);
            return ERR_ERASE_CHECK;
        }
    }
    if (extended()) return bslSetOffset(0) == BSL_OK ? BSL_OK : 1;
    return BSL_OK;
}

int processBlock(uint32_t address, uint32_t size, int blockFlags) {
    if (blockFlags & BLOCK_PASSWORD)
        return bslCommand(CMD_SEND_PASSWORD, uint16_t(address), uint16_t(size), g_cmd.txData,
                          nullptr);
    int result = BSL_OK;
    if (blockFlags & BLOCK_ERASE_CHECK)
        result = checkBlock(address, size, BLOCK_ERASE_CHECK);
    else if (blockFlags & BLOCK_FAST_CHECK)
        result = checkBlock(address, size, BLOCK_FAST_CHECK);
    if (result != BSL_OK) return result;

    if (blockFlags & BLOCK_PROGRAM) {
        result = patchPreStep();
        if (result != BSL_OK) return result;
        if (extended()) {
            result = bslSetOffset(address >> 16);
            if (result != BSL_OK) return result;
        }
        result = bslCommand(CMD_WRITE_BLOCK, uint16_t(address), uint16_t(size), g_cmd.txData,
                            nullptr);
        patchPostStep();
        if (result != BSL_OK) {
            postOutput("Error %i programming at %x, %i bytes\n", result, unsigned(address),
                       int(size));
            return result;
        }
        if (extended() && bslSetOffset(0) != BSL_OK) return 1;
    }
    return (blockFlags & BLOCK_VERIFY) ? checkBlock(address, size, BLOCK_VERIFY) : BSL_OK;
}

int sendPassword(const char* fileName, const char* text, size_t textLength) {
    if (!fileName || !fileName[0]) {
        postOutput("Transmit standard password...\n");
        std::memset(g_cmd.txData, 0xFF, 32);
        return bslCommand(CMD_SEND_PASSWORD, 0xFFE0, 32, g_cmd.txData, nullptr);
    }
    postOutput("Transmit PSW file \"%s\"...\n", fileName);
    // No text means the file could not be had; sending nothing would leave the loader locked
    // while the step reported success.
    if (!text || textLength == 0) {
        copyName(g_set.errorFile, fileName);
        return ERR_OPEN_FILE;
    }
    return readTiTxtBuffer(text, textLength, BLOCK_PASSWORD);
}
