#pragma once
// The bootstrap loader engine as the rest of the system calls it: the driver, and the serial
// frame layer used as a plain port by the console monitor and the upload worker.
#include <cstddef>
#include <cstdint>
#include <string>

// Result codes of the serial frame layer.
constexpr int BSL_OK = 0;
constexpr int BSL_ERR_ANSWER = 1;
constexpr int COM_ERR_OPEN = 2;
constexpr int COM_ERR_STATE = 3;
constexpr int BSL_ERR_TIMEOUT = 6;
constexpr int BSL_ERR_NAK = 7;
constexpr int BSL_ERR_FAILED = 9;
constexpr int COM_ERR_CLOSE = 10;

// The driver: argv[0] is ignored, the password and firmware texts come in memory (either may be
// null). Returns 0 when every requested step succeeded, else 1.
int bslMain(int argc, const char* const* argv, const char* passwordData, size_t passwordSize,
            const char* firmwareData, size_t firmwareSize);

// What bslMain would make of these arguments, found without doing or printing anything, so that
// a front end can check the files a run will read before any port is opened.
struct BslRunPlan {
    bool endsBeforePort = false;  // only the usage text, or a usage error
    bool readsImage = false;      // a step checks, programs or verifies by the image text
    bool extended = false;        // -x: addresses above 16 bits
    std::string imageFile;        // the plain file argument
    std::string passwordFile;     // -p
    bool keepsInfoA = false;      // "+a": InfoA is held across a mass erase
    std::string readFile;         // -r's file, when the run reads memory out
};
BslRunPlan bslPlanRun(int argc, const char* const* argv);

// The last bslMain ended because the loader answered its password with a NAK ("Password not
// accepted"). Any other failure (no port, no sync, silence, a garbled answer) says nothing about
// the password, so a caller must not take it as a reason to try another one.
bool bslPasswordRefused();

// For the console tool: a run that keeps InfoA across its mass erase ("+a") first writes the 64
// bytes it read to `path` (TI-TXT), and has `drop` delete the file only once they have been written
// back and read back equal; a run cut in between leaves them there. Empty (the default): the copy
// is held in memory only, as the wizard's runs want it (the wizard keeps backups of its own).
void bslSetInfoAFile(const std::string& path, void (*drop)(const std::string& path));

// The single process-wide serial port.
int openSerialPort(const char* path, uint32_t answerTimeoutMs, uint32_t answerFactor);
int closeSerialPort();
int setBaudRate(uint32_t rate);
uint32_t getBaudRate();
// Polls until at least minCount bytes are queued or timeoutMs passed; the count found last.
uint32_t waitForInput(uint32_t minCount, uint32_t timeoutMs);
// Reads one queued byte; false when none could be read or no port is open.
bool readSerialByte(uint8_t& byte);
bool serialPortOpen();

// Forgets everything that carries over between runs (identity, patch flags, port name, frame
// size, mass-erase cycles, baud mode) and closes the port: a fresh process, for tests.
void bslResetState();
