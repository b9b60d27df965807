#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "engine_fixture.h"
#include "platform/os/resources.h"

namespace {

class Driver : public EngineTest {
protected:
    int run(std::vector<std::string> args, const std::string* password = nullptr,
            const std::string* firmware = nullptr) {
        std::vector<const char*> argv{"koralbsl"};
        for (const auto& a : args) argv.push_back(a.c_str());
        return bslMain(int(argv.size()), argv.data(), password ? password->data() : nullptr,
                       password ? password->size() : 0, firmware ? firmware->data() : nullptr,
                       firmware ? firmware->size() : 0);
    }
    std::vector<uint8_t> commands() const {
        std::vector<uint8_t> c;
        for (const auto& f : fake.wire.frames) c.push_back(f[1]);
        return c;
    }
    // Lines up to the timing line, which depends on time.
    std::vector<std::string> linesBeforeTiming() const {
        auto l = out.lines();
        if (!l.empty() && l.back().rfind("Prog/Verify: ", 0) == 0) l.pop_back();
        return l;
    }
    int finalResets() const {
        // The plain reset: DTR off, then on again with RTS on, without RTS pulses in between.
        int n = 0;
        const auto& s = fake.wire.states;
        for (size_t i = 0; i + 1 < s.size(); ++i)
            if (s[i].dtrControl == 0 && s[i].rtsControl == 1 && s[i + 1].dtrControl == 1 && s[i + 1].rtsControl == 1 &&
                i >= 2 && s[i - 1].dtrControl == 1 && s[i - 2].dtrControl == 1)
                ++n;
        return n;
    }
    std::string tempPath(const char* name) {
        return (std::filesystem::temp_directory_path() / (std::string("koral_drv_") + name)).string();
    }
    static std::string slurp(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
};

TEST_F(Driver, UsageWithoutArgumentsOpensNoPort) {
    std::vector<const char*> argv{"koralbsl"};
    EXPECT_EQ(bslMain(1, argv.data(), nullptr, 0, nullptr, 0), 1);
    EXPECT_EQ(fake.wire.opens, 0);
    auto lines = out.lines();
    ASSERT_EQ(lines.size(), 38u);
    EXPECT_EQ(lines[0], "KORALBSL [-h][-c{port}][-s{num}][-p{file}][-w][-1][-m{num}][+ecpvruw] {file}");
    EXPECT_EQ(lines[35], "Default Program Flow Specifiers (if not explicitly given): +ecpvr");
    EXPECT_EQ(out.pieces.back(), "Press any key to exit... ");
    EXPECT_EQ(keyReads(), 1);

    out.clear();
    EXPECT_EQ(run({"-c5", "-H", "-cnever"}), 1);
    EXPECT_EQ(fake.wire.opens, 0);
    EXPECT_EQ(std::string(g_set.portName), "\\\\.\\5");  // parsing stopped at -h
}

TEST_F(Driver, ReadInfoAToFile) {
    for (int i = 0; i < 64; ++i) fake.wire.mem[0x10C0 + i] = uint8_t(i);
    std::string path = tempPath("infoa.txt");
    EXPECT_EQ(run({"-cCOM4", "-r10c0", "40", path}), 0);
    EXPECT_EQ(fake.wire.openedPath, "\\\\.\\COM4");
    EXPECT_EQ(commands(), (std::vector<uint8_t>{CMD_SEND_PASSWORD, CMD_READ_BLOCK, CMD_READ_BLOCK}));
    EXPECT_EQ(linesBeforeTiming(), (std::vector<std::string>{
                                       "Transmit standard password...",
                                       "BSL version: 1.40 - Family member: F149 - Process: 0102",
                                       "Read memory to file: " + path + " Start: 0x10C0 Length 0x40  ",
                                       "  Read memory Start: 0x10C0 Length 64",
                                   }));
    EXPECT_TRUE(std::regex_match(out.lines().back(), std::regex(R"(Prog/Verify: \d+\.\d sec - Over all: \d+\.\d sec)")));
    std::string file = slurp(path);
    EXPECT_EQ(file.substr(0, 56), "@10C0\r\n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n");
    EXPECT_EQ(file.substr(file.size() - 3), "q\r\n");
    EXPECT_EQ(finalResets(), 1);
    EXPECT_FALSE(serialPortOpen());
    std::filesystem::remove(path);
}

TEST_F(Driver, OddReadKeepsEveryByteAtItsAddress) {
    for (int i = 0; i < 8; ++i) fake.wire.mem[0x10C0 + i] = uint8_t(0xA0 + i);
    std::string path = tempPath("odd.txt");
    EXPECT_EQ(run({"-r10c1", "3", path}), 0);
    EXPECT_EQ(slurp(path), "@10C0\r\nA0 A1 A2 A3 \r\nq\r\n");
    EXPECT_EQ(run({"-r10c0", "200000", path}), 1);
    EXPECT_EQ(out.lines().back(), "ERROR: Read length above 0x100000!") << "refused before the port opens";
    std::filesystem::remove(path);
}

TEST_F(Driver, PlusAloneDoesOnlyPasswordAndIdentity) {
    EXPECT_EQ(run({"+"}), 0);
    Bytes wire = {0x80, 0x80, 0x10, 0x24, 0x24, 0xE0, 0xFF, 0x20, 0x00};
    wire.insert(wire.end(), 32, 0xFF);
    uint16_t ck = uint16_t(~(0x1080 ^ 0x2424 ^ 0xFFE0 ^ 0x0020));
    wire.insert(wire.end(), {uint8_t(ck), uint8_t(ck >> 8)});
    wire.insert(wire.end(), {0x80, 0x80, 0x14, 0x04, 0x04, 0xF0, 0x0F, 0x0E, 0x00, 0x85, 0xE0});
    EXPECT_EQ(fake.wire.written, wire);
    EXPECT_EQ(commands(), (std::vector<uint8_t>{CMD_SEND_PASSWORD, CMD_READ_BLOCK}));
    EXPECT_EQ(finalResets(), 0);
    EXPECT_EQ(out.lines().size(), 3u);
}

TEST_F(Driver, BadArgumentsAreReportedAndTheRunGoesOn) {
    EXPECT_EQ(run({"-d2000", "+z", "+"}), 0);
    auto lines = out.lines();
    EXPECT_EQ(lines[0], "ERROR: Illegal command line parameter!");
    EXPECT_EQ(lines[1], "ERROR: Illegal action specified!");
    EXPECT_EQ(fake.wire.opens, 1);

    out.clear();
    EXPECT_EQ(run({"-wfoo", "-xbar", "+"}), 0);
    EXPECT_EQ(out.text().find("Illegal"), std::string::npos);
    EXPECT_TRUE(g_set.flow & FLOW_WAIT);
    EXPECT_TRUE(g_set.flow & FLOW_EXTENDED);
    EXPECT_EQ(keyReads(), 1);
}

// A forgotten value once left the default flow in force: twenty mass erases, InfoA gone.
TEST_F(Driver, OptionsWithoutTheirValuesEndTheRunBeforeThePortOpens) {
    const std::vector<std::vector<std::string>> cases = {
        {"-cCOM4", "-r10c0"},        {"-r10c0", "40"},          {"-r10c0", "40", ""},
        {"-r10c0", "40", "-cCOM4"},  {"-r", "40", "f.txt"},     {"-r10c0", "zz", "f.txt"},
        {"-e"},                      {"-eGARBAGE", "x"},        {"-p", "key.txt", "fw.txt"},
        {"-a", "+p", "fw.txt"},      {"-b"},                    {"-c", "+"},
    };
    for (const auto& args : cases) {
        out.clear();
        std::string option = (args[0] == "-cCOM4" ? args[1] : args[0]).substr(0, 2);
        EXPECT_EQ(run(args), 1) << option;
        EXPECT_EQ(fake.wire.opens, 0) << option;
        ASSERT_EQ(out.lines().size(), 1u) << option;
        EXPECT_EQ(out.lines()[0].rfind("ERROR: " + option + " needs ", 0), 0u) << out.lines()[0];
    }
}

TEST_F(Driver, PlanTellsWhatARunWillReadWithoutRunningIt) {
    auto plan = [](std::vector<const char*> args) {
        args.insert(args.begin(), "koralbsl");
        return bslPlanRun(int(args.size()), args.data());
    };
    BslRunPlan p = plan({"-cCOM4", "-pkey_VKT.txt", "-m3", "+aepvr", "first.txt", "firmware.txt"});
    EXPECT_EQ(p.imageFile, "firmware.txt") << "the last plain argument counts";
    EXPECT_EQ(p.passwordFile, "key_VKT.txt");
    EXPECT_TRUE(p.readsImage);
    EXPECT_FALSE(p.endsBeforePort);
    p = plan({"-r10c0", "40", "backup.txt"});
    EXPECT_EQ(p.imageFile, "");
    EXPECT_FALSE(p.readsImage);
    p = plan({"-e1000", "skipped.txt", "img.txt", "-x"});
    EXPECT_EQ(p.imageFile, "img.txt") << "-e skips the argument after it";
    EXPECT_FALSE(p.readsImage);
    EXPECT_TRUE(p.extended);
    EXPECT_TRUE(plan({}).endsBeforePort);
    EXPECT_TRUE(plan({"-pmissing.txt", "-h"}).endsBeforePort);
    EXPECT_TRUE(plan({"-r10c0"}).endsBeforePort);
    EXPECT_TRUE(out.pieces.empty()) << "nothing printed";
    EXPECT_EQ(keyReads(), 0);
    EXPECT_EQ(fake.wire.opens, 0);
    EXPECT_EQ(std::string(g_set.portName), "COM1") << "the settings are left as they were";
}

TEST_F(Driver, NamesThatDoNotFitAreRefusedNeverCut) {
    const std::string fits(BSL_NAME_SIZE - 1, 'n'), tooLong(BSL_NAME_SIZE, 'n');
    const std::vector<std::vector<std::string>> cases = {
        {"-p" + tooLong}, {"-a" + tooLong}, {"-b" + tooLong}, {"-r10c0", "40", tooLong}, {"+p", tooLong},
        {"-c" + std::string(BSL_NAME_SIZE - 4, 'c')}};
    for (const auto& args : cases) {
        out.clear();
        EXPECT_EQ(run(args), 1);
        EXPECT_EQ(fake.wire.opens, 0);
        ASSERT_EQ(out.lines().size(), 1u);
        EXPECT_NE(out.lines()[0].find("too long"), std::string::npos) << out.lines()[0];
    }
    EXPECT_EQ(run({"+", fits}), 0);
    EXPECT_EQ(std::string(g_set.fileName), fits);
}

TEST_F(Driver, ReadOutThatCannotBeWrittenFailsTheRun) {
    std::string path = tempPath("no_such_dir") + "/infoa.txt";
    EXPECT_EQ(run({"-r10c0", "40", path}), 1);
    EXPECT_EQ(out.lines().back(), "ERROR: Unable to write output file \"" + path + "\"!");
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(finalResets(), 1) << "the target is still restarted";
}

TEST_F(Driver, PasswordTravelsWholeWhateverTheFrameMaximum) {
    std::string key = "@FFE0\r\n";
    for (int i = 0; i < 32; ++i) key += i % 16 == 15 ? "FF\r\n" : "FF ";
    key += "q\r\n";
    EXPECT_EQ(run({"-f16", "-pkey.txt", "+"}, &key), 0);
    std::vector<uint8_t> cmds = commands();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), CMD_SEND_PASSWORD), 1);
    EXPECT_EQ(fake.wire.frames[0][2], 4 + 32) << "one frame with all 32 bytes";
}

