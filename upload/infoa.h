#pragma once
// The instrument's calibration segment InfoA (64 bytes at 0x10C0): read into a backup file before
// anything is erased, refused while it reads blank, and written back from a saved backup.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "platform/ui/afxwin.h"
#include "upload/infoa_files.h"

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
// operator has been told why. `useBlankKey` becomes false once the loader refused the blank password.
bool ReadAndSaveInfoA(const DriverSetup& setup, CString& backupPath, CString& infoAText, bool& useBlankKey);

// Writes the saved InfoA `infoAText` of the file `path` back with a "+pv" driver run, after erasing
// the segment when it may hold anything but 0xFF, and tells the operator how it went; the file is
// kept.
bool WriteBack(const DriverSetup& setup, const CString& path, const CString& infoAText, bool useBlankKey,
               bool eraseFirst);
// After an upload's first reading: true to go on. When the reading is none of the calibrations this
// process kept from unfinished uploads, the operator is asked whether this is the same instrument;
// if so the newest kept one is written back instead (the reading's backup goes) and false is
// returned, the operator having been told to start again.
bool AgreesWithKeptCalibrations(const DriverSetup& setup, CString& backupPath, const CString& infoAText,
                                bool useBlankKey);

// The application's standard box: the text, OK, the exclamation icon. From a worker it waits for
// the answer like any box of the toolkit.
void TellOperator(const char* text);
// The open-file dialog for a saved InfoA; true with the full path when the operator chose one.
bool ChooseSavedInfoA(CString& path);
