// The instrument's own program: its console and the On switch, and the scripted operator.
#include "host.h"

using namespace simtest;

namespace {

const Bytes IMAGE = {0x31, 0x40, 0x00, 0x0A, 0xB2, 0x40};

sim::InstrumentConfig withFirmware(bool programmed) {
    sim::InstrumentConfig c;
    c.firmwareImage = {{0x2100, IMAGE}, {0xFFFE, {0x00, 0x21}}};
    if (programmed) c.flash = c.firmwareImage;
    return c;
}

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

void toggle(Host& h) {
    for (bool on : {true, false, true, false}) {
        h.instrument.setSwitch(on);
        h.wait(200);
    }
}

}  // namespace

TEST(Application, TogglingOnOffOnOffPrintsProgrammingMode) {
    Host h(withFirmware(true));
    ASSERT_TRUE(h.open(115200));
    toggle(h);
    std::string got = text(h.collect(500));
    EXPECT_NE(got.find("PROGRAMMING MODE\r\n"), std::string::npos) << got;
    // Too slow a toggle does not count.
    h.instrument.setSwitch(true), h.wait(1000), h.instrument.setSwitch(false), h.wait(1000);
    h.instrument.setSwitch(true), h.wait(1000), h.instrument.setSwitch(false);
    EXPECT_EQ(text(h.collect(500)).find("PROGRAMMING MODE"), std::string::npos);
}

TEST(Application, ProgrammingModeIsGarbledAtTheWrongRate) {
    Host h(withFirmware(true));
    ASSERT_TRUE(h.open(9600));
    toggle(h);
    std::string got = text(h.collect(500));
    EXPECT_EQ(got.find("PROGRAMMING"), std::string::npos);
}

TEST(Application, BootTextOnlyWithTheFirmwareImage) {
    Host h(withFirmware(true));
    ASSERT_TRUE(h.open(115200));
    h.entrySequence(false);
    h.instrument.setSwitch(true);
    std::string got = text(h.collect(1000));
    EXPECT_GE(got.size(), 11u);
    EXPECT_EQ(got.substr(got.size() - 11), "ZantirKORAL");
    EXPECT_EQ(h.instrument.consoleText(), got);
    // Once per start: switching off and on again prints nothing new.
    h.instrument.setSwitch(false), h.wait(100), h.instrument.setSwitch(true);
    EXPECT_TRUE(h.collect(1000).empty());

    // One byte of the image different: silence.
    h.instrument.load(0x2102, {0x01});
    h.entrySequence(false);
    h.instrument.setSwitch(false), h.wait(100), h.instrument.setSwitch(true);
    EXPECT_TRUE(h.collect(1000).empty());
    EXPECT_FALSE(h.instrument.holdsFirmware());
}

TEST(Application, ErasedFlashPrintsNothingAtAll) {
    Host h(withFirmware(false));
    ASSERT_TRUE(h.open(115200));
    h.entrySequence(false);
    toggle(h);
    h.instrument.setSwitch(true);
    EXPECT_TRUE(h.collect(2000).empty());
}

TEST(Application, ScriptedOperatorFollowsThePages) {
    sim::InstrumentConfig c = withFirmware(true);
    c.attached = false;
    Host h(c);
    h.instrument.runOperator({});
    EXPECT_FALSE(h.instrument.bridgePresent());
    h.wait(1000);
    EXPECT_TRUE(h.instrument.bridgePresent());  // connect page: the cable goes in
    EXPECT_TRUE(h.instrument.switchIsOn());

    // Service-mode page: the console at 9600, then 115200; the operator toggles.
    ASSERT_TRUE(h.open(9600));
    h.setBaud(115200);
    std::string got = text(h.collect(5000));
    EXPECT_NE(got.find("PROGRAMMING MODE"), std::string::npos) << got;
    EXPECT_FALSE(h.instrument.switchIsOn());
    h.entrySequence(false);  // the upload's final reset
    h.line->close();

    // Upload page after the bridge reset: "flip the switch to On".
    EXPECT_TRUE(h.instrument.resetBridge());
    h.wait(2500);
    ASSERT_TRUE(h.open(9600));
    h.setBaud(115200);
    got = text(h.collect(3000));
    EXPECT_TRUE(h.instrument.switchIsOn());
    ASSERT_GE(got.size(), 11u);
    EXPECT_EQ(got.substr(got.size() - 11), "ZantirKORAL");
}

TEST(Application, ScriptedPowerCyclingStartsWhenAskedAndWaitsUntilTheAbsenceWasNoticed) {
    Host h(withFirmware(true));
    h.instrument.setSwitch(true);
    sim::OperatorScript script;
    script.powerCycling = true;  // the power-cycling page is shown
    h.instrument.runOperator(script);  // reaction 800 ms, then steps 1 s apart
    h.wait(900);
    EXPECT_FALSE(h.instrument.switchIsOn());
    EXPECT_TRUE(h.instrument.plugged());
    h.wait(1000);
    EXPECT_FALSE(h.instrument.plugged());
    h.wait(1000);
    EXPECT_FALSE(h.instrument.powered());
    h.wait(3000);
    EXPECT_FALSE(h.instrument.plugged()) << "nobody has listed the bridges since it went";
    EXPECT_FALSE(h.instrument.bridgePresent(false));  // a bench keeping its devices in step
    h.wait(1000);
    EXPECT_FALSE(h.instrument.plugged()) << "a bench's look is not the PC's";
    EXPECT_FALSE(h.instrument.bridgePresent());  // the PC looks
    h.wait(300);
    EXPECT_TRUE(h.instrument.bridgePresent());
    EXPECT_FALSE(h.instrument.powered());
    h.wait(1000);
    EXPECT_TRUE(h.instrument.powered());
    EXPECT_EQ(h.instrument.mode(), sim::Mode::Application);
}