TEST_F(Driver, FailedFirstIdentityReadTakesThePatchPath) {
    fake.wire.locked = false;
    fake.wire.scripted.push_back({0x90});  // password
    fake.wire.scripted.push_back({0xA0});  // identity read refused
    EXPECT_EQ(run({"+"}), 1);
    EXPECT_EQ(g_cmd.identity.version(), 0);
    EXPECT_TRUE(g_cmd.patchRequired);
    EXPECT_EQ(out.lines().back(), "ERROR: Unable to open input file \"PATCH.TXT\"!");
}

TEST_F(Driver, MissingFirmwareTextIsAnOpenFailure) {
    EXPECT_EQ(run({"+p", "image.txt"}), 1);
    EXPECT_EQ(out.lines().back(), "ERROR: Unable to open input file \"image.txt\"!");
}

TEST_F(Driver, UnopenablePort) {
    fake.wire.failOpen = true;
    EXPECT_EQ(run({"-w", "+"}), 1);
    EXPECT_EQ(out.pieces[0], "ERROR: Opening COM-Port failed!\n");
    EXPECT_EQ(keyReads(), 1);
}

TEST_F(Driver, RefusedPasswordInTheInfoARead) {
    std::string password = "@FFE0\r\n";
    for (int i = 0; i < 32; ++i) password += i % 16 == 15 ? "5A\r\n" : "5A ";
    password += "q\r\n";
    std::string path = tempPath("refused.txt");
    std::filesystem::remove(path);
    EXPECT_EQ(run({"-pkey_BLANK.txt", "-r10c0", "40", path}, &password), 1);
    EXPECT_EQ(out.lines().back(), "Password not accepted");
    EXPECT_EQ(finalResets(), 1);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(out.text().find("5A"), std::string::npos);
}

