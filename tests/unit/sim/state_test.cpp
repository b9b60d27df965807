// One instrument across processes: its state as a file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "host.h"
#include "sim/options.h"

using namespace simtest;

TEST(State, SavedInstrumentComesBackWhole) {
    platform::VirtualClock clock;
    platform::ScopedClock scoped(clock);
    sim::InstrumentConfig c;
    c.bslVersion = 0x0130;
    c.bridgeSerial = "my probe 7";
    c.comPort = 9;
    c.switchOn = true;
    c.bootText = "boot\r\n\\ok\x01ZantirKORAL";
    c.firmwareImage = {{0x3000, {1, 2, 3}}};
    c.faults.wrongPasswordMassErases = true;
    c.faults.wire.push_back({sim::FaultAction::Nak, sim::FaultTrigger::Frame, 4, 0x12, false});
    sim::Instrument a(c);
    a.load(0x3000, {1, 2, 3});
    a.load(0x0400, {9, 8, 7});
    a.load(0xFFE0, {0x55});
    a.load(sim::INFOA_ADDRESS, Bytes(64, 0xFF));  // blank, so the dump has no InfoA at all
    a.unplug();

    std::string text = a.saveStateText();
    sim::Instrument b;
    ASSERT_TRUE(b.loadStateText(text));
    EXPECT_EQ(b.saveStateText(), text);
    EXPECT_EQ(b.read(0, 0x10000), a.read(0, 0x10000));
    EXPECT_TRUE(b.holdsFirmware());
    EXPECT_FALSE(b.plugged());
    EXPECT_TRUE(b.switchIsOn());
    EXPECT_EQ(b.bridgeSerial(), "my probe 7");
    EXPECT_EQ(b.comPort(), 9);
    EXPECT_EQ(b.config().bslVersion, 0x0130);
    EXPECT_EQ(b.config().bootText, c.bootText);
    EXPECT_EQ(b.faults(), sim::Faults{}) << "faults belong to one run, never to the saved instrument";
    EXPECT_EQ(text.find("wrong-password"), std::string::npos);
    EXPECT_EQ(b.read(0x0FF0 + 10, 2), (Bytes{0x01, 0x30}));

    std::string path = (std::filesystem::temp_directory_path() / "koral_sim_state_test.txt").string();
    ASSERT_TRUE(a.saveState(path));
    sim::Instrument d;
    ASSERT_TRUE(d.loadState(path));
    EXPECT_EQ(d.saveStateText(), text);
    std::remove(path.c_str());
    EXPECT_FALSE(d.loadState(path));
}

TEST(State, DamagedOrCutShortFilesAreRefusedAndLeaveTheInstrumentAlone) {
    sim::InstrumentConfig c;
    c.faults.blankInfoA = true;
    sim::Instrument source;
    source.load(0x2100, Bytes(40, 0x21));
    const std::string good = source.saveStateText();
    sim::Instrument a(c);
    const std::string before = a.saveStateText();
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return t.replace(at, from.size(), to);
    };
    const std::string damaged[] = {
        "hello",
        "KORAL-SIM-STATE 1\nidentity F2\n",
        "KORAL-SIM-STATE 1\nunknown 1\n",
        good.substr(0, good.size() - 2),             // the final "q" lost
        good.substr(0, good.find("\nmemory") + 1),   // no memory at all
        good.substr(0, good.size() / 2),             // cut in the middle
        replaced("@2100", "@2X00"),
        replaced("21 21 21", "21 2 21"),
        replaced("battery 1", "battery 7"),
        replaced("mode ", "mode x"),
        good + "@3000\n01\n",
    };
    for (const std::string& text : damaged) {
        std::string error;
        EXPECT_FALSE(a.loadStateText(text, &error)) << text.substr(text.size() > 80 ? text.size() - 80 : 0);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(a.saveStateText(), before);
    }
    std::string error;
    EXPECT_TRUE(a.loadStateText(good, &error)) << error;
    EXPECT_EQ(a.read(0x2100, 40), Bytes(40, 0x21));
    EXPECT_TRUE(a.faults().blankInfoA) << "the run's own faults stay";
}

TEST(State, TiTxtSections) {
    auto s = sim::sectionsFromTiTxt("@1000\r\nAA BB CC \r\n01\r\n@2000\nFF\nq\n@3000\n11\n");
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], (sim::Section{0x1000, {0xAA, 0xBB, 0xCC, 0x01}}));
    EXPECT_EQ(s[1], (sim::Section{0x2000, {0xFF}}));
}

