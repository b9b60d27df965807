// The registry calls over a table of values, with Win32's results; and GetVersion's override.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/os/registry.h"
#include "platform/os/windows_version.h"

using namespace platform;

namespace {

class ValueRegistryTest : public ::testing::Test {
protected:
    std::vector<RegistryValue> values = {
        {"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_10C4&PID_EA60\\0001\\Device Parameters", "PortName", "COM3"},
        {"Enum\\SLABCR\\guid\\0000", "CRLowerDeviceID", "USB\\VID_10C4&PID_EA60&MI_00\\0001_00"},
    };
    std::shared_ptr<ValueRegistry> registry = std::make_shared<ValueRegistry>([this] { return values; });
    std::shared_ptr<platform::Registry> previous = setRegistry(registry);
    void TearDown() override {
        EXPECT_EQ(registry->openKeys(), 0u);
        setRegistry(previous);
    }
};

}  // namespace

TEST_F(ValueRegistryTest, KeysOpenBelowOpenKeysIgnoringCaseWithOneTrailingBackslash) {
    RegKey system = nullptr, usb = nullptr, device = nullptr;
    ASSERT_EQ(regOpenKeyEx(regKey::LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\", 0, regAccess::READ, &system),
              regError::SUCCESS);
    ASSERT_EQ(regOpenKey(system, "Enum\\USB\\", &usb), regError::SUCCESS);
    ASSERT_EQ(regOpenKeyEx(usb, "Vid_10c4&Pid_ea60\\0001\\Device Parameters\\", 0, regAccess::READ, &device),
              regError::SUCCESS);
    RegKey none = nullptr;
    EXPECT_EQ(regOpenKeyEx(usb, "Vid_10c4&Pid_ea6", 0, regAccess::READ, &none), regError::FILE_NOT_FOUND);
    EXPECT_EQ(regOpenKeyEx(usb, "Vid_10c4&Pid_ea60\\\\0001", 0, regAccess::READ, &none), regError::FILE_NOT_FOUND);
    EXPECT_EQ(regOpenKeyEx(usb, "\\", 0, regAccess::READ, &none), regError::FILE_NOT_FOUND);
    // RegOpenKeyA with no name gives the key itself back.
    RegKey same = nullptr;
    EXPECT_EQ(regOpenKey(device, "", &same), regError::SUCCESS);
    EXPECT_EQ(same, device);

    char text[8];
    uint32_t size = sizeof text, type = 0;
    EXPECT_EQ(regQueryValueEx(device, "PORTNAME", nullptr, &type, reinterpret_cast<uint8_t*>(text), &size),
              regError::SUCCESS);
    EXPECT_STREQ(text, "COM3");
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(type, regType::SZ);
    EXPECT_EQ(regQueryValueEx(usb, "PortName", nullptr, nullptr, reinterpret_cast<uint8_t*>(text), &size),
              regError::FILE_NOT_FOUND);

    EXPECT_EQ(regCloseKey(device), regError::SUCCESS);
    EXPECT_EQ(regCloseKey(device), regError::INVALID_HANDLE);
    EXPECT_EQ(regQueryValueEx(device, "PortName", nullptr, nullptr, nullptr, &size), regError::INVALID_HANDLE);
    EXPECT_EQ(regCloseKey(usb), regError::SUCCESS);
    EXPECT_EQ(regCloseKey(system), regError::SUCCESS);
    EXPECT_EQ(regCloseKey(regKey::LOCAL_MACHINE), regError::SUCCESS);
}

TEST_F(ValueRegistryTest, ByteCountIsInAndOutAndAValueThatDoesNotFitIsNotCopied) {
    RegKey key = nullptr;
    ASSERT_EQ(regOpenKey(regKey::LOCAL_MACHINE, "Enum\\SLABCR\\guid\\0000", &key), regError::SUCCESS);
    uint8_t buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    uint32_t size = sizeof buffer;
    EXPECT_EQ(regQueryValueEx(key, "CRLowerDeviceID", nullptr, nullptr, buffer, &size), regError::MORE_DATA);
    EXPECT_EQ(size, 36u);
    EXPECT_EQ(buffer[0], 'x');
    size = 0;
    EXPECT_EQ(regQueryValueEx(key, "CRLowerDeviceID", nullptr, nullptr, nullptr, &size), regError::SUCCESS);
    EXPECT_EQ(size, 36u);
    uint32_t reserved = 0;
    EXPECT_EQ(regQueryValueEx(key, "CRLowerDeviceID", &reserved, nullptr, buffer, &size), regError::INVALID_PARAMETER);
    EXPECT_EQ(regQueryValueEx(key, "CRLowerDeviceID", nullptr, nullptr, buffer, nullptr), regError::INVALID_PARAMETER);
    EXPECT_EQ(regCloseKey(key), regError::SUCCESS);
}

TEST_F(ValueRegistryTest, KeysSeeTheValuesOfWhenTheirChainWasOpened) {
    RegKey enumKey = nullptr, slabcr = nullptr;
    ASSERT_EQ(regOpenKey(regKey::LOCAL_MACHINE, "Enum", &enumKey), regError::SUCCESS);
    values.clear();
    EXPECT_EQ(regOpenKey(enumKey, "SLABCR", &slabcr), regError::SUCCESS);
    RegKey gone = nullptr;
    EXPECT_EQ(regOpenKey(regKey::LOCAL_MACHINE, "Enum", &gone), regError::FILE_NOT_FOUND);
    EXPECT_EQ(regCloseKey(slabcr), regError::SUCCESS);
    EXPECT_EQ(regCloseKey(enumKey), regError::SUCCESS);
}

TEST(WindowsVersion, TestsMayAnswerAsWindows98) {
    uint32_t host = getVersion();
    EXPECT_EQ(setVersionOverride(VERSION_WINDOWS_98), std::nullopt);
    EXPECT_EQ(getVersion() & 0x8000000Fu, 0x80000004u);
    EXPECT_EQ(setVersionOverride(std::nullopt), VERSION_WINDOWS_98);
    EXPECT_EQ(getVersion(), host);
#ifndef _WIN32
    EXPECT_EQ(host & 0x80000000u, 0u);  // the POSIX view is laid out as the NT family's
#endif
}