TEST_F(Driver, SilentTargetFailsSync) {
    fake.wire.answerSync = false;
    EXPECT_EQ(run({"+"}), 1);
    auto lines = out.lines();
    EXPECT_EQ(lines[lines.size() - 2], "ERROR: Synchronization failed!");
    EXPECT_EQ(lines.back(), "Device with boot loader connected?");
}

TEST_F(Driver, TargetThatStopsAnsweringIsACommunicationError) {
    fake.wire.scripted.push_back({});
    EXPECT_EQ(run({"+"}), 1);
    EXPECT_EQ(out.lines().back(), "ERROR: Communication Error!");
}

TEST_F(Driver, SettingsThatCarryOverAndThoseThatDoNot) {
    std::string standard = "@FFE0\r\n";
    for (int i = 0; i < 32; ++i) standard += i % 16 == 15 ? "FF\r\n" : "FF ";
    EXPECT_EQ(run({"-cCOM7", "-f100", "-m0", "-s1", "-w", "-pkey.txt", "-aP.TXT", "+"}, &standard), 0);
    EXPECT_EQ(out.lines()[0], "Max. number of data bytes within one frame set to 96.");
    EXPECT_EQ(out.lines()[1], "Number of mass erase cycles set to 1.");
    EXPECT_EQ(g_set.baudMode, 1);
    EXPECT_EQ(getBaudRate(), 19200u);

    out.clear();
    EXPECT_EQ(run({"+"}), 0);
    EXPECT_EQ(fake.wire.openedPath, "\\\\.\\COM7");
    EXPECT_EQ(g_set.maxFrameData, 96u);
    EXPECT_EQ(g_set.massEraseCycles, 1);
    EXPECT_EQ(g_set.baudMode, 1);
    EXPECT_EQ(g_set.flow & (FLOW_BAUD | FLOW_WAIT), 0u);
    EXPECT_EQ(std::string(g_set.passwordFile), "");
    EXPECT_EQ(std::string(g_set.patchFile), "PATCH.TXT");
    EXPECT_EQ(out.lines()[0], "Transmit standard password...");

    out.clear();
    EXPECT_EQ(run({"-f7", "-f999", "-m0x10", "-s", "-m", "+"}), 0);
    EXPECT_EQ(out.lines()[0], "Max. number of data bytes within one frame set to 16.");
    EXPECT_EQ(out.lines()[1], "Max. number of data bytes within one frame set to 240.");
    EXPECT_EQ(out.lines()[2], "Number of mass erase cycles set to 16.");
    EXPECT_EQ(g_set.massEraseCycles, 16);
}

