#include "engine_fixture.h"

namespace {

using FrameLayer = EngineTest;

TEST_F(FrameLayer, OpensAt9600EvenParityWithBothLinesOn) {
    open();
    const auto& s = fake.wire.states.back();
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_EQ(s.byteSize, 8);
    EXPECT_EQ(s.parity, platform::parity::EVEN);
    EXPECT_EQ(s.stopBits, platform::stopBits::ONE);
    EXPECT_EQ(s.dtrControl, platform::dtr::ENABLE);
    EXPECT_EQ(s.rtsControl, platform::rts::ENABLE);
    EXPECT_TRUE(s.fBinary && s.fParity);
    EXPECT_FALSE(s.fOutxCtsFlow || s.fOutxDsrFlow || s.fOutX || s.fInX || s.fErrorChar || s.fNull);
    EXPECT_EQ(uint8_t(s.errorChar), 0xFF);
    std::vector<std::string> expected = {"setupQueues 512 512", "setTimeouts zero", "setEventMask 135",
                                         "setState dtr=1 rts=1 baud=9600", "purge 5", "purge 10"};
    EXPECT_EQ(fake.wire.calls, expected);
}

TEST_F(FrameLayer, OpenFailuresLeaveNoPort) {
    fake.wire.failOpen = true;
    EXPECT_EQ(openSerialPort("COM9", 300, 4), COM_ERR_OPEN);
    EXPECT_FALSE(serialPortOpen());
    fake.wire.failOpen = false;
    fake.wire.failSetState = true;
    EXPECT_EQ(openSerialPort("COM9", 300, 4), COM_ERR_STATE);
    EXPECT_FALSE(serialPortOpen());
    EXPECT_EQ(fake.wire.calls.back(), "close");
}

TEST_F(FrameLayer, OpenFailureSaysWhyWhenTheHostDoes) {
    platform::setSerialOpener([](const std::string&) -> std::unique_ptr<platform::SerialLine> {
        platform::setSerialOpenError("the port is in use by another program");
        return nullptr;
    });
    EXPECT_EQ(openSerialPort("\\\\.\\COM5", 300, 4), COM_ERR_OPEN);
    EXPECT_EQ(out.text(), "\\\\.\\COM5: the port is in use by another program.\n");
    platform::setSerialOpener([](const std::string&) -> std::unique_ptr<platform::SerialLine> { return nullptr; });
    out.clear();
    EXPECT_EQ(openSerialPort("COM9", 300, 4), COM_ERR_OPEN);
    EXPECT_EQ(out.text(), "") << "an earlier reason must not stick";
}

TEST_F(FrameLayer, CloseRestoresTimeoutsAndReportsCloseFailure) {
    open();
    fake.wire.calls.clear();
    fake.wire.failClose = true;
    EXPECT_EQ(closeSerialPort(), COM_ERR_CLOSE);
    std::vector<std::string> expected = {"purge 5", "purge 10", "setTimeouts saved", "close"};
    EXPECT_EQ(fake.wire.calls, expected);
    EXPECT_EQ(fake.wire.timeouts, (platform::Timeouts{7, 8, 9, 10, 11}));
    EXPECT_FALSE(serialPortOpen());
}

TEST_F(FrameLayer, EntrySequenceWithAndWithoutStartPattern) {
    open();
    auto run = [&](bool pattern) {
        fake.wire.calls.clear();
        fake.wire.callTimesMs.clear();
        bslEntrySequence(pattern);
        std::vector<std::string> lines;
        for (size_t i = 0; i < fake.wire.calls.size(); ++i)
            lines.push_back(std::to_string(fake.wire.callTimesMs[i] - fake.wire.callTimesMs[0]) + " " +
                            fake.wire.calls[i]);
        return lines;
    };
    std::vector<std::string> withPattern = {
        "0 setState dtr=1 rts=1 baud=9600",   "0 setState dtr=1 rts=1 baud=9600",
        "250 setState dtr=0 rts=1 baud=9600", "250 setState dtr=0 rts=1 baud=9600",
        "260 setState dtr=0 rts=0 baud=9600", "270 setState dtr=0 rts=1 baud=9600",
        "280 setState dtr=0 rts=0 baud=9600", "290 setState dtr=1 rts=0 baud=9600",
        "300 setState dtr=1 rts=1 baud=9600", "550 purge 4",
        "550 purge 8"};
    EXPECT_EQ(run(true), withPattern);
    std::vector<std::string> plain = {"0 setState dtr=1 rts=1 baud=9600", "0 setState dtr=1 rts=1 baud=9600",
                                      "250 setState dtr=0 rts=1 baud=9600",
                                      "260 setState dtr=1 rts=1 baud=9600", "510 purge 4", "510 purge 8"};
    EXPECT_EQ(run(false), plain);
}

TEST_F(FrameLayer, SyncGivesUpAfterThreeHundredMillisecondWaits) {
    open();
    fake.wire.answerSync = false;
    uint32_t start = platform::tickCount();
    EXPECT_EQ(bslSynchronize(), BSL_ERR_SYNC);
    uint32_t spent = platform::tickCount() - start;
    EXPECT_GE(spent, 300u);
    EXPECT_LT(spent, 320u);
    EXPECT_EQ(fake.wire.written, Bytes(3, 0x80));

    fake.wire.syncAnswer = 0x91;  // SYNC wants exactly 0x90
    EXPECT_EQ(bslSynchronize(), BSL_ERR_SYNC);
    fake.wire.syncAnswer.reset();
    fake.wire.answerSync = true;
    EXPECT_EQ(bslSynchronize(), BSL_OK);
}

TEST_F(FrameLayer, OddFrameDataIsPaddedAndChecksummed) {
    open();
    const uint8_t data[9] = {0x00, 0x10, 0x05, 0x00, 1, 2, 3, 4, 5};
    fake.wire.scripted.push_back({0x90});
    EXPECT_EQ(bslTransferFrame(0x12, data, 9), BSL_OK);
    ASSERT_EQ(fake.wire.frames.size(), 1u);
    const Bytes& f = fake.wire.frames[0];
    ASSERT_EQ(f.size(), 16u);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 14),
              (Bytes{0x80, 0x12, 0x0A, 0x0A, 0x00, 0x10, 0x05, 0x00, 1, 2, 3, 4, 5, 0xFF}));
    uint8_t ckl = 0, ckh = 0;
    for (size_t i = 0; i < 14; i += 2) ckl ^= f[i], ckh ^= f[i + 1];
    EXPECT_EQ(f[14], uint8_t(~ckl));
    EXPECT_EQ(f[15], uint8_t(~ckh));
    EXPECT_EQ(bslChecksum(f.data(), 15), bslChecksum(f.data(), 14));  // odd tail ignored
}

