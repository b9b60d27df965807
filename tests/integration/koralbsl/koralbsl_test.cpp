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

// Mistakes in the command or its files end the run before any port is opened: exit status 1, a
// message naming what is wrong, the instrument exactly as it was and nothing on the wire.
class KoralbslRefuses : public Koralbsl {
protected:
    void SetUp() override {
        Koralbsl::SetUp();
        ASSERT_EQ(sim("+").status, 0);
        before_ = readFile(state_);
        ASSERT_NE(before_, "");
    }
    void refused(const std::string& args, const std::string& says) {
        ToolRun r = sim("--transcript=wire.txt " + args);
        EXPECT_EQ(r.status, 1) << args << "\n" << r.output;
        EXPECT_NE(r.output.find(says), std::string::npos) << args << "\n" << r.output;
        EXPECT_EQ(r.output.find("BSL version"), std::string::npos) << args;
        EXPECT_EQ(readFile(dir_ / "wire.txt").find("> "), std::string::npos) << args << ": bytes on the wire";
        EXPECT_EQ(readFile(state_), before_) << args << ": the instrument changed";
    }
    std::string before_;
};

TEST_F(KoralbslRefuses, OptionsWithoutTheirValuesAndNamesThatDoNotFit) {
    refused("-cCOM4 -r10c0", "ERROR: -r needs");
    refused("-r10c0 40", "ERROR: -r needs");
    refused("-e", "ERROR: -e needs");
    refused("-p +p img.txt", "ERROR: -p needs");
    const std::string longName(300, 'n');
    refused("-p" + longName + " +", "too long");
    refused("-r10c0 40 " + longName, "too long");
    refused("+p " + longName, "too long");
}

TEST_F(KoralbslRefuses, FilesThatAreNotWellFormed) {
    const std::string sixteen = "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F";
    writeFile(dir_ / "long.txt", "@2100\r\n" + sixteen + " 10\r\nq\r\n");
    refused("+epvr long.txt", "the image file \"long.txt\": line 2: more than 16 values");
    writeFile(dir_ / "noq.txt", "@2100\r\n01 02\r\n");
    refused("+epvr noq.txt", "\"noq.txt\": no final \"q\"");
    writeFile(dir_ / "high.txt", "@12100\r\n01 02\r\nq\r\n");
    refused("+epvr high.txt", "\"high.txt\": line 1: address 0x12100 does not fit 16 bits");
    writeFile(dir_ / "empty.txt", "@2100\r\nq\r\n");
    refused("+epvr empty.txt", "\"empty.txt\" holds no data");
    refused("+epvr", "names no image file");
    refused("-cCOM4", "names no image file");

    writeFile(dir_ / "img.txt", "@2100\r\n01 02\r\nq\r\n");
    writeFile(dir_ / "half_key.txt", "@FFE0\r\n" + sixteen + "\r\nq\r\n");
    refused("-phalf_key.txt +pv img.txt", "the password file \"half_key.txt\": a password file holds exactly the 32 bytes");
    writeFile(dir_ / "split_key.txt", "@FFE0\r\n" + sixteen + "\r\n@FFF0\r\n" + sixteen + "\r\nq\r\n");
    refused("-psplit_key.txt +pv img.txt", "32 bytes at 0xFFE0");
}

TEST_F(KoralbslRefuses, DirectoriesDevicesAndUnreadableFiles) {
    fs::create_directories(dir_ / "adir");
    refused("+p adir", "the image file \"adir\": is a directory");
    refused("-padir +", "\"adir\": is a directory");
    refused("+p /dev/null", "\"/dev/null\": is not a regular file");
    refused("+p missing.txt", "\"missing.txt\": does not exist");
    if (::geteuid() != 0) {
        writeFile(dir_ / "locked.txt", "@2100\r\n01\r\nq\r\n");
        fs::permissions(dir_ / "locked.txt", fs::perms::none);
        refused("+p locked.txt", "\"locked.txt\": cannot be read");
    }
}

// The driver goes on past these with a warning or takes the last of two; from the console they are
// mistakes, and a read past the top of the address space would label bytes with addresses that
// do not exist.
TEST_F(KoralbslRefuses, MistakesTheDriverWouldGoOnPast) {
    writeFile(dir_ / "img.txt", "@2100\r\n01 02\r\nq\r\n");
    refused("+epvr +a img.txt", "one flow argument only: \"+epvr\" and \"+a\"");
    refused("+epvz img.txt", "illegal action letter 'z'");
    refused("-d2000 +", "unknown option -d2000");
    refused("-mfoo +epvr img.txt", "the value of -m is not a number: \"foo\"");
    refused("-s9x +", "the value of -s is not a number");
    refused("-rFFF0 100 out.txt", "goes past the top of the address space (0xFFFF)");
    refused("-r0 100001 out.txt", "ERROR: Read length above 0x100000!");
    EXPECT_EQ(sim("-r0 100001 out.txt").output.find("Communication Error"), std::string::npos);
    refused("-r10c0 40 instrument.state", "the -r read-out and the state file are one file");
    refused("--transcript=instrument.state +", "the transcript and the state file are one file");
}