TEST_F(Driver, IdentityAndPatchFlagsCarryOver) {
    fake.wire.setVersion(0x0110);
    EXPECT_EQ(run({"+"}), 1);  // PATCH.TXT is not there
    EXPECT_TRUE(g_cmd.patchRequired);
    auto lines = out.lines();
    EXPECT_EQ(lines.back(), "ERROR: Unable to open input file \"PATCH.TXT\"!");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Load PC with 0x0C22..."), lines.end());

    out.clear();
    fake.wire.answerSync = false;
    run({"+"});
    EXPECT_TRUE(g_cmd.patchRequired);
    EXPECT_EQ(g_cmd.identity.version(), 0x0110);
}

// The image used by the whole-run tests: two sections, one odd in length.
const std::string kImage =
    "@1100\r\n"
    "31 40 00 0A B2 40 80 5A 20 01 D2 D3 22 00 D2 E3\r\n"
    "21 00 3F 40\r\n"
    "@FFFE\r\n"
    "00 11\r\n"
    "q\r\n";

class WholeRun : public Driver, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(WholeRun, EraseProgramVerifyKeepsInfoA) {
    fake.wire.setVersion(GetParam());
    for (int i = 0; i < 64; ++i) fake.wire.mem[0x10C0 + i] = i < 3 ? 0xFF : uint8_t(i);
    fake.wire.mem[0x2000] = 0;
    Bytes infoA(fake.wire.mem.begin() + 0x10C0, fake.wire.mem.begin() + 0x1100);
    EXPECT_EQ(run({"-m3", "+aepvr", "firmware.txt"}, nullptr, &kImage), 0);
    EXPECT_EQ(Bytes(fake.wire.mem.begin() + 0x10C0, fake.wire.mem.begin() + 0x1100), infoA);
    EXPECT_EQ(fake.wire.mem[0x1100], 0x31);
    EXPECT_EQ(fake.wire.mem[0x1113], 0x40);
    EXPECT_EQ(fake.wire.mem[0xFFFF], 0x11);
    EXPECT_EQ(fake.wire.mem[0x2000], 0xFF);
    std::vector<std::string> expected = {
        "Number of mass erase cycles set to 3.", "Read InfoA Segment...", "Transmit standard password...", "Mass Erase...",
        "Additional mass erase cycles...", "Restore InfoA Segment...", "Transmit standard password...",
        GetParam() == 0x0140 ? "BSL version: 1.40 - Family member: F149 - Process: 0102"
                             : "BSL version: 1.30 - Family member: F149 - Process: 0102",
        "Program \"firmware.txt\"...", "22 bytes programmed."};
    if (GetParam() >= 0x0140) {
        expected.push_back("Verify... already done during programming.");
    } else {
        expected.push_back("Verify\"firmware.txt\"...");
        expected.push_back("Check starting at 1100, 20 bytes... Error: 0");
        expected.push_back("Check starting at fffe, 2 bytes... Error: 0");
    }
    expected.push_back("Programming completed.");
    EXPECT_EQ(linesBeforeTiming(), expected);
    EXPECT_EQ(std::count(fake.wire.frames.begin(), fake.wire.frames.end(),
                         Bytes{0x80, 0x18, 0x04, 0x04, 0x00, 0xFF, 0x06, 0xA5, 0x7D, 0xB9}),
              3);
    // The restore starts at the first byte that is not blank.
    auto restore = std::find_if(fake.wire.frames.begin(), fake.wire.frames.end(),
                                [](const Bytes& f) { return f[1] == CMD_WRITE_BLOCK; });
    ASSERT_NE(restore, fake.wire.frames.end());
    EXPECT_EQ((*restore)[4], 0xC2);  // 0x10C3 rounded down to even
    EXPECT_EQ(finalResets(), 1);
    // Progress in the program pass only: one report per line read.
    EXPECT_EQ(out.progress.size(), 6u);
    EXPECT_EQ(out.progress.front(), (std::pair<uint32_t, uint32_t>{0, uint32_t(kImage.size())}));
}

