#pragma once
// InfoA backup files and texts: what the wizard and the console tool share, without any window.
#include <string>
#include <vector>

// The first 206 bytes of `text` (zero-terminated) are the blank InfoA image.
bool IsBlankInfoA(const char* text);
// The file's bytes up to the first zero byte, line ends untouched. False when it cannot be opened.
bool ReadTextFile(const char* path, std::string& text);
// One section at 0x10C0 of exactly 64 bytes, in the form the driver's TI-TXT writer gives a
// read-out (the form of the blank InfoA image): nothing else may be written back as InfoA.
bool IsSavedInfoAImage(const std::string& text);

// The temporary directory, ending in a separator.
std::string TemporaryDirectory();
// Creates a new, empty backup file "KORLDR_INFOA_%y%m%d_%H%M%S.TXT" in the temporary directory for
// the local time now, in one step no other wizard can come between. A file of that name is never
// overwritten: then "..._2.TXT", "..._3.TXT", ... whichever is free first, so the dialog's filter
// still finds it. False: `problem` names the folder and why it cannot be written.
bool NewInfoABackup(std::string& path, std::string& problem);
// Deletes `path` if this process made it as a backup; any other file is left alone.
void DeleteOwnBackup(const std::string& path);
// The backups this process made that are still there holding a whole InfoA read-out, oldest
// first: what a program cut short names for the operator.
std::vector<std::string> KeptOwnBackups();
// Deletes every backup this process made that holds `infoAText`, and forgets the restored files
// that do: called once an upload has put the firmware in place and read that InfoA back unchanged,
// when no copy is needed any more.
void DeleteBackupsOf(const std::string& infoAText);

// A file a restore writes back. It is never deleted, but until an upload has verified its InfoA it
// is one of the calibrations this process is bringing back to an instrument.
void NoteRestoredFrom(const std::string& path);
// The newest file holding a calibration this process is bringing back (a backup an unfinished
// upload left, or a file a restore wrote back) when `infoAText`, just read into `readingPath`, is
// none of theirs: InfoA has changed since, as a cut in the middle of flash work leaves it. "" when
// the reading is one of them or there are none.
std::string CalibrationDisagreeingWith(const std::string& infoAText, const std::string& readingPath);
// Another instrument is connected: the files kept so far are not compared with readings any more.
// Nothing is deleted.
void StopComparingKeptFiles();
