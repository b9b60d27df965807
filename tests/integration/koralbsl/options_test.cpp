#include <gtest/gtest.h>

#include "tools/koralbsl/options.h"

namespace {

TEST(DriverFiles, FindsTheFilesTheDriverWillUse) {
    DriverFiles f = driverFiles({"-cCOM4", "-pkey_VKT.txt", "-m3", "+aepvr", "first.txt", "firmware.txt"});
    EXPECT_EQ(f.image, "firmware.txt") << "the last plain argument counts";
    EXPECT_EQ(f.password, "key_VKT.txt");
    EXPECT_FALSE(f.usage);

    f = driverFiles({"-r10c0", "40", "backup.txt"});
    EXPECT_EQ(f.image, "") << "-r takes its length and file; they are not the image";
    f = driverFiles({"-e1000", "skipped.txt", "img.txt"});
    EXPECT_EQ(f.image, "img.txt") << "-e skips the argument after it";
    f = driverFiles({"-P", "-cCOM12"});
    EXPECT_EQ(f.password, "") << "an empty -p names no file";
}

TEST(DriverFiles, UsageWhenNothingOrHelpIsGiven) {
    EXPECT_TRUE(driverFiles({}).usage);
    DriverFiles f = driverFiles({"-pmissing.txt", "-h", "also-missing.txt"});
    EXPECT_TRUE(f.usage);
    EXPECT_EQ(f.image, "") << "nothing after -h is parsed";
}

TEST(ToolOptions, OwnOptionsAreTakenOutAndTheRestKeepsItsOrder) {
    const char* argv[] = {"koralbsl", "-cCOM2", "--simulate", "+ep", "--sim-bsl-version=0x0130", "--sim-fault=nak-frame=3",
                          "--sim-fault=blank-infoa", "img.txt"};
    ToolOptions o;
    std::string error;
    ASSERT_TRUE(parseToolOptions(8, argv, o, error)) << error;
    EXPECT_TRUE(o.simulate);
    EXPECT_EQ(o.simBslVersion, 0x0130);
    EXPECT_EQ(o.simFault, "nak-frame=3,blank-infoa");
    EXPECT_EQ(o.driverArgs, (std::vector<std::string>{"-cCOM2", "+ep", "img.txt"}));
}

TEST(ToolOptions, BadOwnOptionsAreRefused) {
    for (const char* bad : {"--simulat", "--sim-infoa=12", "--sim-bsl-version=xyz", "--sim-bsl-version=0x12345", "--transcript="}) {
        const char* argv[] = {"koralbsl", "--simulate", bad};
        ToolOptions o;
        std::string error;
        EXPECT_FALSE(parseToolOptions(3, argv, o, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    const char* argv[] = {"koralbsl", "--sim-fault=blank-infoa"};
    ToolOptions o;
    std::string error;
    EXPECT_FALSE(parseToolOptions(2, argv, o, error)) << "simulator settings without --simulate are a mistake";
}

}  // namespace
