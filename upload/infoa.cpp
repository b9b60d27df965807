#include "upload/infoa.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "bsl/bsl.h"
#include "platform/os/localtime.h"
#include "platform/os/tempdir.h"
#include "upload/firmware_package.h"

namespace {

constexpr const char* SAVED_INFOA_FILTER = "Saved InfoA Files|KORLDR_INFOA*.TXT||";
// The driver takes file names below 256 characters and refuses longer ones.
constexpr size_t DRIVER_NAME_MAX = 255;

// Backup files this process made and has not deleted. Nothing else is ever deleted: a file the
// operator picked elsewhere, or one another wizard made in the same folder, is not ours.
std::mutex g_ownLock;
std::vector<std::string> g_ownBackups;

void own(const CString& path) {
    std::lock_guard<std::mutex> lock(g_ownLock);
    g_ownBackups.push_back(path);
}

// Fills the new file with as many zero bytes as a reading takes, so that a full disk shows now
// rather than as a failed reading. The driver writes the reading over them; zero bytes can never
// pass for one.
bool reserveSpace(const CString& path, size_t size, std::string& reason) {
    FILE* file = std::fopen(path.c_str(), "wb");
    bool ok = file && std::fwrite(std::string(size, '\0').data(), 1, size, file) == size && std::fflush(file) == 0;
    if (!ok) reason = std::strerror(errno);
    if (file && std::fclose(file) != 0 && ok) {
        ok = false;
        reason = std::strerror(errno);
    }
    return ok;
}

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
    CString problem;
    if (!NewInfoABackup(backupPath, problem)) {
        TellOperator(("Error reading InfoA\n\n" + problem).c_str());
        return false;
    }
    auto read = [&](bool blank) { return RunDriver(setup, blank, {"-r10c0", "40", backupPath.c_str()}) == 0; };
    bool done = useBlankKey && read(true);
    // A second password goes out only when the loader refused the blank one. After a lost frame
    // or a pulled cable the blank key may well have been right (erased vectors), and a wrong
    // password sent to an erased instrument makes its loader erase InfoA as well.
    if (!done && (!useBlankKey || bslPasswordRefused())) {
        useBlankKey = false;
        done = read(false);
    }
    if (!done) {
        DeleteOwnBackup(backupPath);
        TellOperator("Error reading InfoA");
        return false;
    }
    // Only the driver's own form of the 64 bytes counts as a reading: anything else would be taken
    // for a calibration and programmed around.
    if (!ReadTextFile(backupPath.c_str(), infoAText) || !IsSavedInfoAImage(infoAText)) {
        TellOperator("Error reading InfoA file");
        return false;
    }
    if (!IsBlankInfoA(infoAText.c_str())) return true;

    TellOperator("InfoA is blank! You need to restore it from file");
    DeleteOwnBackup(backupPath);
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
    if (RunDriver(setup, useBlankKey, {"+pv", backupPath.c_str()}, infoAText.c_str(), infoAText.size()) != 0) {
        TellOperator("Error restoring InfoA");
        return false;
    }
    // The chosen file stays: until an upload has put the firmware back and read this InfoA back
    // equal, the instrument is still fragile and the file may be the only copy.
    backupPath.Empty();
    if (useBlankKey) {
        // The loader took the blank key: the vectors are erased, no firmware runs to show
        // programming mode on the console.
        TellOperator("InfoA successfully restored. Hit Back to try again.\n\nThe instrument holds no firmware now, "
                     "so it cannot show programming mode: on the page \"Enter Programming Mode\" tick \"Use "
                     "power-cycling method\" and click Next.");
    } else {
        TellOperator("InfoA successfully restored. Hit Back to try again.");
    }
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

bool NewInfoABackup(CString& path, CString& problem) {
    const CString directory = TemporaryDirectory();
    platform::LocalTime t = platform::localTime();
    CString stem;
    stem.Format("%sKORLDR_INFOA_%02d%02d%02d_%02d%02d%02d", directory.c_str(), t.year % 100, t.month, t.day,
                t.hour, t.minute, t.second);
    path = stem + ".TXT";
    std::string reason;
    for (int n = 2;; ++n) {
        if (path.size() > DRIVER_NAME_MAX) {
            reason = "the path is longer than the " + std::to_string(DRIVER_NAME_MAX) + " characters the driver takes";
            break;
        }
        platform::NewFile made = platform::createNewFile(path, reason);
        if (made == platform::NewFile::Created) {
            own(path);
            if (reserveSpace(path, firmwareResource(ID_FIRMWARE_BLANK_INFOA).size, reason)) return true;
            DeleteOwnBackup(path);
            break;
        }
        if (made == platform::NewFile::Failed) break;
        path.Format("%s_%d.TXT", stem.c_str(), n);
    }
    problem.Format("The backup folder \"%s\" cannot be written: %s.", directory.c_str(), reason.c_str());
    path.Empty();
    return false;
}

void DeleteOwnBackup(const CString& path) {
    std::lock_guard<std::mutex> lock(g_ownLock);
    auto at = std::find(g_ownBackups.begin(), g_ownBackups.end(), std::string(path));
    if (at == g_ownBackups.end()) return;
    std::remove(path.c_str());
    g_ownBackups.erase(at);
}

void DeleteBackupsOf(const CString& infoAText) {
    std::vector<std::string> same;
    {
        std::lock_guard<std::mutex> lock(g_ownLock);
        for (const std::string& path : g_ownBackups) {
            CString text;
            if (ReadTextFile(path.c_str(), text) && text == infoAText) same.push_back(path);
        }
    }
    for (const std::string& path : same) DeleteOwnBackup(path.c_str());
}
