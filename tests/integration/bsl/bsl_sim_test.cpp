// bslMain against the simulated instrument, under the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bsl/bsl.h"
#include "bsl/collecting_output.h"
#include "platform/os/clock.h"
#include "platform/os/resources.h"
#include "sim/instrument.h"

namespace {

// The run's last release of reset came without TEST edges (a plain reset: the application
// started), and the closed port holds reset again, as a real driver's de-asserted lines do.
bool endedWithPlainReset(const sim::Instrument& instrument) {
    std::vector<sim::LineEdge> e = instrument.lineEdges();
    auto release = std::find_if(e.rbegin(), e.rend(), [](const sim::LineEdge& x) { return x.dtr && x.on; });
    if (release == e.rend()) return false;
    auto held = std::find_if(release + 1, e.rend(), [](const sim::LineEdge& x) { return x.dtr && !x.on; });
    bool plain = std::none_of(release + 1, held, [](const sim::LineEdge& x) { return !x.dtr; });
    return plain && instrument.mode() == sim::Mode::Reset;
}

std::string resource(int id) {
    auto r = platform::findResource("FIRMWARE", id);
    return r ? std::string(reinterpret_cast<const char*>(r.data), r.size) : std::string();
}

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class SimRun : public ::testing::Test {
protected:
    // False (and the test skipped) while the simulated instrument cannot give a line.
    bool start(sim::InstrumentConfig config = {}) {
        bslResetState();
        setOutputTarget(&out);
        config.firmwareImage = sim::sectionsFromTiTxt(image);
        instrument = std::make_unique<sim::Instrument>(config);
        {
            auto probe = instrument->openLine();
            if (!probe) {
                []() { GTEST_SKIP() << "the simulated instrument offers no line"; }();
                return false;
            }
            probe->close();
        }
        platform::setSerialOpener(sim::makeOpener(*instrument));
        port = "-cCOM" + std::to_string(instrument->comPort());
        return true;
    }
    void TearDown() override {
        bslResetState();
        platform::setSerialOpener({});
        setOutputTarget(nullptr);
    }
    int run(std::vector<std::string> args, const std::string* password = nullptr, const std::string* firmware = nullptr) {
        std::vector<const char*> argv{"koralbsl"};
        for (const auto& a : args) argv.push_back(a.c_str());
        return bslMain(int(argv.size()), argv.data(), password ? password->data() : nullptr,
                       password ? password->size() : 0, firmware ? firmware->data() : nullptr,
                       firmware ? firmware->size() : 0);
    }
    bool hasLine(const std::string& line) const {
        auto l = out.lines();
        return std::find(l.begin(), l.end(), line) != l.end();
    }
    std::string tempPath(const char* name) const {
        return (std::filesystem::temp_directory_path() / (std::string("koral_bslsim_") + name)).string();
    }

    platform::VirtualClock clock;
    platform::ScopedClock scoped{clock};
    CollectingOutput out;
    std::unique_ptr<sim::Instrument> instrument;
    std::string port;
    const std::string image = resource(1);
    const std::string blankKey = resource(3);
    const std::string modelKey = resource(4);
};

TEST_F(SimRun, ReadInfoAWithTheModelPassword) {
    sim::InstrumentConfig config;
    config.flash = sim::sectionsFromTiTxt(image);
    if (!start(config)) return;
    std::string path = tempPath("infoa.txt");
    EXPECT_EQ(run({port, "-pkey_VKT.txt", "-r10c0", "40", path}, &modelKey), 0);
    EXPECT_TRUE(hasLine("  Read memory Start: 0x10C0 Length 64"));
    EXPECT_FALSE(hasLine("Programming completed."));
    EXPECT_FALSE(hasLine("Verification successful."));
    EXPECT_EQ(out.lines().back().rfind("Prog/Verify: ", 0), 0u);

    auto infoA = instrument->read(0x10C0, 64);
    std::string expected = "@10C0\r\n";
    char hex[4];
    for (int i = 0; i < 64; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", infoA[i]);
        expected += hex;
        expected += i % 16 == 15 ? "\r\n" : " ";
    }
    EXPECT_EQ(slurp(path), expected + "q\r\n");
    EXPECT_TRUE(endedWithPlainReset(*instrument));
    EXPECT_EQ(out.text().find(modelKey.substr(7, 20)), std::string::npos);
    std::filesystem::remove(path);
}

TEST_F(SimRun, PlusAloneIsPasswordAndIdentity) {
    if (!start()) return;
    EXPECT_EQ(run({port, "+"}), 0);
    EXPECT_EQ(instrument->commandsReceived(), (std::vector<uint8_t>{0x10, 0x14}));
    EXPECT_TRUE(hasLine("BSL version: 2.02 - Family member: F249 - Process: 0100"));
}

class SimUpload : public SimRun, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(SimUpload, EmbeddedImageWithInfoAKept) {
    sim::InstrumentConfig config;
    config.bslVersion = GetParam();
    config.identity[10] = uint8_t(GetParam() >> 8);
    config.identity[11] = uint8_t(GetParam());
    if (!start(config)) return;
    auto infoA = instrument->read(0x10C0, 64);
    EXPECT_EQ(run({port, "-m3", "+aepvr", "firmware.txt"}, nullptr, &image), 0);
    EXPECT_TRUE(instrument->holdsFirmware());
    EXPECT_EQ(instrument->read(0x10C0, 64), infoA);
    EXPECT_TRUE(hasLine("Programming completed."));
    EXPECT_EQ(hasLine("Verify... already done during programming."), GetParam() >= 0x0140);
    EXPECT_EQ(hasLine("Verify\"firmware.txt\"..."), GetParam() < 0x0140);
    auto cmds = instrument->commandsReceived();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), 0x18), 3);
    ASSERT_FALSE(out.progress.empty());
    EXPECT_EQ(out.progress.back().second, uint32_t(image.size()));
}

