// The host's ports on POSIX: what a path names, and that a missing device fails cleanly.
#include <gtest/gtest.h>

#include "platform/os/serial.h"

TEST(HostPorts, PathsNameDevicesDirectlyOrThroughTheComTable) {
    platform::setComPortTable({{3, "/dev/ttyUSB0"}, {12, "/dev/ttyUSB1"}});
    EXPECT_EQ(platform::posixDevicePath("\\\\.\\COM3"), "/dev/ttyUSB0");
    EXPECT_EQ(platform::posixDevicePath("\\\\.\\com12"), "/dev/ttyUSB1");
    EXPECT_EQ(platform::posixDevicePath("COM3"), "/dev/ttyUSB0");
    EXPECT_EQ(platform::posixDevicePath("\\\\.\\COM4"), "");
    EXPECT_EQ(platform::posixDevicePath("\\\\.\\COM-1"), "");
    EXPECT_EQ(platform::posixDevicePath("\\\\.\\COM3x"), "");
    EXPECT_EQ(platform::posixDevicePath("\\\\.\\COM"), "");
    EXPECT_EQ(platform::posixDevicePath("\\\\.\\/dev/ttyACM0"), "/dev/ttyACM0");
    EXPECT_EQ(platform::posixDevicePath("/dev/ttyS0"), "/dev/ttyS0");
    EXPECT_EQ(platform::posixDevicePath("ttyS0"), "");
    EXPECT_EQ(platform::comPortTable().size(), 2u);
    platform::setComPortTable({});
}

#ifndef _WIN32
TEST(HostPorts, AMissingDeviceDoesNotOpen) {
    EXPECT_EQ(platform::openHostSerialLine("/dev/koral-no-such-tty"), nullptr);
    EXPECT_EQ(platform::openHostSerialLine("\\\\.\\/dev/koral-no-such-tty"), nullptr);
    EXPECT_EQ(platform::openHostSerialLine("\\\\.\\COM7"), nullptr);  // not in the table
    EXPECT_EQ(platform::openHostSerialLine("/dev/null"), nullptr);    // not a serial line
    // With no opener installed, the host's ports are asked.
    EXPECT_EQ(platform::openSerialLine("\\\\.\\COM7"), nullptr);
}
#endif
