#include "engine_fixture.h"

namespace {

class Memory : public EngineTest {
protected:
    void SetUp() override {
        open();
        fake.wire.locked = false;
    }
};

TEST_F(Memory, VerifyOfAMatchingBlockPrintsTheCheckLineCompletedByError0) {
    for (int i = 0; i < 240; ++i) fake.wire.mem[0x1100 + i] = g_cmd.txData[i] = uint8_t(i * 7);
    EXPECT_EQ(checkBlock(0x1100, 240, BLOCK_VERIFY), BSL_OK);
    EXPECT_EQ(out.pieces, (std::vector<std::string>{"Check starting at 1100, 240 bytes... ", "Error: 0\n"}));
}

TEST_F(Memory, FirstDifferenceOrNonBlankByteIsReported) {
    fake.wire.mem[0x1102] = 0x3F;
    fake.wire.mem[0x1105] = 0x00;
    EXPECT_EQ(checkBlock(0x1100, 16, BLOCK_ERASE_CHECK), ERR_ERASE_CHECK);
    EXPECT_EQ(out.lines().back(), "Erase Check failed at 1102 (3f)");

    out.clear();
    std::memset(g_cmd.txData, 0xFF, 16);
    EXPECT_EQ(checkBlock(0x1100, 16, BLOCK_VERIFY), ERR_VERIFY);
    EXPECT_EQ(out.lines().back(), "Verification failed at 1102 (3f, ff)");

    EXPECT_EQ(checkBlock(0x1100, 16, BLOCK_PROGRAM), BSL_OK);  // not a check mode
}

TEST_F(Memory, OddBlockIsComparedFromItsOwnFirstByte) {
    for (int i = 0; i < 8; ++i) fake.wire.mem[0x1000 + i] = uint8_t(0x10 + i);
    for (int i = 0; i < 5; ++i) g_cmd.txData[i] = uint8_t(0x11 + i);
    EXPECT_EQ(checkBlock(0x1001, 5, BLOCK_VERIFY), BSL_OK);
}

TEST_F(Memory, FastCheckAnyFailureIsAnEraseCheckFailure) {
    EXPECT_EQ(checkBlock(0x1100, 64, BLOCK_FAST_CHECK), BSL_OK);
    EXPECT_EQ(Bytes(fake.wire.frames[0].begin(), fake.wire.frames[0].begin() + 8),
              (Bytes{0x80, 0x1C, 4, 4, 0x00, 0x11, 64, 0}));
    fake.wire.mem[0x1120] = 0;
    out.clear();
    EXPECT_EQ(checkBlock(0x1100, 64, BLOCK_FAST_CHECK), ERR_ERASE_CHECK);
    EXPECT_EQ(out.pieces, (std::vector<std::string>{"Fast Check starting at 1100, 64 bytes... ", "Error: 7\n"}));
    fake.wire.scripted.push_back({});
    EXPECT_EQ(checkBlock(0x1100, 64, BLOCK_FAST_CHECK), ERR_ERASE_CHECK);
}

TEST_F(Memory, OnePassBlockIsCheckedProgrammedAndVerifiedInOrder) {
    for (int i = 0; i < 4; ++i) g_cmd.txData[i] = uint8_t(0xA0 + i);
    EXPECT_EQ(processBlock(0x4000, 4, BLOCK_ERASE_CHECK | BLOCK_PROGRAM | BLOCK_VERIFY), BSL_OK);
    ASSERT_EQ(fake.wire.frames.size(), 3u);
    EXPECT_EQ(fake.wire.frames[0][1], CMD_READ_BLOCK);
    EXPECT_EQ(fake.wire.frames[1][1], CMD_WRITE_BLOCK);
    EXPECT_EQ(fake.wire.frames[2][1], CMD_READ_BLOCK);
    // Now not blank: the erase check fails before anything is written.
    EXPECT_EQ(processBlock(0x4000, 4, BLOCK_ERASE_CHECK | BLOCK_PROGRAM), ERR_ERASE_CHECK);
    EXPECT_EQ(fake.wire.frames.size(), 4u);
}

TEST_F(Memory, ProgrammingNakPrintsTheErrorLine) {
    fake.wire.scripted.push_back({0xA0});
    EXPECT_EQ(processBlock(0x1100, 240, BLOCK_PROGRAM | BLOCK_VERIFY), BSL_ERR_NAK);
    EXPECT_EQ(out.lines(), (std::vector<std::string>{"Error 7 programming at 1100, 240 bytes"}));
    EXPECT_EQ(fake.wire.frames.size(), 1u);
}

TEST_F(Memory, ExtendedBlocksAreBracketedByOffsetCommands) {
    g_set.flow |= FLOW_EXTENDED;
    g_cmd.txData[0] = 0x12, g_cmd.txData[1] = 0x34;
    EXPECT_EQ(processBlock(0x1F000, 2, BLOCK_PROGRAM | BLOCK_VERIFY), BSL_OK);
    std::vector<std::pair<uint8_t, uint16_t>> seen;  // command, address or offset
    for (const auto& f : fake.wire.frames)
        seen.emplace_back(f[1], f[1] == CMD_SET_OFFSET ? uint16_t(f[6] | f[7] << 8) : uint16_t(f[4] | f[5] << 8));
    std::vector<std::pair<uint8_t, uint16_t>> expected = {
        {CMD_SET_OFFSET, 1}, {CMD_WRITE_BLOCK, 0xF000}, {CMD_SET_OFFSET, 0},
        {CMD_SET_OFFSET, 1}, {CMD_READ_BLOCK, 0xF000},  {CMD_SET_OFFSET, 0}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(out.pieces[0], "Check starting at 1f000, 2 bytes... ");
}

TEST_F(Memory, StandardPasswordFrame) {
    EXPECT_EQ(sendPassword(nullptr, nullptr, 0), BSL_OK);
    Bytes expected = {0x80, 0x10, 0x24, 0x24, 0xE0, 0xFF, 0x20, 0x00};
    expected.insert(expected.end(), 32, 0xFF);
    // The complement of the XORed words 0x1080, 0x2424, 0xFFE0, 0x0020 (the FF words cancel).
    uint16_t ck = uint16_t(~(0x1080 ^ 0x2424 ^ 0xFFE0 ^ 0x0020));
    expected.push_back(uint8_t(ck));
    expected.push_back(uint8_t(ck >> 8));
    EXPECT_EQ(fake.wire.frames[0], expected);
    EXPECT_EQ(out.text(), "Transmit standard password...\n");
}

TEST_F(Memory, PasswordFileIsSentButNeverShown) {
    const std::string secret = "@FFE0\r\n" + std::string("C0 FF EE 00 11 22 33 44 55 66 77 88 99 AA BB CC\r\n") +
                               "DD EE FF 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D\r\nq\r\n";
    EXPECT_EQ(sendPassword("key_VKT.txt", secret.data(), secret.size()), BSL_ERR_NAK);
    EXPECT_EQ(out.text(), "Transmit PSW file \"key_VKT.txt\"...\n");
    ASSERT_EQ(fake.wire.frames.size(), 1u);
    EXPECT_EQ(fake.wire.frames[0][8], 0xC0);
    EXPECT_EQ(fake.wire.frames[0][2], 0x24);
    // A named file without text cannot unlock anything.
    EXPECT_EQ(sendPassword("key_VKT.txt", nullptr, 0), ERR_OPEN_FILE);
}

}  // namespace