// "+a" holds InfoA in memory across the mass erase; the console tool puts it on disk first, so a
// run cut in between loses nothing, and deletes it once InfoA is back and reads back equal.
TEST_F(Koralbsl, InfoAHeldAcrossTheEraseIsOnDiskUntilItIsBack) {
    setenv("TMPDIR", dir_.c_str(), 1);
    fs::copy_file(fs::path(KORAL_PACKAGE_DIR) / "image.txt", dir_ / "firmware.txt");
    fs::copy_file(fs::path(KORAL_PACKAGE_DIR) / "blank_key.txt", dir_ / "key_BLANK.txt");
    fs::copy_file(fs::path(KORAL_PACKAGE_DIR) / "model_key.txt", dir_ / "key_VKT.txt");
    auto kept = [&] {
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(dir_))
            if (e.path().filename().string().rfind("KORLDR_INFOA_", 0) == 0) files.push_back(e.path());
        return files;
    };
    ToolRun r = sim("--sim-infoa=" + kInfoAHex + " --sim-fault=silence-frame=1/0x18 -pkey_BLANK.txt -m3 +aepvr firmware.txt");
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(kept().size(), 1u) << r.output;
    const fs::path copy = kept()[0];
    EXPECT_EQ(readFile(copy), infoAText());
    EXPECT_NE(r.output.find("is kept in \"" + copy.string() + "\""), std::string::npos) << r.output;
    EXPECT_EQ(readBack("10c0", "40", ""), std::string("@10C0\r\n") + "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF\r\n" +
                                              "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF\r\n" +
                                              "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF\r\n" +
                                              "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF\r\nq\r\n");

    ASSERT_EQ(sim("-pkey_BLANK.txt +pv " + quote(copy.string())).status, 0);
    r = sim("-pkey_BLANK.txt -m3 +aepvr firmware.txt");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("InfoA is back in the instrument;"), std::string::npos) << r.output;
    EXPECT_EQ(kept(), std::vector<fs::path>{copy}) << "the second run's copy is gone; the first is not its own";
    EXPECT_EQ(readBack("10c0", "40", "key_VKT.txt"), infoAText());
    unsetenv("TMPDIR");
}

// What srecord and most Linux tools write: every value arrives, also in a password.
TEST_F(Koralbsl, FilesWithLfLineEndsAreHandedOnWithCrLf) {
    std::string key = "@FFE0\n", image = "@2100\n";
    for (int i = 0; i < 32; ++i) key += i % 16 == 15 ? "FF\n" : "FF ";
    key += "q\n";
    for (int i = 0; i < 40; ++i) {
        char v[4];
        std::snprintf(v, sizeof v, "%02X", i + 1);
        image += v;
        image += i % 16 == 15 || i == 39 ? "\n" : " ";
    }
    image += "q\n";
    writeFile(dir_ / "key_lf.txt", key);
    writeFile(dir_ / "image_lf.txt", image);
    ToolRun r = sim("--sim-bsl-version=0x0202 -pkey_lf.txt +pv image_lf.txt");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("40 bytes programmed."), std::string::npos) << r.output;
    std::string back = readBack("2100", "28", "");
    EXPECT_EQ(back.substr(0, 7), "@2100\r\n");
    EXPECT_NE(back.find("21 22 23 24 25 26 27 28"), std::string::npos) << back;
}

TEST_F(Koralbsl, ProgressBarOnlyOnATerminal) {
    if (std::system("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "script (util-linux) is not installed";
    fs::copy_file(fs::path(KORAL_PACKAGE_DIR) / "image.txt", dir_ / "firmware.txt");
    // script gives the tool a terminal; its standard output goes to a file.
    std::string cmd = "cd " + quote(dir_.string()) + " && script -qec " +
                      quote(std::string(KORALBSL) + " --simulate -m1 +ep firmware.txt >stdout.txt") +
                      " terminal.txt >/dev/null 2>&1 </dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << readFile(dir_ / "terminal.txt");
    std::string terminal = readFile(dir_ / "terminal.txt"), out = readFile(dir_ / "stdout.txt");
    EXPECT_NE(terminal.find("%  "), std::string::npos) << terminal;
    EXPECT_NE(terminal.find(" of 178410 bytes"), std::string::npos) << terminal;
    EXPECT_NE(terminal.find(" left"), std::string::npos) << terminal;
    EXPECT_NE(out.find("57088 bytes programmed."), std::string::npos) << out;
    EXPECT_EQ(out.find(" of 178410 bytes"), std::string::npos) << "the bar stays on the terminal";
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
    EXPECT_EQ(r.output.find("bytes, "), std::string::npos) << "no progress bar into a pipe";
    EXPECT_EQ(r.output.find('\x1b'), std::string::npos);
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
