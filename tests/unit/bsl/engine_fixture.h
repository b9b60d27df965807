#pragma once
#include <gtest/gtest.h>

#include "bsl/collecting_output.h"
#include "bsl/engine.h"
#include "fake_target.h"

// A fresh engine with its output collected and a fake line behind the port.
class EngineTest : public ::testing::Test {
protected:
    EngineTest() {
        bslResetState();
        g_keyReader = [] { ++keyReads(); };
        keyReads() = 0;
        setOutputTarget(&out);
    }
    ~EngineTest() override {
        bslResetState();
        setOutputTarget(nullptr);
    }
    static int& keyReads() {
        static int n = 0;
        return n;
    }
    void open() { ASSERT_EQ(openSerialPort("COM9", 300, 4), 0); }
    // Bytes on the wire from `from` on.
    Bytes wireFrom(size_t from) const { return Bytes(fake.wire.written.begin() + from, fake.wire.written.end()); }

    CollectingOutput out;
    FakeSetup fake;
};