TEST_P(WholeRun, PackageImageProgramsAndVerifies) {
    auto res = platform::findResource("FIRMWARE", 1);
    ASSERT_TRUE(res);
    const std::string image(reinterpret_cast<const char*>(res.data), res.size);
    fake.wire.setVersion(GetParam());
    for (int i = 0; i < 64; ++i) fake.wire.mem[0x10C0 + i] = uint8_t(0x40 + i);
    Bytes infoA(fake.wire.mem.begin() + 0x10C0, fake.wire.mem.begin() + 0x1100);
    EXPECT_EQ(run({"-m3", "+aepvr", "firmware.txt"}, nullptr, &image), 0);
    EXPECT_EQ(Bytes(fake.wire.mem.begin() + 0x10C0, fake.wire.mem.begin() + 0x1100), infoA);
    EXPECT_EQ(out.progress.back(), (std::pair<uint32_t, uint32_t>{uint32_t(image.size()) - 3, uint32_t(image.size())}));
    for (const auto& f : fake.wire.frames) EXPECT_LE(f.size(), 4u + 4 + 240 + 2);

    // The image's vectors are now the password.
    std::string vectors = "@FFE0\r\n";
    char hex[4];
    for (int i = 0; i < 32; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", fake.wire.mem[0xFFE0 + i]);
        vectors += hex;
        vectors += i % 16 == 15 ? "\r\n" : " ";
    }
    out.clear();
    EXPECT_EQ(run({"-pkey.txt", "+v", "firmware.txt"}, &vectors, &image), 0);
    EXPECT_EQ(out.lines()[out.lines().size() - 2], "Verification successful.");
}

