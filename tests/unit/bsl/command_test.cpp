#include "engine_fixture.h"

namespace {

class CommandLayer : public EngineTest {
protected:
    void SetUp() override {
        open();
        fake.wire.locked = false;
    }
};

TEST_F(CommandLayer, EveryCommandIsPrecededByItsOwnSync) {
    EXPECT_EQ(bslCommand(CMD_MASS_ERASE, 0xFF00, 0xA506, nullptr, nullptr), BSL_OK);
    uint8_t reply[BSL_REPLY_SIZE];
    size_t mark = fake.wire.written.size();
    bslCommand(CMD_READ_BLOCK, 0x0FF0, 14, nullptr, reply);
    EXPECT_EQ(Bytes(fake.wire.written.begin(), fake.wire.written.begin() + 11),
              (Bytes{0x80, 0x80, 0x18, 0x04, 0x04, 0x00, 0xFF, 0x06, 0xA5, 0x7D, 0xB9}));
    EXPECT_EQ(wireFrom(mark), (Bytes{0x80, 0x80, 0x14, 0x04, 0x04, 0xF0, 0x0F, 0x0E, 0x00, 0x85, 0xE0}));
    EXPECT_EQ(reply[0], 0xF1);
}

TEST_F(CommandLayer, SyncFailureSendsNoFrame) {
    fake.wire.answerSync = false;
    EXPECT_EQ(bslCommand(CMD_MASS_ERASE, 0xFF00, 0xA506, nullptr, nullptr), BSL_ERR_SYNC);
    EXPECT_TRUE(fake.wire.frames.empty());
}

TEST_F(CommandLayer, OddWritesAndReadsStartAtTheEvenAddressBelow) {
    const uint8_t data[3] = {0xB0, 0xB1, 0xB2};
    EXPECT_EQ(bslCommand(CMD_WRITE_BLOCK, 0x1001, 3, data, nullptr), BSL_OK);
    const Bytes& w = fake.wire.frames.back();
    EXPECT_EQ(w[2], 8);
    EXPECT_EQ(Bytes(w.begin() + 4, w.begin() + 12), (Bytes{0x00, 0x10, 0x04, 0x00, 0xFF, 0xB0, 0xB1, 0xB2}));
    EXPECT_EQ(fake.wire.mem[0x1001], 0xB0);
    EXPECT_EQ(fake.wire.mem[0x1003], 0xB2);

    uint8_t reply[BSL_REPLY_SIZE] = {};
    EXPECT_EQ(bslCommand(CMD_READ_BLOCK, 0x1001, 3, nullptr, reply), BSL_OK);
    const Bytes& r = fake.wire.frames.back();
    EXPECT_EQ(Bytes(r.begin() + 4, r.begin() + 8), (Bytes{0x00, 0x10, 0x04, 0x00}));
    EXPECT_EQ(Bytes(reply, reply + 4), (Bytes{0xFF, 0xB0, 0xB1, 0xB2}));

    // An even write of odd length gets one 0xFF appended.
    bslCommand(CMD_WRITE_BLOCK, 0x2000, 3, data, nullptr);
    EXPECT_EQ(fake.wire.frames.back()[6], 4);
    EXPECT_EQ(fake.wire.frames.back()[11], 0xFF);
}

TEST_F(CommandLayer, ReadAnswerOfTheWrongLengthIsRefused) {
    uint8_t reply[BSL_REPLY_SIZE];
    fake.wire.scripted.push_back(FakeWire::dataFrame({1, 2}));
    EXPECT_EQ(bslCommand(CMD_READ_BLOCK, 0x1000, 4, nullptr, reply), BSL_ERR_ANSWER);
    fake.wire.scripted.push_back({0x90});
    EXPECT_EQ(bslCommand(CMD_READ_BLOCK, 0x1000, 4, nullptr, reply), BSL_ERR_ANSWER);
    // The reply buffer never takes more than it holds.
    struct {
        uint8_t small[4];
        uint8_t guard[4];
    } buf;
    std::memset(buf.guard, 0xEE, 4);
    fake.wire.scripted.push_back(FakeWire::dataFrame(Bytes(8, 0x11)));
    bslCommand(CMD_READ_BLOCK, 0x1000, 4, nullptr, buf.small, sizeof buf.small);
    EXPECT_EQ(buf.guard[0], 0xEE);
    EXPECT_EQ(buf.small[3], 0x11);
}

TEST_F(CommandLayer, IdentityDecidesPatchAndWarning) {
    fake.wire.setVersion(0x0140);
    EXPECT_EQ(readLoaderIdentity(), BSL_OK);
    EXPECT_EQ(out.pieces, (std::vector<std::string>{"BSL version: 1.40", " - Family member: F149",
                                                     " - Process: 0102\n"}));
    EXPECT_FALSE(g_cmd.warning);
    EXPECT_FALSE(g_cmd.patchRequired);
    EXPECT_EQ(g_cmd.identity.verifyErrorAddress, 0x021E);

    out.clear();
    fake.wire.setVersion(0x0110);
    readLoaderIdentity();
    EXPECT_EQ(out.lines().back(), "Patch for flash programming required!");
    EXPECT_TRUE(g_cmd.warning);
    EXPECT_TRUE(g_cmd.patchRequired);

    fake.wire.setVersion(0x0160);
    readLoaderIdentity();
    EXPECT_EQ(g_cmd.identity.verifyErrorAddress, 0x0200);
}

TEST_F(CommandLayer, FailedIdentityReadKeepsTheLastOne) {
    fake.wire.setVersion(0x0150);
    readLoaderIdentity();
    out.clear();
    fake.wire.scripted.push_back({0xA0});
    EXPECT_EQ(readLoaderIdentity(), BSL_OK);
    EXPECT_TRUE(out.pieces.empty());
    EXPECT_EQ(g_cmd.identity.version(), 0x0150);
}

TEST_F(CommandLayer, PatchBracketJumpsTo0220AndSilencesTheWarning) {
    EXPECT_EQ(patchPreStep(), BSL_OK);
    EXPECT_TRUE(fake.wire.frames.empty());
    g_cmd.patchActive = true;
    g_cmd.warning = true;
    EXPECT_EQ(patchPreStep(), BSL_OK);
    EXPECT_EQ(Bytes(fake.wire.frames[0].begin(), fake.wire.frames[0].begin() + 8),
              (Bytes{0x80, 0x1A, 4, 4, 0x20, 0x02, 0, 0}));
    EXPECT_FALSE(g_cmd.warning);
    patchPostStep();
    EXPECT_TRUE(g_cmd.warning);
    fake.wire.scripted.push_back({0xA0});
    EXPECT_EQ(patchPreStep(), BSL_ERR_NAK);
}

TEST_F(CommandLayer, BaudChangeFollowsTheFamilyTable) {
    readLoaderIdentity();  // family F1
    g_set.baudMode = 2;
    EXPECT_EQ(changeBaudRate(), BSL_OK);
    const Bytes& f = fake.wire.frames.back();
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 8), (Bytes{0x80, 0x20, 4, 4, 0xE0, 0x87, 0x02, 0x00}));
    EXPECT_EQ(getBaudRate(), 38400u);
    EXPECT_EQ(out.text().substr(out.text().find("Change")),
              "Change Baudrate from 9600 to 38400 Baud (Mode: 2)\n");

    // Same rate: nothing sent. Mode 5 counts as 0 and is stored back.
    size_t frames = fake.wire.frames.size();
    g_set.baudMode = 2;
    changeBaudRate();
    EXPECT_EQ(fake.wire.frames.size(), frames);
    g_set.baudMode = 5;
    changeBaudRate();
    EXPECT_EQ(g_set.baudMode, 0);
    EXPECT_EQ(fake.wire.frames.back()[5], 0x85);
    EXPECT_EQ(getBaudRate(), 9600u);

    // Refused: the rate stays and the step does not fail.
    out.clear();
    g_set.baudMode = 1;
    fake.wire.scripted.push_back({0xA0});
    EXPECT_EQ(changeBaudRate(), BSL_OK);
    EXPECT_EQ(out.text(), "Change Baudrate command not accepted. Baudrate remains at 9600 Baud\n");
    EXPECT_EQ(getBaudRate(), 9600u);
}

TEST_F(CommandLayer, BaudChangeOnUnknownFamilyIsSkipped) {
    fake.wire.mem[0x0FF0] = 0x13;
    readLoaderIdentity();
    out.clear();
    size_t frames = fake.wire.frames.size();
    g_set.baudMode = 1;
    EXPECT_EQ(changeBaudRate(), BSL_OK);
    EXPECT_EQ(fake.wire.frames.size(), frames);
    EXPECT_EQ(out.text(), "Baudrate change not supported for family member 13. Baudrate remains at 9600 Baud\n");
}

}  // namespace
