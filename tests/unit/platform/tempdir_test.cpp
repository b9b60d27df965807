#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/os/tempdir.h"

namespace {

class TempPath : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
    }
    void TearDown() override {
        if (hadOld_)
            setenv("TMPDIR", old_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    bool hadOld_ = false;
    std::string old_;
};

TEST_F(TempPath, ReportsTheDirectoryAsTheHostGivesIt) {
    setenv("TMPDIR", "/var/tmp/koral", 1);
    EXPECT_EQ(platform::tempPath(), "/var/tmp/koral") << "no separator is added: that is the caller's business";
    setenv("TMPDIR", "/var/tmp/koral/", 1);
    EXPECT_EQ(platform::tempPath(), "/var/tmp/koral/");
}

TEST_F(TempPath, FallsBackToTmpWhenUnsetOrEmpty) {
    unsetenv("TMPDIR");
    EXPECT_EQ(platform::tempPath(), "/tmp/");
    setenv("TMPDIR", "", 1);
    EXPECT_EQ(platform::tempPath(), "/tmp/");
    EXPECT_EQ(platform::pathSeparator(), '/');
}

}  // namespace