namespace {

sim::OptionParse parse(const std::string& arg, sim::Options& o) {
    std::string error;
    sim::OptionParse r = sim::parseOption(arg, o, error);
    EXPECT_EQ(r == sim::OptionParse::Malformed, !error.empty()) << arg;
    return r;
}

struct TempDir {
    std::filesystem::path path = std::filesystem::temp_directory_path() / ("koral_sim_options_" + std::to_string(getpid()));
    TempDir() { std::filesystem::create_directories(path); }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string operator/(const char* name) const { return (path / name).string(); }
};

}  // namespace

TEST(StateOptions, ValuesReadTheSameWithSurroundingBlanksAndANameWithoutItsEqualsSignIsRefused) {
    const std::string infoA(128, 'c');
    sim::Options spaced, plain;
    for (const std::string& a : std::vector<std::string>{"--sim-state= my file \t", "--sim-infoa= " + infoA + " ", "--sim-bsl-version= 0x0140 ",
                                 "--sim-fault= nak-frame=3 "})
        EXPECT_EQ(parse(a, spaced), sim::OptionParse::Taken) << a;
    for (const std::string& a : std::vector<std::string>{"--sim-state=my file", "--sim-infoa=" + infoA, "--sim-bsl-version=0x0140", "--sim-fault=nak-frame=3"})
        EXPECT_EQ(parse(a, plain), sim::OptionParse::Taken) << a;
    EXPECT_EQ(spaced.stateFile, "my file");
    EXPECT_EQ(spaced.stateFile, plain.stateFile);
    EXPECT_EQ(spaced.infoA, plain.infoA);
    EXPECT_EQ(spaced.bslVersion, plain.bslVersion);
    EXPECT_EQ(spaced.faults, plain.faults);

    sim::Options o;
    for (const char* bad : {"--sim-state", "--sim-state file", "--sim-infoa", "--sim-fault", "--sim-state= "})
        EXPECT_EQ(parse(bad, o), sim::OptionParse::Malformed) << bad;
    EXPECT_EQ(parse("--sim-statefile=x", o), sim::OptionParse::NotOurs);
    EXPECT_FALSE(o.any());
}

TEST(StateOptions, AStateFileThatIsNotARegularFileIsRefusedAtOnce) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const std::string& path : {std::string("/dev/zero"), dir / "fifo", dir.path.string()}) {
        sim::Options o;
        o.stateFile = path;
        std::string error;
        EXPECT_EQ(sim::makeInstrument(o, {}, error), nullptr) << path;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
        sim::Instrument i;
        EXPECT_FALSE(i.loadState(path, &error)) << path;
    }
}

TEST(StateOptions, NewInstrumentOptionsWithASavedOneAreRefusedAndTheRunsFaultsAreNeverSaved) {
    TempDir dir;
    sim::Options o;
    o.stateFile = dir / "state";
    o.faults = "nak-frame=1+";
    std::string error;
    auto first = sim::makeInstrument(o, {}, error);
    ASSERT_NE(first, nullptr) << error;
    ASSERT_TRUE(sim::saveInstrument(o, *first, error)) << error;
    ASSERT_TRUE(sim::saveInstrument(o, *first, error)) << "saved over the existing file: " << error;
    const std::string saved = first->saveStateText();
    EXPECT_EQ(saved.find("nak"), std::string::npos);

    for (const std::string& arg : {"--sim-infoa=" + std::string(128, '0'), std::string("--sim-fault=blank-infoa"),
                                   std::string("--sim-bsl-version=0x0130")}) {
        sim::Options again;
        again.stateFile = o.stateFile;
        ASSERT_EQ(parse(arg, again), sim::OptionParse::Taken);
        EXPECT_EQ(sim::makeInstrument(again, {}, error), nullptr) << arg;
        EXPECT_NE(error.find("holds a saved one"), std::string::npos) << error;
    }
    auto second = sim::makeInstrument(o, {}, error);
    ASSERT_NE(second, nullptr) << error;
    EXPECT_EQ(second->saveStateText(), saved);
    EXPECT_FALSE(second->faults().wire.empty()) << "this run's faults apply to this run";

    sim::Options nowhere;
    nowhere.stateFile = dir / "missing/state";
    EXPECT_FALSE(sim::saveInstrument(nowhere, *second, error));
    EXPECT_NE(error.find("cannot save"), std::string::npos);
}