INSTANTIATE_TEST_SUITE_P(LoaderVersions, WholeRun, ::testing::Values(uint16_t(0x0140), uint16_t(0x0130)));

TEST_F(Driver, RefusedBlockFailsTheProgramStepAsVerification) {
    fake.wire.mem[0x1100] = 0x00;  // bits cannot be set again without an erase
    EXPECT_EQ(run({"+pv", "fw.txt"}, nullptr, &kImage), 1);
    auto lines = out.lines();
    EXPECT_EQ(lines[lines.size() - 2], "Error 7 programming at 1100, 20 bytes");
    EXPECT_EQ(lines.back(), "ERROR: Verification failed!");
}

TEST_F(Driver, OnePassAndEraseCheck) {
    // Without the vector section, so the standard password keeps working.
    const std::string image = kImage.substr(0, kImage.find("@FFFE")) + "q\r\n";
    EXPECT_EQ(run({"-1", "+cpv", "fw.txt"}, nullptr, &image), 0);
    auto lines = out.lines();
    EXPECT_EQ(lines[2], "EraseCheck Program Verify \"fw.txt\" ...");
    EXPECT_EQ(lines[lines.size() - 2], "Programming completed.");
    EXPECT_TRUE(out.progress.empty());

    out.clear();
    EXPECT_EQ(run({"+c", "fw.txt"}, nullptr, &image), 1);
    lines = out.lines();
    EXPECT_EQ(lines[lines.size() - 3], "Check starting at 1100, 20 bytes... Error: 0");
    EXPECT_EQ(lines[lines.size() - 2], "Erase Check failed at 1100 (31)");
    EXPECT_EQ(lines.back(), "ERROR: Erase check failed!");

    out.clear();
    EXPECT_EQ(run({"+v", "fw.txt"}, nullptr, &image), 0);
    EXPECT_EQ(out.lines()[out.lines().size() - 2], "Verification successful.");
}

TEST_F(Driver, SegmentEraseSkipsTheNextArgument) {
    fake.wire.mem[0xF000] = 0;
    EXPECT_EQ(run({"-eF000", "-w"}), 0);
    EXPECT_EQ(fake.wire.mem[0xF000], 0xFF);
    EXPECT_EQ(out.lines()[2], "Erase Segment: 0xF000");
    EXPECT_EQ(keyReads(), 0);  // -w was skipped
    EXPECT_EQ(finalResets(), 0);
}

TEST_F(Driver, UserCalledRunsTheMainPassTwice) {
    fake.wire.locked = false;  // the user program started the loader unlocked
    EXPECT_EQ(run({"+u"}), 0);
    EXPECT_EQ(commands(), (std::vector<uint8_t>{CMD_READ_BLOCK, CMD_SEND_PASSWORD, CMD_READ_BLOCK}));
    EXPECT_EQ(out.lines()[1], "No Device reset - BSL called from user program ---------------------");
    EXPECT_TRUE(fake.wire.states.size() == 1);  // no entry sequence: only the open

    // No entry sequence, so the over-all time still counts from the last run that had one.
    out.clear();
    EXPECT_EQ(run({"+"}), 0);
    fake.clock.advanceMs(60000);
    out.clear();
    EXPECT_EQ(run({"+u"}), 0);
    std::smatch m;
    std::string timing = out.lines().back();
    ASSERT_TRUE(std::regex_match(timing, m, std::regex(R"(Prog/Verify: ([0-9.]+) sec - Over all: ([0-9.]+) sec)"))) << timing;
    EXPECT_LT(std::stod(m[1]), 1.0);
    EXPECT_GE(std::stod(m[2]), 60.0);
}