TEST_F(FrameLayer, AnswerIsJudgedByItsHighNibble) {
    open();
    const uint8_t data[4] = {0, 0, 0, 0};
    struct Case {
        uint8_t answer;
        int result;
    } cases[] = {{0x90, BSL_OK}, {0x91, BSL_OK}, {0xA0, BSL_ERR_NAK}, {0xA5, BSL_ERR_NAK},
                 {0x70, BSL_ERR_FAILED}, {0x7F, BSL_ERR_FAILED}, {0x00, BSL_ERR_ANSWER}, {0xFF, BSL_ERR_ANSWER}};
    for (const auto& c : cases) {
        fake.wire.scripted.push_back({c.answer});
        EXPECT_EQ(bslTransferFrame(0x1A, data, 4), c.result) << int(c.answer);
    }
}

TEST_F(FrameLayer, SilentTargetTimesOutAfterTwelveHundredMilliseconds) {
    open();
    const uint8_t data[4] = {0, 0, 0, 0};
    fake.wire.scripted.push_back({});
    uint32_t start = platform::tickCount();
    EXPECT_EQ(bslTransferFrame(0x1A, data, 4), BSL_ERR_TIMEOUT);
    uint32_t spent = platform::tickCount() - start;
    EXPECT_GE(spent, 1200u);
    EXPECT_LT(spent, 1210u);
}

TEST_F(FrameLayer, MalformedDataFramesFailWithoutReadingOn) {
    open();
    const uint8_t data[4] = {0, 0, 2, 0};
    // Second byte not zero, lengths differ: the rest stays unread in the queue.
    for (Bytes bad : {Bytes{0x80, 0x01, 0x02, 0x02, 0xAA, 0xBB, 0, 0}, Bytes{0x80, 0x00, 0x02, 0x03, 0xAA, 0xBB, 0, 0}}) {
        fake.wire.scripted.push_back(bad);
        EXPECT_EQ(bslTransferFrame(0x14, data, 4), BSL_ERR_ANSWER);
        EXPECT_EQ(fake.wire.rx.size(), 4u);
        EXPECT_EQ(g_port.rxFrame[2], 0);
    }
    // A bad checksum.
    Bytes good = FakeWire::dataFrame({0xAA, 0xBB});
    Bytes corrupt = good;
    corrupt.back() ^= 1;
    fake.wire.scripted.push_back(corrupt);
    EXPECT_EQ(bslTransferFrame(0x14, data, 4), BSL_ERR_ANSWER);
    fake.wire.scripted.push_back(good);
    EXPECT_EQ(bslTransferFrame(0x14, data, 4), BSL_OK);
    EXPECT_EQ(g_port.rxFrame[4], 0xAA);
    // Too few bytes within the time-out.
    fake.wire.scripted.push_back(Bytes(good.begin(), good.end() - 1));
    EXPECT_EQ(bslTransferFrame(0x14, data, 4), BSL_ERR_ANSWER);
}

