// What the stand-in's Windows backend does to a real bridge, checked where Linux can: which
// devices count, and that its restart is the loader driver's own final reset.
#include <gtest/gtest.h>

#include <vector>

#include "tests/unit/bsl/engine_fixture.h"
#include "vendor/reset_pulse.h"

namespace {

TEST(HostBridges, OnlyCp210xProductsCount) {
    EXPECT_TRUE(vendor::isCp210x(0x10C4, 0xEA60));  // CP2102/CP2104
    EXPECT_TRUE(vendor::isCp210x(0x10C4, 0xEA70));  // CP2105, dual
    EXPECT_TRUE(vendor::isCp210x(0x10C4, 0xEA7F));
    EXPECT_FALSE(vendor::isCp210x(0x10C4, 0xEA80));
    EXPECT_FALSE(vendor::isCp210x(0x10C4, 0x8A2A));  // another product of the same maker
    EXPECT_FALSE(vendor::isCp210x(0x0403, 0xEA60));
}

using ResetPulse = EngineTest;

TEST_F(ResetPulse, IsTheDriversFinalReset) {
    open();
    fake.wire.states.clear();
    fake.wire.calls.clear();
    fake.wire.callTimesMs.clear();
    bslEntrySequence(false);
    // The driver's line changes as steps: each distinct state, held until the next (the last
    // until the purge that ends the sequence).
    std::vector<vendor::LineStep> steps;
    uint64_t since = 0;
    size_t state = 0;
    for (size_t i = 0; i < fake.wire.calls.size(); ++i) {
        bool isState = fake.wire.calls[i].rfind("setState", 0) == 0;
        bool changes = isState && (steps.empty() || steps.back().dtr != (fake.wire.states[state].dtrControl != 0) ||
                                   steps.back().rts != (fake.wire.states[state].rtsControl != 0));
        if (changes || !isState) {
            if (!steps.empty()) steps.back().thenWaitMs = uint32_t(fake.wire.callTimesMs[i] - since);
            since = fake.wire.callTimesMs[i];
        }
        if (changes) steps.push_back({fake.wire.states[state].dtrControl != 0, fake.wire.states[state].rtsControl != 0, 0});
        if (isState) ++state;
        if (!isState) break;
    }
    ASSERT_EQ(steps.size(), std::size(vendor::RESET_PULSE));
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(steps[i].dtr, vendor::RESET_PULSE[i].dtr) << i;
        EXPECT_EQ(steps[i].rts, vendor::RESET_PULSE[i].rts) << i;
        EXPECT_EQ(steps[i].thenWaitMs, vendor::RESET_PULSE[i].thenWaitMs) << i;
    }
}

}  // namespace