TEST_F(Driver, WaitFlagPromptsBeforeClosing) {
    EXPECT_EQ(run({"+w"}), 0);
    EXPECT_EQ(keyReads(), 1);
    auto n = out.pieces.size();
    EXPECT_EQ(out.pieces[n - 3], "----------------------------------------------------------- ");
    EXPECT_EQ(out.pieces[n - 2], "Press any key ... ");
    EXPECT_EQ(out.pieces[n - 1], "\n");
}

TEST_F(Driver, OldLoaderGetsTheRomRestartAndThePatchAroundEveryBlock) {
    fake.wire.setVersion(0x0110);
    std::string patch = tempPath("patch.txt");
    std::ofstream(patch, std::ios::binary) << "@0220\r\n31 40 00 0A\r\nq\r\n";
    const std::string image = "@1100\r\n01 02 03 04\r\nq\r\n";
    testing::internal::CaptureStdout();
    EXPECT_EQ(run({"-a" + patch, "+p", "fw.txt"}, nullptr, &image), 0);
    testing::internal::GetCapturedStdout();
    auto lines = out.lines();
    std::vector<std::string> head(lines.begin(), lines.begin() + 6);
    EXPECT_EQ(head, (std::vector<std::string>{"Transmit standard password...",
                                              "BSL version: 1.10 - Family member: F149 - Process: 0102",
                                              "Patch for flash programming required!", "Load PC with 0x0C22...",
                                              "Transmit standard password...",
                                              "Load and verify patch \"" + patch + "\"..."}));
    EXPECT_EQ(fake.wire.mem[0x1103], 0x04);
    // The image's block write is preceded by the jump into the patch.
    auto cmds = commands();
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_EQ(cmds[cmds.size() - 1], CMD_WRITE_BLOCK);
    EXPECT_EQ(cmds[cmds.size() - 2], CMD_LOAD_PC);
    EXPECT_TRUE(g_cmd.patchActive);
    std::filesystem::remove(patch);
}

TEST_F(Driver, ReplacementLoaderIsLoadedStartedAndReportsVerificationErrors) {
    std::string loader = tempPath("bsl.txt");
    // Start address 0x0A30; a non-zero second word: the LARGE model.
    std::ofstream(loader, std::ios::binary) << "@0A00\r\n30 0A 01 00 55 66\r\nq\r\n";
    fake.wire.mem[0x0200] = 0x13, fake.wire.mem[0x0201] = 0x11;  // where it records the failure
    fake.wire.mem[0x1100] = 0x00;
    const std::string image = "@1100\r\n01 02\r\nq\r\n";
    EXPECT_EQ(run({"-b" + loader, "+pv", "fw.txt"}, nullptr, &image), 0);
    auto lines = out.lines();
    std::vector<std::string> expected = {
        "Transmit standard password...",
        "BSL version: 1.40 - Family member: F149 - Process: 0102",
        "Load/Verify new BSL \"" + loader + "\" into RAM at 0x0A00...",
        "Start new BSL (LARGE model > 1K Bytes) at 0x0A30...",
        "Transmit standard password...",
        "Program \"fw.txt\"...",
        "Error 7 programming at 1100, 2 bytes",
        "Verification Error at 0x1110",
        "Verify... already done during programming.",
        "Programming completed."};
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end() - 1), expected);
    EXPECT_EQ(g_cmd.identity.verifyErrorAddress, 0x0200);
    EXPECT_EQ(fake.wire.mem[0x0A04], 0x55);
    std::filesystem::remove(loader);

    out.clear();
    EXPECT_EQ(run({"-bmissing.txt", "+"}), 1);
    EXPECT_EQ(out.lines().back(), "ERROR: Unable to open input file \"missing.txt\"!");
}

TEST_F(Driver, LongTextsAreCutToTheirBuffers) {
    postOutput("%s", std::string(3000, 't').c_str());
    EXPECT_EQ(out.pieces[0], std::string(ENGINE_TEXT_SIZE - 1, 't'));
}

}  // namespace
