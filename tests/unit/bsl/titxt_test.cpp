#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine_fixture.h"

namespace {

struct Block {
    uint32_t address;
    Bytes bytes;
    int flags;
    bool operator==(const Block&) const = default;
};
std::vector<Block> g_blocks;
int g_failAt = -1;

int captureBlock(uint32_t address, uint32_t size, int flags) {
    EXPECT_LE(size, BSL_TX_SIZE);
    g_blocks.push_back({address, Bytes(g_cmd.txData, g_cmd.txData + size), flags});
    return int(g_blocks.size()) - 1 == g_failAt ? BSL_ERR_NAK : BSL_OK;
}

class TiTxt : public EngineTest {
protected:
    TiTxt() {
        g_blocks.clear();
        g_failAt = -1;
        setBlockSink(captureBlock);
    }
    int read(const std::string& text, int flags = BLOCK_VERIFY) {
        return readTiTxtBuffer(text.data(), text.size(), flags);
    }
    static std::string lines(int count, int values, uint8_t first = 0) {
        std::string s;
        char hex[4];
        for (int l = 0; l < count; ++l) {
            for (int v = 0; v < values; ++v) {
                std::snprintf(hex, sizeof hex, "%02X", uint8_t(first + l * values + v));
                s += hex;
                s += v + 1 < values ? " " : "\r\n";
            }
        }
        return s;
    }
    std::filesystem::path tempFile(const char* name) {
        return std::filesystem::temp_directory_path() /
               (std::string("koral_titxt_") + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + name);
    }
};

TEST_F(TiTxt, ValuesAreTakenAtEveryThirdCharacterBeforeTheLineEnd) {
    EXPECT_EQ(read("@1000\r\nAA BB CC\r\nq\r\n"), BSL_OK);
    EXPECT_EQ(read("@1000\r\nAA BB CC \r\nq\r\n"), BSL_OK);
    EXPECT_EQ(read("@1000\nAA BB CC\nq\n"), BSL_OK);
    EXPECT_EQ(read("@1000\r\n\r\nAA\r\n\r\nq\r\n"), BSL_OK);
    ASSERT_EQ(g_blocks.size(), 4u);
    EXPECT_EQ(g_blocks[0].bytes, (Bytes{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(g_blocks[1].bytes, (Bytes{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(g_blocks[2].bytes, (Bytes{0xAA, 0xBB}));  // bare LF loses the last value
    EXPECT_EQ(g_blocks[3].bytes, (Bytes{0xAA}));        // empty lines add nothing
    EXPECT_EQ(g_blocks[0].address, 0x1000u);
    EXPECT_EQ(g_byteCount, 1u);
}

TEST_F(TiTxt, LongSectionIsCutAtTheFrameSizeAndSectionsAreNeverJoined) {
    std::string text = "@1100\r\n" + lines(18, 16) + lines(1, 12, 32) + "@2000\r\n" + lines(1, 4) + "q\r\n";
    EXPECT_EQ(read(text, BLOCK_PROGRAM), BSL_OK);
    ASSERT_EQ(g_blocks.size(), 3u);
    EXPECT_EQ(g_blocks[0].address, 0x1100u);
    EXPECT_EQ(g_blocks[0].bytes.size(), 240u);
    EXPECT_EQ(g_blocks[1].address, 0x1100u + 240);
    EXPECT_EQ(g_blocks[1].bytes.size(), 60u);
    EXPECT_EQ(g_blocks[1].bytes[0], 240);
    EXPECT_EQ(g_blocks[2].address, 0x2000u);
    EXPECT_EQ(g_blocks[2].bytes, (Bytes{0, 1, 2, 3}));
    EXPECT_EQ(g_byteCount, 304u);
    for (const auto& b : g_blocks) EXPECT_EQ(b.flags, BLOCK_PROGRAM);
}

TEST_F(TiTxt, SmallerFrameSizeCutsSmallerBlocks) {
    g_set.maxFrameData = 32;
    read("@1000\r\n" + lines(4, 16) + "q\r\n");
    ASSERT_EQ(g_blocks.size(), 2u);
    EXPECT_EQ(g_blocks[1].address, 0x1000u + 32);
    EXPECT_EQ(g_blocks[1].bytes.size(), 32u);
}

TEST_F(TiTxt, OverlongLinesNeverOverrunTheBlockBuffer) {
    // 42 values per line, lines without end and a 100 KB line: blocks stay within the frame size
    // and every value keeps its address.
    std::string wide;
    for (int i = 0; i < 42; ++i) wide += "5A ";
    std::string text = "@1000\r\n";
    for (int i = 0; i < 10; ++i) text += wide + "\r\n";
    EXPECT_EQ(read(text + "q\r\n"), BSL_OK);
    uint32_t expectAddress = 0x1000;
    size_t total = 0;
    for (const auto& b : g_blocks) {
        EXPECT_LE(b.bytes.size(), 240u);
        EXPECT_EQ(b.address, expectAddress);
        expectAddress += uint32_t(b.bytes.size());
        total += b.bytes.size();
    }
    EXPECT_EQ(total, 420u);
    g_blocks.clear();
    EXPECT_EQ(read("@1000\r\n" + std::string(100000, '7')), BSL_OK);
    for (const auto& b : g_blocks) EXPECT_LE(b.bytes.size(), 240u);
}

TEST_F(TiTxt, FirstFailingBlockStopsTheReading) {
    g_failAt = 1;
    std::string text = "@1000\r\n" + lines(1, 4) + "@2000\r\n" + lines(1, 4) + "@3000\r\n" + lines(1, 4) + "q\r\n";
    EXPECT_EQ(read(text), BSL_ERR_NAK);
    EXPECT_EQ(g_blocks.size(), 2u);
    EXPECT_EQ(read(""), BSL_OK);
    EXPECT_EQ(readTiTxtBuffer(nullptr, 0, BLOCK_VERIFY), BSL_OK);
}

TEST_F(TiTxt, ReadingStopsAtQAndAtANulByte) {
    std::string text = "@1000\r\n01 02\r\nq\r\n03 04\r\n";
    read(text);
    std::string nul = std::string("@1000\r\n01 02\r\n") + '\0' + "03 04\r\n";
    read(nul);
    ASSERT_EQ(g_blocks.size(), 2u);
    EXPECT_EQ(g_blocks[0].bytes, (Bytes{1, 2}));
    EXPECT_EQ(g_blocks[1].bytes, (Bytes{1, 2}));
}

TEST_F(TiTxt, ProgressOnlyInAPureProgramPass) {
    std::string text = "@1000\r\n01 02\r\nq\r\n";
    read(text, BLOCK_PROGRAM);
    std::vector<std::pair<uint32_t, uint32_t>> expected = {{0, 17}, {7, 17}, {14, 17}};
    EXPECT_EQ(out.progress, expected);
    out.clear();
    read(text, BLOCK_PROGRAM | BLOCK_VERIFY);
    read(text, BLOCK_VERIFY);
    read(text, BLOCK_PASSWORD);
    EXPECT_TRUE(out.progress.empty());
}

TEST_F(TiTxt, FilesAreReadInBinaryModeAndTheirFirstAddressFound) {
    auto path = tempFile("in.txt");
    {
        std::ofstream f(path, std::ios::binary);
        f << "\r\n@0A20\r\n11 22\r\n@0B00\r\n33 44\r\nq\r\n";
    }
    EXPECT_EQ(readTiTxtFile(path.string().c_str(), BLOCK_PROGRAM), BSL_OK);
    ASSERT_EQ(g_blocks.size(), 2u);
    EXPECT_EQ(g_blocks[0], (Block{0x0A20, {0x11, 0x22}, BLOCK_PROGRAM}));
    EXPECT_EQ(firstTiTxtAddress(path.string().c_str()), 0x0A20);
    std::filesystem::remove(path);

    EXPECT_EQ(readTiTxtFile(path.string().c_str(), BLOCK_PROGRAM), ERR_OPEN_FILE);
    EXPECT_EQ(std::string(g_set.errorFile), path.string());
    EXPECT_EQ(firstTiTxtAddress(path.string().c_str()), 0);
}

TEST_F(TiTxt, WriterLaysOutSixteenValuesPerLineWithCrLf) {
    auto path = tempFile("out.txt");
    Bytes data(20);
    for (int i = 0; i < 20; ++i) data[i] = uint8_t(i);
    openTiTxtOutput(path.string().c_str());
    writeTiTxtWords(0x1000, 10, data.data());
    writeTiTxtWords(0x1014, 1, data.data());   // continues the line
    writeTiTxtWords(0x2000, 1, data.data());   // new section
    closeTiTxtOutput();
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    EXPECT_EQ(s.str(),
              "@1000\r\n"
              "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n"
              "10 11 12 13 00 01 \r\n"
              "@2000\r\n"
              "00 01 \r\n"
              "q\r\n");
    std::filesystem::remove(path);

    // A file that cannot be created: the writer stays quiet.
    openTiTxtOutput((path.string() + "/missing/dir").c_str());
    writeTiTxtWords(0x1000, 1, data.data());
    closeTiTxtOutput();
}

}  // namespace