INSTANTIATE_TEST_SUITE_P(LoaderVersions, SimUpload, ::testing::Values(uint16_t(0x0140), uint16_t(0x0130)));

TEST_F(SimRun, RefusedPasswordStillResets) {
    sim::InstrumentConfig config;
    config.flash = sim::sectionsFromTiTxt(image);
    if (!start(config)) return;
    std::string path = tempPath("refused.txt");
    EXPECT_EQ(run({port, "-pkey_BLANK.txt", "-r10c0", "40", path}, &blankKey), 1);
    EXPECT_EQ(out.lines().back(), "Password not accepted");
    EXPECT_TRUE(endedWithPlainReset(*instrument));
    std::filesystem::remove(path);
}

TEST_F(SimRun, SilentLoaderIsACommunicationError) {
    sim::InstrumentConfig config;
    ASSERT_TRUE(sim::parseFaults("silence-frame=1", config.faults));
    if (!start(config)) return;
    uint32_t before = platform::tickCount();
    EXPECT_EQ(run({port, "+"}), 1);
    EXPECT_GE(platform::tickCount() - before, 1200u);
    EXPECT_EQ(out.lines().back(), "ERROR: Communication Error!");
}

TEST_F(SimRun, RefusedWriteFailsTheProgramStep) {
    sim::InstrumentConfig config;
    ASSERT_TRUE(sim::parseFaults("nak-frame=2/0x12", config.faults));
    if (!start(config)) return;
    EXPECT_EQ(run({port, "+epr", "firmware.txt"}, nullptr, &image), 1);
    auto lines = out.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].rfind("Error 7 programming at ", 0), 0u);
    EXPECT_EQ(lines.back(), "ERROR: Verification failed!");
}

TEST_F(SimRun, UnknownPortFailsToOpen) {
    if (!start()) return;
    EXPECT_EQ(run({"-cCOM77", "+"}), 1);
    EXPECT_EQ(out.lines(), (std::vector<std::string>{"ERROR: Opening COM-Port failed!"}));
}

}  // namespace
