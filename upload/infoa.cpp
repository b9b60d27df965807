#include "upload/infoa.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "bsl/bsl.h"
#include "platform/os/localtime.h"
#include "platform/os/tempdir.h"
#include "upload/firmware_package.h"

namespace {

constexpr const char* SAVED_INFOA_FILTER = "Saved InfoA Files|KORLDR_INFOA*.TXT||";

bool fileExists(const CString& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::path(path.c_str()), error);
}

void deleteFile(const CString& path) { std::remove(path.c_str()); }

}  // namespace

int RunDriver(const DriverSetup& setup, bool useBlankKey, std::initializer_list<const char*> args, const char* image,
              size_t imageSize) {
    std::vector<const char*> argv{"koralbsl", setup.portOption.c_str(),
                                  useBlankKey ? "-pkey_BLANK.txt" : "-pkey_VKT.txt"};
    argv.insert(argv.end(), args.begin(), args.end());
    const char* key = useBlankKey ? setup.blankKey : setup.modelKey;
    uint32_t keySize = useBlankKey ? setup.blankKeySize : setup.modelKeySize;
    return bslMain(int(argv.size()), argv.data(), key, keySize, image, imageSize);
}

bool ReadAndSaveInfoA(const DriverSetup& setup, CString& backupPath, CString& infoAText, bool& useBlankKey) {
    backupPath = NewInfoABackupPath();
    auto read = [&](bool blank) { return RunDriver(setup, blank, {"-r10c0", "40", backupPath.c_str()}); };
    if (!useBlankKey || read(true) != 0) {
        useBlankKey = false;
        if (read(false) != 0) {
            TellOperator("Error reading InfoA");
            return false;
        }
    }
    if (!ReadTextFile(backupPath.c_str(), infoAText)) {
        TellOperator("Error reading InfoA file");
        return false;
    }
    if (!IsBlankInfoA(infoAText.c_str())) return true;

    TellOperator("InfoA is blank! You need to restore it from file");
    deleteFile(backupPath);
    backupPath.Empty();
    for (;;) {
        if (!ChooseSavedInfoA(backupPath)) return false;
        if (!ReadTextFile(backupPath.c_str(), infoAText)) {
            TellOperator("Error opening file");
        } else if (IsBlankInfoA(infoAText.c_str())) {
            TellOperator("Chosen InfoA is blank too. Choose another...");
        } else if (!IsSavedInfoAImage(infoAText)) {
            TellOperator("The chosen file is not a saved InfoA file. Choose another...");
        } else {
            break;
        }
    }
    // Verified as well as programmed: the chosen file is deleted after a success, and it may be
    // the only copy of the calibration.
    if (RunDriver(setup, useBlankKey, {"+pv", backupPath.c_str()}, infoAText.c_str(), infoAText.size()) != 0) {
        TellOperator("Error restoring InfoA");
        return false;
    }
    deleteFile(backupPath);
    backupPath.Empty();
    TellOperator("InfoA successfully restored. Hit Back to try again.");
    return false;
}

void TellOperator(const char* text) { AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION); }

bool IsBlankInfoA(const char* text) {
    platform::Resource blank = firmwareResource(ID_FIRMWARE_BLANK_INFOA);
    for (uint32_t i = 0; i < blank.size; ++i) {
        if (text[i] == '\0' || static_cast<unsigned char>(text[i]) != blank.data[i]) return false;
    }
    return true;
}

bool ReadTextFile(const char* path, CString& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    text = bytes.substr(0, bytes.find('\0'));
    return true;
}

bool ChooseSavedInfoA(CString& path) {
    CString directory = platform::tempPath();
    CFileDialog dialog(TRUE, ".TXT", nullptr, OFN_HIDEREADONLY | OFN_NOCHANGEDIR, SAVED_INFOA_FILTER, nullptr);
    dialog.m_ofn.lpstrTitle = "Find a saved InfoA file";
    dialog.m_ofn.lpstrInitialDir = directory.c_str();
    if (dialog.DoModal() != IDOK) return false;
    path = dialog.GetPathName();
    return true;
}

bool IsSavedInfoAImage(const CString& text) {
    // The blank image is that form for 64 bytes of FF: every 'F' of it is a digit of the data,
    // every other byte is fixed.
    platform::Resource blank = firmwareResource(ID_FIRMWARE_BLANK_INFOA);
    if (!blank || text.size() != blank.size) return false;
    for (uint32_t i = 0; i < blank.size; ++i) {
        char c = text[i];
        bool digit = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        if (blank.data[i] == 'F' ? !digit : static_cast<unsigned char>(c) != blank.data[i]) return false;
    }
    return true;
}

CString TemporaryDirectory() {
    CString directory = platform::tempPath();
    if (directory.empty() || directory.back() != platform::pathSeparator()) directory += platform::pathSeparator();
    return directory;
}

CString NewInfoABackupPath() {
    platform::LocalTime t = platform::localTime();
    CString stem;
    stem.Format("%sKORLDR_INFOA_%02d%02d%02d_%02d%02d%02d", TemporaryDirectory().c_str(), t.year % 100, t.month,
                t.day, t.hour, t.minute, t.second);
    CString path = stem + ".TXT";
    for (int n = 2; fileExists(path); ++n) path.Format("%s_%d.TXT", stem.c_str(), n);
    return path;
}
