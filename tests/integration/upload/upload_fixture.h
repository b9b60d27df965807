#pragma once
// A simulated instrument behind the serial layer, the headless GUI answering for the operator,
// and a temporary directory of the test's own (given without a trailing separator).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bsl/bsl.h"
#include "bsl/collecting_output.h"
#include "platform/os/localtime.h"
#include "platform/ui/headless.h"
#include "sim/instrument.h"
#include "upload/firmware_package.h"
#include "upload/infoa.h"

namespace uploadtest {

inline std::string resourceText(int id) {
    platform::Resource r = firmwareResource(id);
    return std::string(reinterpret_cast<const char*>(r.data), r.size);
}

inline std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void spit(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The TI-TXT writer's form of 64 bytes at 0x10C0.
inline std::string infoAImage(const std::vector<uint8_t>& bytes) {
    std::string text = "@10C0\r\n";
    char hex[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        text += hex;
        text += i % 16 == 15 ? "\r\n" : " ";
    }
    return text + "q\r\n";
}

inline std::vector<uint8_t> calibration(uint8_t seed) {
    std::vector<uint8_t> bytes(64);
    for (int i = 0; i < 64; ++i) bytes[i] = uint8_t(seed + i * 37);
    return bytes;
}

inline const std::string FIRST_BACKUP = "KORLDR_INFOA_261209_225529.TXT";

// A line that passes every call on; tests override the one they want to change.
class ForwardingLine : public platform::SerialLine {
public:
    explicit ForwardingLine(std::unique_ptr<platform::SerialLine> inner) : inner_(std::move(inner)) {}
    bool setupQueues(uint32_t i, uint32_t o) override { return inner_->setupQueues(i, o); }
    bool getTimeouts(platform::Timeouts& t) override { return inner_->getTimeouts(t); }
    bool setTimeouts(const platform::Timeouts& t) override { return inner_->setTimeouts(t); }
    bool setEventMask(uint32_t m) override { return inner_->setEventMask(m); }
    bool getState(platform::LineState& s) override { return inner_->getState(s); }
    bool setState(const platform::LineState& s) override { return inner_->setState(s); }
    bool purge(uint32_t f) override { return inner_->purge(f); }
    bool queueCounts(platform::QueueCounts& c) override { return inner_->queueCounts(c); }
    bool read(void* b, uint32_t n, uint32_t& d) override { return inner_->read(b, n, d); }
    bool write(const void* b, uint32_t n, uint32_t& d) override { return inner_->write(b, n, d); }
    bool close() override { return inner_->close(); }

private:
    std::unique_ptr<platform::SerialLine> inner_;
};

class UploadFixture : public ::testing::Test {
protected:
    UploadFixture() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // Of this process: other test runs may share the temporary directory.
        dir = (std::filesystem::temp_directory_path() /
               ("koral_upload_" + std::to_string(getpid()) + "_" + std::string(info->name())))
                  .string();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        const char* old = std::getenv("TMPDIR");
        if (old) oldTmp = old;
        setenv("TMPDIR", dir.c_str(), 1);
        setenv("TZ", "UTC", 1);
        tzset();
        platform::pinWallTime(1796856929);  // 2026-12-09 22:55:29: backup names are known
        bslResetState();
        setOutputTarget(&out);
        setup.portOption = "-c\\\\.\\COM3";
        setup.blankKey = blankKey.data();
        setup.blankKeySize = uint32_t(blankKey.size());
        setup.modelKey = modelKey.data();
        setup.modelKeySize = uint32_t(modelKey.size());
    }
    ~UploadFixture() override {
        bslResetState();
        platform::setSerialOpener({});
        setOutputTarget(nullptr);
        if (oldTmp.empty()) unsetenv("TMPDIR");
        else setenv("TMPDIR", oldTmp.c_str(), 1);
        std::filesystem::remove_all(dir);
    }

    // An instrument that already runs the release, unless `programmed` is false (erased flash).
    sim::Instrument& makeInstrument(sim::InstrumentConfig config = {}, bool programmed = true) {
        config.firmwareImage = sim::sectionsFromTiTxt(image);
        if (programmed && config.flash.empty()) config.flash = config.firmwareImage;
        instrument = std::make_unique<sim::Instrument>(config);
        platform::setSerialOpener(sim::makeOpener(*instrument));
        return *instrument;
    }

    std::vector<std::string> filesInDir() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> boxTexts() const {
        std::vector<std::string> texts;
        for (const auto& b : driver.messageBoxes()) texts.push_back(b.text);
        return texts;
    }
    // The password files the driver sent, in order: one per run.
    std::vector<std::string> passwordsSent() const { return passwordsIn(out.text()); }
    static std::vector<std::string> passwordsIn(const std::string& log) {
        static const std::string mark = "Transmit PSW file \"";
        std::vector<std::string> keys;
        for (size_t at = 0; (at = log.find(mark, at)) != std::string::npos; at += mark.size()) {
            size_t from = at + mark.size();
            keys.push_back(log.substr(from, log.find('"', from) - from));
        }
        return keys;
    }

    ui::HeadlessDriver driver;  // first: it installs the virtual clock the rest runs on
    std::string dir;
    std::string oldTmp;
    CollectingOutput out;
    const std::string image = resourceText(ID_FIRMWARE_IMAGE);
    const std::string blankKey = resourceText(ID_FIRMWARE_BLANK_KEY);
    const std::string modelKey = resourceText(ID_FIRMWARE_MODEL_KEY);
    const std::string blankInfoA = resourceText(ID_FIRMWARE_BLANK_INFOA);
    DriverSetup setup;
    std::unique_ptr<sim::Instrument> instrument;
};

}  // namespace uploadtest
