#include "upload/infoa_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "platform/os/localtime.h"
#include "platform/os/tempdir.h"
#include "upload/firmware_package.h"

namespace {

// The driver takes file names below 256 characters and refuses longer ones.
constexpr size_t DRIVER_NAME_MAX = 255;

// Backup files this process made and has not deleted, and the files its restores wrote back, oldest
// first. Nothing but this process's own backups is ever deleted: a file the operator picked
// elsewhere, or one another wizard made in the same folder, is not ours.
struct KnownFile {
    std::string path;
    bool own;
    bool compared = true;  // a reading that is none of these files' InfoA is questioned
};
std::mutex g_lock;
std::vector<KnownFile> g_files;

void erasePath(const std::string& path) {
    g_files.erase(std::remove_if(g_files.begin(), g_files.end(), [&](const KnownFile& f) { return f.path == path; }),
                  g_files.end());
}

void own(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_lock);
    erasePath(path);
    g_files.push_back({path, true});
}

bool holdsInfoA(const std::string& path, std::string& text) {
    return ReadTextFile(path.c_str(), text) && IsSavedInfoAImage(text);
}

// Fills the new file with as many zero bytes as a reading takes, so that a full disk shows now
// rather than as a failed reading. The driver writes the reading over them; zero bytes can never
// pass for one.
bool reserveSpace(const std::string& path, size_t size, std::string& reason) {
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

bool IsBlankInfoA(const char* text) {
    platform::Resource blank = firmwareResource(ID_FIRMWARE_BLANK_INFOA);
    for (uint32_t i = 0; i < blank.size; ++i) {
        if (text[i] == '\0' || static_cast<unsigned char>(text[i]) != blank.data[i]) return false;
    }
    return true;
}

bool ReadTextFile(const char* path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    text = bytes.substr(0, bytes.find('\0'));
    return true;
}

bool IsSavedInfoAImage(const std::string& text) {
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

std::string TemporaryDirectory() {
    std::string directory = platform::tempPath();
    if (directory.empty() || directory.back() != platform::pathSeparator()) directory += platform::pathSeparator();
    return directory;
}

bool NewInfoABackup(std::string& path, std::string& problem) {
    const std::string directory = TemporaryDirectory();
    platform::LocalTime t = platform::localTime();
    char name[40];
    std::snprintf(name, sizeof name, "KORLDR_INFOA_%02d%02d%02d_%02d%02d%02d", t.year % 100, t.month, t.day, t.hour,
                  t.minute, t.second);
    const std::string stem = directory + name;
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
        path = stem + "_" + std::to_string(n) + ".TXT";
    }
    problem = "The backup folder \"" + directory + "\" cannot be written: " + reason + ".";
    path.clear();
    return false;
}

void DeleteOwnBackup(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto at = std::find_if(g_files.begin(), g_files.end(), [&](const KnownFile& f) { return f.own && f.path == path; });
    if (at == g_files.end()) return;
    std::remove(path.c_str());
    g_files.erase(at);
}

std::vector<std::string> KeptOwnBackups() {
    std::lock_guard<std::mutex> lock(g_lock);
    std::vector<std::string> kept;
    std::string text;
    for (const KnownFile& f : g_files)
        if (f.own && holdsInfoA(f.path, text)) kept.push_back(f.path);
    return kept;
}

void DeleteBackupsOf(const std::string& infoAText) {
    std::vector<std::string> same;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        std::string text;
        for (const KnownFile& f : g_files)
            if (ReadTextFile(f.path.c_str(), text) && text == infoAText) same.push_back(f.path);
    }
    for (const std::string& path : same) {
        DeleteOwnBackup(path);
        std::lock_guard<std::mutex> lock(g_lock);
        erasePath(path);  // a chosen file is only forgotten
    }
}

void NoteRestoredFrom(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto at = std::find_if(g_files.begin(), g_files.end(), [&](const KnownFile& f) { return f.path == path; });
    bool ours = at != g_files.end() && at->own;
    erasePath(path);
    g_files.push_back({path, ours});
}

std::string CalibrationDisagreeingWith(const std::string& infoAText, const std::string& readingPath) {
    std::lock_guard<std::mutex> lock(g_lock);
    std::string newest, text;
    for (const KnownFile& f : g_files) {
        if (!f.compared || f.path == readingPath || !holdsInfoA(f.path, text)) continue;
        if (text == infoAText) return "";
        newest = f.path;
    }
    return newest;
}

void StopComparingKeptFiles() {
    std::lock_guard<std::mutex> lock(g_lock);
    for (KnownFile& f : g_files) f.compared = false;
}
