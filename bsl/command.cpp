// The BSL command layer: one request per frame, and the loader-dependent steps of a run.
#include <algorithm>
#include <cstring>

#include "bsl/engine.h"
#include "bsl/output.h"

BslCommandState g_cmd;

int bslCommand(uint8_t cmd, uint16_t address, uint16_t length, const uint8_t* data, uint8_t* reply,
               size_t replyCapacity) {
    uint8_t frameData[4 + BSL_TX_SIZE + 2];
    uint32_t dataBytes = 0;
    uint32_t len = length;
    uint32_t addr = address;
    if (cmd == CMD_WRITE_BLOCK) {
        uint32_t at = 4;
        if (addr & 1) {
            --addr;
            frameData[at++] = 0xFF;
            ++len;
        }
        if (len - (at - 4) > BSL_TX_SIZE) return BSL_ERR_ANSWER;
        if (data) std::memcpy(frameData + at, data, len - (at - 4));
        if (len & 1) frameData[4 + len++] = 0xFF;
        dataBytes = len;
    } else if (cmd == CMD_READ_BLOCK) {
        if (addr & 1) {
            --addr;
            ++len;
        }
        if (len & 1) ++len;
    } else if (cmd == CMD_SEND_PASSWORD) {
        if (len > BSL_TX_SIZE) return BSL_ERR_ANSWER;
        if (data) std::memcpy(frameData + 4, data, len);
        dataBytes = len;
    }
    frameData[0] = uint8_t(addr);
    frameData[1] = uint8_t(addr >> 8);
    frameData[2] = uint8_t(len);
    frameData[3] = uint8_t(len >> 8);

    int result = bslSynchronize();
    if (result != BSL_OK) return result;
    result = bslTransferFrame(cmd, frameData, 4 + dataBytes);
    uint32_t got = g_port.rxFrame[2];
    if (reply) std::memcpy(reply, g_port.rxFrame + 4, std::min<size_t>(got, replyCapacity));
    // A short (or missing) data answer would leave stale bytes in the caller's buffer.
    if (result == BSL_OK && cmd == CMD_READ_BLOCK && got != len) result = BSL_ERR_ANSWER;
    return result;
}

int bslSetOffset(uint32_t highBits) {
    return bslCommand(CMD_SET_OFFSET, 0, uint16_t(highBits), nullptr, nullptr);
}

int patchPreStep() {
    if (!g_cmd.patchActive) return BSL_OK;
    int result = bslCommand(CMD_LOAD_PC, 0x0220, 0, nullptr, nullptr);
    if (result == BSL_OK) g_cmd.warning = false;
    return result;
}

void patchPostStep() {
    if (g_cmd.patchActive) g_cmd.warning = true;
}

int readLoaderIdentity() {
    if (g_set.flow & FLOW_EXTENDED) {
        int result = bslSetOffset(0);
        if (result != BSL_OK) return result;
    }
    uint8_t bytes[BSL_REPLY_SIZE];
    if (bslCommand(CMD_READ_BLOCK, 0x0FF0, 14, nullptr, bytes, sizeof bytes) == BSL_OK) {
        std::memcpy(g_cmd.identity.bytes, bytes, 14);
        const uint8_t* b = g_cmd.identity.bytes;
        postOutput("BSL version: %X.%02X", b[10], b[11]);
        postOutput(" - Family member: %02X%02X", b[0], b[1]);
        postOutput(" - Process: %02X%02X\n", b[2], b[3]);
    }
    // A failed read judges the loader by the identity kept from before: all 0 in a process's
    // first run, which takes the patch path rather than trusting an unknown loader.
    uint16_t version = g_cmd.identity.version();
    g_cmd.identity.verifyErrorAddress = version < 0x0150 ? 0x021E : 0x0200;
    if (version > 0x0110) {
        g_cmd.warning = false;
    } else {
        g_cmd.warning = true;
        if (!g_set.loaderFile[0]) {
            postOutput("Patch for flash programming required!\n");
            g_cmd.patchRequired = true;
        }
    }
    return BSL_OK;
}

