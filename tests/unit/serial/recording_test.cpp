// The recording wrapper: every call and byte, in order, over a simulated line.
#include <gtest/gtest.h>

#include "platform/os/clock.h"
#include "platform/os/recording_serial.h"
#include "sim/instrument.h"

namespace {

struct Recorded : ::testing::Test {
    platform::VirtualClock clock;
    platform::ScopedClock scoped{clock};
    sim::Instrument instrument;
    std::shared_ptr<platform::SerialRecording> recording = std::make_shared<platform::SerialRecording>();
    platform::SerialOpener open = platform::recordingOpener(sim::makeOpener(instrument), recording);
};

}  // namespace

TEST_F(Recorded, TranscriptNamesEveryCallWithItsBytes) {
    EXPECT_EQ(open("\\\\.\\COM9"), nullptr);
    auto line = open("\\\\.\\COM3");
    ASSERT_NE(line, nullptr);
    platform::LineState s;
    ASSERT_TRUE(line->getState(s));
    s.parity = platform::parity::EVEN;
    s.fParity = true;
    s.errorChar = char(0xFF);
    line->setupQueues(512, 512);
    line->setTimeouts({});
    line->setEventMask(0x87);
    line->setState(s);
    line->purge(platform::purge::TXABORT | platform::purge::TXCLEAR);
    s.dtrControl = platform::dtr::DISABLE;
    line->setState(s);
    s.rtsControl = platform::rts::DISABLE;
    line->setState(s);
    s.rtsControl = platform::rts::ENABLE;
    line->setState(s);
    s.rtsControl = platform::rts::DISABLE;
    line->setState(s);
    s.dtrControl = platform::dtr::ENABLE;
    line->setState(s);  // two TEST pulses: the loader starts
    uint8_t b = 0x80;
    uint32_t done = 0;
    platform::QueueCounts q;
    line->queueCounts(q);
    line->queueCounts(q);
    line->write(&b, 1, done);
    line->queueCounts(q);
    uint8_t got[4] = {};
    line->read(got, 4, done);
    line->close();

    const std::string expected =
        "open \\\\.\\COM9 FAILED\n"
        "open \\\\.\\COM3\n"
        "getState 9600 8N1 dtr=1 rts=1 bin=1 par=0 cts=0 dsr=0 outx=0 inx=0 err=0 null=0 errchar=00\n"
        "setupQueues 512 512\n"
        "setTimeouts 0 0 0 0 0\n"
        "setEventMask 0x87\n"
        "setState 9600 8E1 dtr=1 rts=1 bin=1 par=1 cts=0 dsr=0 outx=0 inx=0 err=0 null=0 errchar=FF\n"
        "purge 0x5\n"
        "setState 9600 8E1 dtr=0 rts=1 bin=1 par=1 cts=0 dsr=0 outx=0 inx=0 err=0 null=0 errchar=FF\n"
        "setState 9600 8E1 dtr=0 rts=0 bin=1 par=1 cts=0 dsr=0 outx=0 inx=0 err=0 null=0 errchar=FF\n"
        "setState 9600 8E1 dtr=0 rts=1 bin=1 par=1 cts=0 dsr=0 outx=0 inx=0 err=0 null=0 errchar=FF\n"
        "setState 9600 8E1 dtr=0 rts=0 bin=1 par=1 cts=0 dsr=0 outx=0 inx=0 err=0 null=0 errchar=FF\n"
        "setState 9600 8E1 dtr=1 rts=0 bin=1 par=1 cts=0 dsr=0 outx=0 inx=0 err=0 null=0 errchar=FF\n"
        "queueCounts in=0 out=0 x2\n"
        "write 80\n"
        "queueCounts in=1 out=0\n"
        "read 90\n"
        "close\n";
    EXPECT_EQ(recording->text(), expected);
    EXPECT_EQ(recording->written(), std::vector<uint8_t>{0x80});
    EXPECT_EQ(recording->received(), std::vector<uint8_t>{0x90});
    auto calls = recording->calls();
    EXPECT_EQ(calls.back().op, platform::SerialCall::Op::Close);
    EXPECT_EQ(calls[calls.size() - 4].timeUs, 200u);  // the write, after two 100 us polls
    EXPECT_NE(recording->text(false).find("queueCounts in=0 out=0\nqueueCounts in=0 out=0\n"), std::string::npos);
    recording->clear();
    EXPECT_TRUE(recording->calls().empty());
}

TEST_F(Recorded, FailuresOfTheInnerLineAreRecordedAsSuch) {
    auto line = open("\\\\.\\COM3");
    ASSERT_NE(line, nullptr);
    instrument.unplug();
    uint8_t b = 1;
    uint32_t done = 0;
    EXPECT_FALSE(line->write(&b, 1, done));
    EXPECT_EQ(recording->text(), "open \\\\.\\COM3\nwrite 01 FAILED\n");
}
