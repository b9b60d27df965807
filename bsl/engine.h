#pragma once
// Internals of the engine shared between its layers (and visible to its tests).
#include <cstddef>
#include <cstdint>

#include "bsl/bsl.h"

// Engine result codes above those of the frame layer.
constexpr int ERR_WRITE_FILE = 95;  // the read-out file could not be created or written
constexpr int ERR_OPEN_FILE = 96;
constexpr int ERR_ERASE_CHECK = 97;
constexpr int ERR_VERIFY = 98;
constexpr int BSL_ERR_SYNC = 99;

// Commands.
constexpr uint8_t CMD_SEND_PASSWORD = 0x10;
constexpr uint8_t CMD_WRITE_BLOCK = 0x12;
constexpr uint8_t CMD_READ_BLOCK = 0x14;
constexpr uint8_t CMD_ERASE_SEGMENT = 0x16;
constexpr uint8_t CMD_MASS_ERASE = 0x18;
constexpr uint8_t CMD_LOAD_PC = 0x1A;
constexpr uint8_t CMD_ERASE_CHECK = 0x1C;
constexpr uint8_t CMD_CHANGE_BAUD = 0x20;
constexpr uint8_t CMD_SET_OFFSET = 0x21;

// Block flags.
constexpr int BLOCK_PROGRAM = 0x01;
constexpr int BLOCK_VERIFY = 0x02;
constexpr int BLOCK_ERASE_CHECK = 0x04;
constexpr int BLOCK_PASSWORD = 0x08;
constexpr int BLOCK_FAST_CHECK = 0x10;

// Flow flags.
constexpr uint32_t FLOW_ERASE = 0x0001;
constexpr uint32_t FLOW_ERASE_CHECK = 0x0002;
constexpr uint32_t FLOW_FAST_CHECK = 0x0004;
constexpr uint32_t FLOW_PROGRAM = 0x0008;
constexpr uint32_t FLOW_VERIFY = 0x0010;
constexpr uint32_t FLOW_RESET = 0x0020;
constexpr uint32_t FLOW_WAIT = 0x0040;
constexpr uint32_t FLOW_ONE_PASS = 0x0080;
constexpr uint32_t FLOW_BAUD = 0x0100;
constexpr uint32_t FLOW_USER_CALLED = 0x0200;
constexpr uint32_t FLOW_BSL_PATTERN = 0x0400;
constexpr uint32_t FLOW_READ = 0x0800;
constexpr uint32_t FLOW_ERASE_SEGMENT = 0x1000;
constexpr uint32_t FLOW_EXTENDED = 0x2000;
constexpr uint32_t FLOW_RESTORE_INFOA = 0x4000;

constexpr size_t BSL_NAME_SIZE = 256;
constexpr size_t BSL_TX_SIZE = 256;
constexpr size_t BSL_REPLY_SIZE = 250;
constexpr size_t BSL_RX_FRAME_SIZE = 256;
constexpr uint32_t BSL_MAX_FRAME_DATA = 240;

// ---- frame layer
struct BslPort {
    uint32_t answerTimeout = 300;
    uint32_t answerFactor = 4;
    uint8_t rxFrame[BSL_RX_FRAME_SIZE] = {};
};
extern BslPort g_port;

bool setDtr(bool on);
bool setRts(bool on);
void bslEntrySequence(bool startBsl);
int bslSynchronize();
int bslTransferFrame(uint8_t cmd, const uint8_t* frameData, uint32_t n);
uint16_t bslChecksum(const uint8_t* bytes, uint32_t count);
void sleepMs(uint32_t ms);
uint32_t elapsedMs(uint32_t startTick);

// ---- command layer
enum class LoaderModel { None, Small, Large };

struct BslIdentity {
    uint8_t bytes[14] = {};
    uint16_t version() const { return uint16_t(bytes[10] << 8 | bytes[11]); }
    uint16_t verifyErrorAddress = 0x021E;
};

struct BslCommandState {
    uint8_t txData[BSL_TX_SIZE] = {};
    uint8_t replyData[BSL_REPLY_SIZE] = {};
    BslIdentity identity;
    bool patchRequired = false;
    bool patchActive = false;
    bool warning = true;
    LoaderModel model = LoaderModel::None;
};
extern BslCommandState g_cmd;

// `reply` receives at most replyCapacity answer bytes.
int bslCommand(uint8_t cmd, uint16_t address, uint16_t length, const uint8_t* data, uint8_t* reply,
               size_t replyCapacity = BSL_REPLY_SIZE);
int bslSetOffset(uint32_t highBits);
int patchPreStep();
void patchPostStep();
int readLoaderIdentity();
int loadPatch();
int startReplacementLoader();
int changeBaudRate();

// ---- run settings of the driver
struct BslSettings {
    uint32_t flow = 0;
    char portName[BSL_NAME_SIZE] = "COM1";
    uint32_t maxFrameData = BSL_MAX_FRAME_DATA;
    int massEraseCycles = 20;
    int baudMode = 0;
    char fileName[BSL_NAME_SIZE] = "";
    char passwordFile[BSL_NAME_SIZE] = "";
    char patchFile[BSL_NAME_SIZE] = "PATCH.TXT";
    char loaderFile[BSL_NAME_SIZE] = "";
    uint32_t start = 0;
    uint32_t length = 0;
    char readFile[BSL_NAME_SIZE] = "";
    // Taken after the entry sequence; a run with u (no entry sequence) keeps the last one.
    uint32_t overallStart = 0;
    // The file of the last ERR_OPEN_FILE or ERR_WRITE_FILE.
    char errorFile[BSL_NAME_SIZE] = "";
    const char* passwordText = nullptr;
    size_t passwordSize = 0;
};
extern BslSettings g_set;

// Copies a name into one of the fixed buffers; false (buffer unchanged) when it does not fit.
bool copyName(char (&dst)[BSL_NAME_SIZE], const char* src);
int parseOptions(int argc, const char* const* argv);
extern void (*g_keyReader)();

// ---- TI-TXT
// Where the reader sends its blocks: processBlock unless a test or fuzzer replaced it.
using BlockSink = int (*)(uint32_t address, uint32_t size, int blockFlags);
BlockSink setBlockSink(BlockSink sink);
extern uint32_t g_byteCount;

int readTiTxtBuffer(const char* text, size_t textLength, int blockFlags);
int readTiTxtFile(const char* path, int blockFlags);
uint16_t firstTiTxtAddress(const char* path);
// The writer: false when the file could not be created, or (at close) when anything written was
// lost; the operations do nothing while no file is open.
bool openTiTxtOutput(const char* path);
void writeTiTxtWords(uint32_t address, uint32_t wordCount, const uint8_t* bytes);
bool closeTiTxtOutput();

// ---- memory operations
int processBlock(uint32_t address, uint32_t size, int blockFlags);
int checkBlock(uint32_t address, uint32_t size, int mode);
int sendPassword(const char* fileName, const char* text, size_t textLength);