int loadPatch() {
    postOutput("Load and verify patch \"%s\"...\n", g_set.patchFile);
    int result = readTiTxtFile(g_set.patchFile, BLOCK_PROGRAM | BLOCK_VERIFY);
    if (result == BSL_OK) g_cmd.patchActive = true;
    return result;
}

int startReplacementLoader() {
    uint16_t loadAddress = firstTiTxtAddress(g_set.loaderFile);
    if (loadAddress == 0) loadAddress = 0x0300;
    uint16_t version = g_cmd.identity.version();
    postOutput("Load");
    if (version >= 0x0140) postOutput("/Verify");
    postOutput(" new BSL \"%s\" into RAM at 0x%04X...\n", g_set.loaderFile, loadAddress);
    int result = readTiTxtFile(g_set.loaderFile, BLOCK_PROGRAM);
    if (result != BSL_OK) return result;
    if (version < 0x0140) {
        postOutput("Verify new BSL \"%s\"...\n", g_set.loaderFile);
        result = readTiTxtFile(g_set.loaderFile, BLOCK_VERIFY);
        if (result != BSL_OK) return result;
    }
    uint8_t head[BSL_REPLY_SIZE];
    result = bslCommand(CMD_READ_BLOCK, loadAddress, 4, nullptr, head, sizeof head);
    if (result != BSL_OK) return result;
    uint16_t startAddress = uint16_t(head[0] | head[1] << 8);
    bool large = (head[2] | head[3] << 8) != 0;
    if (large) {
        postOutput("Start new BSL (LARGE model > 1K Bytes) at 0x%04X...\n", startAddress);
        g_cmd.identity.verifyErrorAddress = 0x0200;
    } else {
        postOutput("Start new BSL (SMALL model < 512 Bytes) at 0x%04X...\n", startAddress);
    }
    g_cmd.model = large ? LoaderModel::Large : LoaderModel::Small;
    result = bslCommand(CMD_LOAD_PC, startAddress, 0, nullptr, nullptr);
    if (result != BSL_OK) return result;
    g_cmd.warning = g_cmd.patchRequired = g_cmd.patchActive = false;
    return BSL_OK;
}

int changeBaudRate() {
    static const uint32_t rates[3] = {9600, 19200, 38400};
    uint16_t settings[3];
    uint8_t family = g_cmd.identity.bytes[0];
    if (g_set.baudMode < 0 || g_set.baudMode > 2) g_set.baudMode = 0;
    switch (family) {
    case 0xF1:
    case 0x12: settings[0] = 0x8580, settings[1] = 0x86E0, settings[2] = 0x87E0; break;
    case 0xF2: settings[0] = 0x8880, settings[1] = 0x8B80, settings[2] = 0x8C80; break;
    case 0xF4: settings[0] = 0x9800, settings[1] = 0xB000, settings[2] = 0xC800; break;
    default:
        postOutput("Baudrate change not supported for family member %02X. Baudrate remains at %d "
                   "Baud\n",
                   family, int(getBaudRate()));
        return BSL_OK;
    }
    int mode = g_set.baudMode;
    uint32_t rate = rates[mode];
    uint32_t old = getBaudRate();
    if (rate == old) return BSL_OK;
    postOutput("Change Baudrate ");
    if (bslCommand(CMD_CHANGE_BAUD, settings[mode], uint16_t(mode), nullptr, nullptr) != BSL_OK) {
        postOutput("command not accepted. Baudrate remains at %d Baud\n", int(old));
        return BSL_OK;
    }
    postOutput("from %d ", int(old));
    int result = setBaudRate(rate);
    if (result != BSL_OK) return result;
    sleepMs(10);
    postOutput("to %d Baud (Mode: %d)\n", int(rate), mode);
    return BSL_OK;
}
