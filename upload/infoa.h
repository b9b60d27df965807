#pragma once
// The instrument's calibration segment InfoA (64 bytes at 0x10C0): read into a backup file before
// anything is erased, refused while it reads blank, and written back from a saved backup.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "platform/ui/afxwin.h"

// What every driver run of one upload needs besides its own arguments.
struct DriverSetup {
    CString portOption;  // "-c" followed by the port path
    const char* blankKey = nullptr;
    uint32_t blankKeySize = 0;
    const char* modelKey = nullptr;
    uint32_t modelKeySize = 0;
};

// One driver run: "koralbsl", the port option, the key option `useBlankKey` names, then `args`;
// with that key's text and the image text (may be null). The driver's result: 0 is success.
int RunDriver(const DriverSetup& setup, bool useBlankKey, std::initializer_list<const char*> args,
              const char* image = nullptr, size_t imageSize = 0);

// Reads InfoA into a new backup file. True: `backupPath` and `infoAText` hold a non-blank InfoA
// just read. False: the reading failed, or InfoA was blank and the restore dialogue has run; the
// operator has been told why. `useBlankKey` becomes false once the blank password has failed.
bool ReadAndSaveInfoA(const DriverSetup& setup, CString& backupPath, CString& infoAText, bool& useBlankKey);

// The application's standard box: the text, OK, the exclamation icon. From a worker it waits for
// the answer like any box of the toolkit.
void TellOperator(const char* text);
// The first 206 bytes of `text` (zero-terminated) are the blank InfoA image.
bool IsBlankInfoA(const char* text);
// The file's bytes up to the first zero byte, line ends untouched. False when it cannot be opened.
bool ReadTextFile(const char* path, CString& text);
// The open-file dialog for a saved InfoA; true with the full path when the operator chose one.
bool ChooseSavedInfoA(CString& path);
// One section at 0x10C0 of exactly 64 bytes, in the form the driver's TI-TXT writer gives a
// read-out (the form of the blank InfoA image): nothing else may be written back as InfoA.
bool IsSavedInfoAImage(const CString& text);

// The temporary directory, ending in a separator.
CString TemporaryDirectory();
// Creates a new, empty backup file "KORLDR_INFOA_%y%m%d_%H%M%S.TXT" in the temporary directory for
// the local time now, in one step no other wizard can come between. A file of that name is never
// overwritten: then "..._2.TXT", "..._3.TXT", ... whichever is free first, so the dialog's filter
// still finds it. False: `problem` names the folder and why it cannot be written.
bool NewInfoABackup(CString& path, CString& problem);
// Deletes `path` if this process made it as a backup; any other file is left alone.
void DeleteOwnBackup(const CString& path);
// Deletes every backup this process made that holds `infoAText`: called once an upload has put the
// firmware in place and read that InfoA back unchanged, when no copy is needed any more.
void DeleteBackupsOf(const CString& infoAText);
