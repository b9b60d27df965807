// Whatever a target answers, the engine must decode it without reading or writing out of bounds.
// The input's first byte picks the entry point; the rest is everything the target sends, handed
// out as soon as the engine polls.
#include <cstring>
#include <memory>

#include "bsl/engine.h"
#include "bsl/output.h"
#include "platform/os/clock.h"
#include "platform/os/serial.h"

namespace {

struct Input {
    const uint8_t* data = nullptr;
    size_t size = 0;
};
Input g_input;

class AnswerLine final : public platform::SerialLine {
public:
    bool setupQueues(uint32_t, uint32_t) override { return true; }
    bool getTimeouts(platform::Timeouts&) override { return true; }
    bool setTimeouts(const platform::Timeouts&) override { return true; }
    bool setEventMask(uint32_t) override { return true; }
    bool getState(platform::LineState&) override { return true; }
    bool setState(const platform::LineState&) override { return true; }
    bool purge(uint32_t) override { return true; }
    bool queueCounts(platform::QueueCounts& c) override {
        c.inQueue = uint32_t(g_input.size);
        c.outQueue = 0;
        return true;
    }
    bool read(void* buffer, uint32_t size, uint32_t& done) override {
        done = uint32_t(size < g_input.size ? size : g_input.size);
        std::memcpy(buffer, g_input.data, done);
        g_input.data += done;
        g_input.size -= done;
        return true;
    }
    bool write(const void*, uint32_t size, uint32_t& done) override {
        done = size;
        return true;
    }
    bool close() override { return true; }
};

class Quiet final : public OutputTarget {
public:
    void postText(char* text) override { freeEngineText(text); }
    void postProgress(uint32_t, uint32_t) override {}
};

const char kImage[] = "@1100\r\n01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10\r\n11 12 13\r\n@FFE0\r\nFF FF\r\nq\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static platform::VirtualClock clock;
    static Quiet quiet;
    static bool once = [] {
        platform::setActiveClock(&clock);
        setOutputTarget(&quiet);
        platform::setSerialOpener([](const std::string&) { return std::make_unique<AnswerLine>(); });
        return true;
    }();
    (void)once;
    if (size == 0) return 0;
    bslResetState();
    g_keyReader = [] {};
    g_cmd.warning = false;  // its line goes to standard output
    uint8_t mode = data[0];
    g_input = {data + 1, size - 1};

    if (mode % 4 == 0) {
        openSerialPort("COM1", 300, 4);
        const uint8_t frame[4] = {0x00, 0x11, 0xF0, 0x00};
        bslTransferFrame(CMD_READ_BLOCK, frame, 4);
        if (g_port.rxFrame[2] + 6u > sizeof g_port.rxFrame) __builtin_trap();
    } else if (mode % 4 == 1) {
        openSerialPort("COM1", 300, 4);
        uint8_t reply[16];
        bslCommand(CMD_READ_BLOCK, 0x0FF0, 14, nullptr, reply, sizeof reply);
        checkBlock(0x1101, uint32_t(mode >> 2), BLOCK_VERIFY);
    } else {
        const char* plus[] = {"koralbsl", "+v", "-s2", "fw.txt"};
        const char* full[] = {"koralbsl", "-m2", "+aepvr", "fw.txt"};
        const char* const* argv = mode % 4 == 2 ? plus : full;
        bslMain(4, argv, nullptr, 0, kImage, sizeof kImage - 1);
    }
    bslResetState();
    return 0;
}