TEST_F(FrameLayer, DataAnswerLongerThanTheReceiveFrameIsRefused) {
    open();
    const uint8_t data[4] = {0, 0, 0, 0};
    Bytes big = FakeWire::dataFrame(Bytes(252, 0x55));
    fake.wire.scripted.push_back(big);
    EXPECT_EQ(bslTransferFrame(0x14, data, 4), BSL_ERR_ANSWER);
    EXPECT_EQ(g_port.rxFrame[2], 0);
    // The largest that fits is taken.
    fake.wire.scripted.push_back(FakeWire::dataFrame(Bytes(250, 0x55)));
    EXPECT_EQ(bslTransferFrame(0x14, data, 4), BSL_OK);
}

TEST_F(FrameLayer, SendingStopsWhenTheTargetAnswersEarly) {
    open();
    uint8_t data[40] = {0x00, 0x10, 36, 0};
    fake.wire.scripted.push_back({0xA0});
    fake.wire.earlyAnswerAfter = 5;
    size_t before = fake.wire.written.size();
    EXPECT_EQ(bslTransferFrame(0x12, data, 40), BSL_ERR_NAK);
    EXPECT_EQ(fake.wire.written.size() - before, 5u);
}

TEST_F(FrameLayer, FailedByteWriteFailsTheFrameAtOnce) {
    open();
    uint8_t data[40] = {0x00, 0x10, 36, 0};
    size_t before = fake.wire.written.size();
    fake.wire.failWriteAt = int(before + 7);
    uint32_t start = platform::tickCount();
    EXPECT_EQ(bslTransferFrame(0x12, data, 40), BSL_ERR_TIMEOUT);
    EXPECT_EQ(fake.wire.written.size() - before, 7u);  // nothing after the failed byte
    EXPECT_LT(platform::tickCount() - start, 100u);    // no answer awaited
}

TEST_F(FrameLayer, UnsafeChecksumWarningGoesToStandardOutput) {
    open();
    // Words 0x1A80, 0x0404, addr, 0: addr chosen so that their XOR is 0x0100, a = 0x0312.
    uint16_t addr = 0x1A80 ^ 0x0404 ^ 0x0100;
    uint8_t data[4] = {uint8_t(addr), uint8_t(addr >> 8), 0, 0};
    fake.wire.scripted.push_back({0x90});
    g_cmd.warning = true;
    testing::internal::CaptureStdout();
    EXPECT_EQ(bslTransferFrame(0x1A, data, 4), BSL_OK);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "WARNING: This command might change data at address 312 or 313!\n");
    EXPECT_TRUE(out.pieces.empty());
    EXPECT_EQ(fake.wire.frames.size(), 1u);  // sent anyway

    g_cmd.warning = false;
    fake.wire.scripted.push_back({0x90});
    testing::internal::CaptureStdout();
    bslTransferFrame(0x1A, data, 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(FrameLayer, FailedBaudChangeClosesThePort) {
    open();
    EXPECT_EQ(setBaudRate(115200), BSL_OK);
    EXPECT_EQ(getBaudRate(), 115200u);
    fake.wire.failSetState = true;
    EXPECT_EQ(setBaudRate(19200), COM_ERR_STATE);
    EXPECT_FALSE(serialPortOpen());
}

TEST_F(FrameLayer, PlainPortUseReadsSingleBytes) {
    open();
    fake.wire.rx = {'O', 'K'};
    EXPECT_EQ(waitForInput(2, 50), 2u);
    uint8_t b = 0;
    ASSERT_TRUE(readSerialByte(b));
    EXPECT_EQ(b, 'O');
    ASSERT_TRUE(readSerialByte(b));
    EXPECT_FALSE(readSerialByte(b));
    uint32_t start = platform::tickCount();
    EXPECT_EQ(waitForInput(1, 50), 0u);
    EXPECT_GE(platform::tickCount() - start, 50u);
}

}  // namespace
