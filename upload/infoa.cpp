#include "upload/infoa.h"

#include <vector>

#include "bsl/bsl.h"
#include "platform/os/tempdir.h"

namespace {

constexpr const char* SAVED_INFOA_FILTER = "Saved InfoA Files|KORLDR_INFOA*.TXT||";

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
    WriteBack(setup, backupPath, infoAText, useBlankKey, false);
    backupPath.Empty();
    return false;
}

bool WriteBack(const DriverSetup& setup, const CString& path, const CString& infoAText, bool useBlankKey,
               bool eraseFirst) {
    // Noted before anything is written: a write cut half-way leaves InfoA neither blank nor this,
    // and the next reading must be held against the file.
    NoteRestoredFrom(path);
    // The driver's segment erase is a run of its own: it clears every other step. The argument after
    // the address is skipped unread.
    if ((eraseFirst && RunDriver(setup, useBlankKey, {"-e10c0", "InfoA"}) != 0) ||
        RunDriver(setup, useBlankKey, {"+pv", path.c_str()}, infoAText.c_str(), infoAText.size()) != 0) {
        TellOperator("Error restoring InfoA");
        return false;
    }
    // The file stays: until an upload has put the firmware back and read this InfoA back equal,
    // the instrument is still fragile and the file may be the only copy.
    if (useBlankKey) {
        // The loader took the blank key: the vectors are erased, no firmware runs to show
        // programming mode on the console.
        TellOperator("InfoA successfully restored. Hit Back to try again.\n\nThe instrument holds no firmware now, "
                     "so it cannot show programming mode: on the page \"Enter Programming Mode\" tick \"Use "
                     "power-cycling method\" and click Next.");
    } else {
        TellOperator("InfoA successfully restored. Hit Back to try again.");
    }
    return true;
}

bool AgreesWithKeptCalibrations(const DriverSetup& setup, CString& backupPath, const CString& infoAText,
                                bool useBlankKey) {
    CString kept = CalibrationDisagreeingWith(infoAText, backupPath);
    if (kept.IsEmpty()) return true;
    CString question = "InfoA differs from the saved InfoA an unfinished upload or restore left:\n\n" + kept +
                       "\n\nA cut while the loader wrote the flash can leave InfoA damaged. Is the instrument "
                       "connected now the one of that upload?\n\nYes: write that file back (recommended).\nNo: "
                       "another instrument; go on with the InfoA it holds.";
    if (AfxMessageBox(question.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES) {
        StopComparingKeptFiles();
        return true;
    }
    // What the instrument holds now is what the cut left: no file of it may ever be offered.
    DeleteOwnBackup(backupPath);
    backupPath.Empty();
    CString text;
    if (!ReadTextFile(kept.c_str(), text) || !IsSavedInfoAImage(text)) {
        TellOperator("Error opening file");
        return false;
    }
    WriteBack(setup, kept, text, useBlankKey, true);
    return false;
}

void TellOperator(const char* text) { AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION); }

bool ChooseSavedInfoA(CString& path) {
    CString directory = platform::tempPath();
    CFileDialog dialog(TRUE, ".TXT", nullptr, OFN_HIDEREADONLY | OFN_NOCHANGEDIR, SAVED_INFOA_FILTER, nullptr);
    dialog.m_ofn.lpstrTitle = "Find a saved InfoA file";
    dialog.m_ofn.lpstrInitialDir = directory.c_str();
    if (dialog.DoModal() != IDOK) return false;
    path = dialog.GetPathName();
    return true;
}

