// The console tool as a black box: its exit status, its output lines, and what the simulated
// instrument holds afterwards (read back through the tool itself).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "upload/firmware_package.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status = -1;
    std::string output;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string quote(const std::string& s) { return "'" + s + "'"; }

class Koralbsl : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("koralbsl_" + std::to_string(::getpid()) + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        state_ = (dir_ / "instrument.state").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    ToolRun run(const std::string& args) {
        ToolRun r;
        std::string cmd = "cd " + quote(dir_.string()) + " && " + KORALBSL + " " + args + " 2>&1 </dev/null";
        FILE* p = popen(cmd.c_str(), "r");
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
        int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return r;
    }
    ToolRun sim(const std::string& args) { return run("--simulate --sim-state=" + quote(state_) + " " + args); }

    // The instrument's memory through the driver's own read-out; no password file: the standard one.
    std::string readBack(const std::string& start, const std::string& length, const std::string& password) {
        ToolRun r = sim((password.empty() ? "" : "-p" + password + " ") + "-r" + start + " " + length + " readback.txt");
        EXPECT_EQ(r.status, 0) << r.output;
        return readFile(dir_ / "readback.txt");
    }

    fs::path dir_;
    std::string state_;
};

const std::string kInfoAHex =
    "0102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F20"
    "2122232425262728292A2B2C2D2E2F303132333435363738393A3B3C3D3E3F40";

std::string infoAText() {
    std::string t = "@10C0\r\n";
    for (int i = 0; i < 64; ++i) {
        char v[4];
        std::snprintf(v, sizeof v, "%02X", i + 1);
        t += v;
        t += (i % 16 == 15) ? "\r\n" : " ";
    }
    return t + "q\r\n";
}

TEST_F(Koralbsl, NoArgumentsShowsTheUsageAndFails) {
    ToolRun r = run("");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("KORALBSL [-h]"), std::string::npos) << r.output;
    ToolRun help = run("--help");
    EXPECT_NE(help.output.find("--simulate"), std::string::npos);
    EXPECT_NE(help.output.find("Program Flow Specifiers"), std::string::npos) << "the driver's own usage follows";
}

