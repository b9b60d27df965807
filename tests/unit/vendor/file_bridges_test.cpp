// The bridges a file lists (the wizard's --bridge-list under Wine): what a writer outside the
// program plugs in is listed, a half-written line is not a bridge, a reset reaches the writer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "vendor/file_bridges.h"

namespace {

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(FileBridges, ListsTheLinesOfTheFileAtEveryCallAndAppendsResets) {
    const auto folder = std::filesystem::temp_directory_path() / ("koral-file-bridges-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto list = folder / "bridges.txt";
    vendor::FileBridges bridges(list.string());
    const KoralBridgeBackend& b = *bridges.backend();
    KoralBridge found[2] = {};

    EXPECT_EQ(b.list(b.context, found, 2), 0u);  // no file: nothing plugged in
    std::ofstream(list) << "\\\\?\\usb#vid_10c4&pid_ea60#0001#{a5dcbf10}\t0001\t10c4\tea60\r\n"
                        << "second\tKOR 42\t10C4\tEA70\n"
                        << "cut\t00";  // a writer stopped mid-line
    ASSERT_EQ(b.list(b.context, found, 2), 2u);
    EXPECT_STREQ(found[0].path, "\\\\?\\usb#vid_10c4&pid_ea60#0001#{a5dcbf10}");
    EXPECT_STREQ(found[0].serial, "0001");
    EXPECT_EQ(found[0].vid, 0x10C4);
    EXPECT_EQ(found[0].pid, 0xEA60);
    EXPECT_STREQ(found[1].serial, "KOR 42");
    EXPECT_EQ(found[1].pid, 0xEA70);
    KoralBridge one[1] = {};
    EXPECT_EQ(b.list(b.context, one, 1), 2u);  // the count even where the room is short

    EXPECT_EQ(b.reset(b.context, "second"), 0);
    EXPECT_EQ(b.reset(b.context, found[0].path), 0);
    EXPECT_EQ(contents(folder / "bridges.txt.reset"), std::string("second\n") + found[0].path + "\n");
    std::filesystem::remove_all(folder);
}

}  // namespace