TEST_F(Koralbsl, UnreadableFilesStopBeforeAnyPortIsOpened) {
    ToolRun r = run("--simulate --transcript=wire.txt -cCOM1 +p missing.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("missing.txt"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("BSL version"), std::string::npos) << "no driver run";
    EXPECT_EQ(readFile(dir_ / "wire.txt"), "") << "nothing on the wire";

    writeFile(dir_ / "img.txt", "@1000\r\n01 02\r\nq\r\n");
    r = run("--simulate -pnokey.txt +p img.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("nokey.txt"), std::string::npos) << r.output;
}

TEST_F(Koralbsl, RealPortThatDoesNotExistFailsCleanly) {
    ToolRun r = run("-cCOM250 +");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("ERROR: Opening COM-Port failed!"), std::string::npos) << r.output;
}

TEST_F(Koralbsl, ReadsInfoAIntoATiTxtFile) {
    ToolRun r = sim("--sim-infoa=" + kInfoAHex + " -r10c0 40 infoa.txt");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readFile(dir_ / "infoa.txt"), infoAText());
    EXPECT_NE(r.output.find("Prog/Verify:"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Programming completed."), std::string::npos);
}

TEST_F(Koralbsl, TranscriptShowsBothDirectionsInOrder) {
    ToolRun r = sim("--transcript=wire.txt +");
    ASSERT_EQ(r.status, 0) << r.output;
    std::string wire = readFile(dir_ / "wire.txt");
    // The first SYNC and its ACK, then the standard password frame begins.
    size_t sync = wire.find("> 80\n"), ack = wire.find("< 90\n"), password = wire.find("> 80 10 24 24 E0 FF 20 00 FF");
    ASSERT_NE(sync, std::string::npos) << wire;
    ASSERT_NE(ack, std::string::npos) << wire;
    ASSERT_NE(password, std::string::npos) << wire;
    EXPECT_LT(sync, ack);
    EXPECT_LT(ack, password);
}

TEST_F(Koralbsl, FaultsBelongToOneRunAndDamagedStateIsNeverSavedBack) {
    ToolRun r = sim("--sim-fault=nak-frame=1+ +");
    EXPECT_EQ(r.status, 1) << r.output;
    r = sim("+");
    EXPECT_EQ(r.status, 0) << "the next run has no faults: " << r.output;

    std::string state = readFile(state_);
    std::string cut = state.substr(0, state.size() - 2);
    writeFile(state_, cut);
    r = sim("+");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("cut short"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("BSL version"), std::string::npos) << "no run on a half instrument";
    EXPECT_EQ(readFile(state_), cut) << "left as it is";
}

// The main job: the whole release into the instrument, InfoA kept across the erase.
class KoralbslUpload : public Koralbsl, public ::testing::WithParamInterface<const char*> {};

TEST_P(KoralbslUpload, ProgramsTheEmbeddedFirmwareAndKeepsInfoA) {
    const std::string version = GetParam();
    fs::copy_file(fs::path(KORAL_PACKAGE_DIR) / "image.txt", dir_ / "firmware.txt");
    fs::copy_file(fs::path(KORAL_PACKAGE_DIR) / "blank_key.txt", dir_ / "key_BLANK.txt");
    fs::copy_file(fs::path(KORAL_PACKAGE_DIR) / "model_key.txt", dir_ / "key_VKT.txt");

    ToolRun r = sim("--sim-bsl-version=" + version + " --sim-infoa=" + kInfoAHex + " -cCOM4 -m3 +aepvr firmware.txt");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Programming completed."), std::string::npos);
    EXPECT_NE(r.output.find("57088 bytes programmed."), std::string::npos) << r.output;
    bool verifyDuringProgramming = version >= std::string("0x0140");
    EXPECT_EQ(r.output.find("Verify... already done during programming.") != std::string::npos, verifyDuringProgramming) << r.output;

    // The instrument now answers to the model key only, and holds the image and its InfoA.
    EXPECT_EQ(readBack("10c0", "40", "key_VKT.txt"), infoAText());
    std::string flash = readBack("2100", "DF00", "key_VKT.txt");
    MemoryImage got, want = embeddedFirmwareImage();
    ASSERT_TRUE(decodeTiTxtImage(reinterpret_cast<const unsigned char*>(flash.data()), flash.size(), got));
    EXPECT_EQ(got.address, 0x2100u);
    EXPECT_EQ(got.bytes, want.bytes);
    ToolRun refused = sim("-pkey_BLANK.txt -r10c0 40 x.txt");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("Password not accepted"), std::string::npos) << refused.output;
}

INSTANTIATE_TEST_SUITE_P(LoaderVersions, KoralbslUpload, ::testing::Values("0x0130", "0x0202"));

// Peers: TI-TXT that srecord writes programs in and reads back the same; srecord reads ours.
class SrecordPeer : public Koralbsl {
protected:
    void SetUp() override {
        Koralbsl::SetUp();
        if (std::string(SREC_CAT).empty() || std::string(SREC_CAT).find("NOTFOUND") != std::string::npos)
            GTEST_SKIP() << "srec_cat is not installed (Debian package srecord)";
    }
};

TEST_F(SrecordPeer, ImagesWrittenBySrecordProgramAndReadBackTheSame) {
    // Three sections: odd lengths, one above 0x8000, gaps between them.
    std::string bin1(301, '\0'), bin2(77, '\0'), bin3(1029, '\0');
    for (size_t i = 0; i < bin1.size(); ++i) bin1[i] = char(i * 7 + 1);
    for (size_t i = 0; i < bin2.size(); ++i) bin2[i] = char(0x80 + i);
    for (size_t i = 0; i < bin3.size(); ++i) bin3[i] = char(i * 13 + 5);
    writeFile(dir_ / "a.bin", bin1);
    writeFile(dir_ / "b.bin", bin2);
    writeFile(dir_ / "c.bin", bin3);
    // srec_cat's files are relative to our directory.
    ASSERT_EQ(std::system(("cd " + quote(dir_.string()) + " && " + SREC_CAT +
                           " a.bin -binary -offset 0x3000 b.bin -binary -offset 0x4401 c.bin -binary -offset 0x9000 -o peer_lf.txt -ti-txt")
                              .c_str()),
              0);
    std::string lf = readFile(dir_ / "peer_lf.txt"), crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    writeFile(dir_ / "peer.txt", crlf);

    ToolRun r = sim("-m1 +epv peer.txt");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(std::to_string(bin1.size() + bin2.size() + bin3.size()) + " bytes programmed."), std::string::npos)
        << r.output;

    // Read each range back with our writer and let srecord turn it into binary again.
    struct Range {
        const char* start;
        const char* length;
        uint32_t address;
        const std::string* bytes;
    } ranges[] = {{"3000", "12E", 0x3000, &bin1}, {"4400", "4E", 0x4401, &bin2}, {"9000", "406", 0x9000, &bin3}};
    for (const Range& range : ranges) {
        readBack(range.start, range.length, "");
        ASSERT_EQ(std::system(("cd " + quote(dir_.string()) + " && " + SREC_CAT + " readback.txt -ti-txt -crop " +
                               std::to_string(range.address) + " " + std::to_string(range.address + range.bytes->size()) +
                               " -offset -" + std::to_string(range.address) + " -o back.bin -binary")
                                  .c_str()),
                  0);
        EXPECT_EQ(readFile(dir_ / "back.bin"), *range.bytes) << "range at " << range.start;
    }
}

}  // namespace
