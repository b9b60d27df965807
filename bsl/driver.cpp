// The driver: options, the fixed order of steps of a run, and its finishing step.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bsl/engine.h"
#include "bsl/output.h"
#include "platform/os/clock.h"

#if defined(_WIN32)
#include <io.h>
#define KORAL_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define KORAL_ISATTY(fd) isatty(fd)
#endif

BslSettings g_set;

namespace {
bool g_passwordRefused = false;
std::string g_infoAFile;
void (*g_dropInfoAFile)(const std::string&) = nullptr;
}  // namespace

namespace {
constexpr uint32_t DEFAULT_FLOW =
    FLOW_ERASE | FLOW_ERASE_CHECK | FLOW_PROGRAM | FLOW_VERIFY | FLOW_RESET | FLOW_BSL_PATTERN;
// The largest read the target's address space can answer, and the top of that space without and
// with extended memory.
constexpr uint32_t MAX_READ_LENGTH = 0x100000;
constexpr uint32_t ADDRESS_SPACE = 0x10000;
constexpr uint32_t EXTENDED_ADDRESS_SPACE = 0x100000;

void readConsoleKey() {
    if (KORAL_ISATTY(0)) std::getchar();
}

const char* const USAGE[] = {
    "KORALBSL [-h][-c{port}][-s{num}][-p{file}][-w][-1][-m{num}][+ecpvruw] {file}",
    "",
    "Options:",
    "-h       Shows this help screen.",
    "-c{port} Specifies the communication port to be used (e.g. -cCOM2).",
    "-a{file} Filename of workaround patch (e.g. -aWAROUND.TXT).",
    "-b{file} Filename of complete loader to be loaded into RAM (e.g. -bBSL.TXT).",
    "-e{startnum}",
    "         Erase Segment where address does point to.",
    "-m{num}  Number of mass erase cycles (e.g. -m20).",
    "-p{file} Specifies a TI-TXT file with the interrupt vectors that are",
    "         used as password (e.g. -pINT_VECT.TXT).",
    "-r{startnum} {lennum} {file}",
    "         Read memory from startnum till lennum and write to file as TI.TXT.",
    "         (Values in hex format.) ",
    "-s{num}  Changes the baudrate; num=0:9600, 1:19200, 2:38400 (e.g. -s2).",
    "-w       Waits for <ENTER> before closing serial port.",
    "-x       Enable MSP430X Extended Memory support.",
    "-1       Programming and verification is done in one pass through the file.",
    "",
    "-d{ms}   Finish with a reset and then output diagnostic text from port.",
    "         Wait for ms milliseconds after reset before reading from port.",
    "         If ms not supplied, default is 2000. (Zantir)",
    "",
    "Program Flow Specifiers [+aecpvruw]",
    " a       Restore InfoA after mass erase (only with Mass Erase)",
    " e       Mass Erase",
    " c       Erase Check by file {file}",
    " p       Program file {file}",
    " v       Verify by file {file}",
    " r       Reset connected MSP430. Starts application.",
    " u       User Called - Skip entry Sequence.",
    " w       Wait for <ENTER> before closing serial port.",
    " Only the specified actions are executed!",
    "",
    "Default Program Flow Specifiers (if not explicitly given): +ecpvr",
    "",
};

void printUsage() {
    for (const char* line : USAGE) postOutput("%s\n", line);
    postOutput("Press any key to exit... ");
    g_keyReader();
}

void waitForKey() {
    postOutput("----------------------------------------------------------- ");
    postOutput("Press any key ... ");
    g_keyReader();
    postOutput("\n");
}

// A hexadecimal value, "0x" allowed; false for an empty or malformed one.
bool parseHexArg(const char* s, uint32_t& value) {
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s += 2;
    size_t n = std::strlen(s);
    if (n == 0 || n > 8 || std::strspn(s, "0123456789abcdefABCDEF") != n) return false;
    value = uint32_t(std::strtoul(s, nullptr, 16));
    return true;
}

// A usage error ends the run before the port is opened.
int usageError(const char* format, const char* what) {
    postOutput(format, what);
    return 1;
}

bool has(uint32_t flag) { return (g_set.flow & flag) != 0; }

void plusSpecifiers(const char* letters) {
    g_set.flow &= ~(FLOW_ERASE | FLOW_ERASE_CHECK | FLOW_FAST_CHECK | FLOW_PROGRAM | FLOW_VERIFY |
                    FLOW_RESET | FLOW_USER_CALLED | FLOW_RESTORE_INFOA);
    g_set.flow |= FLOW_BSL_PATTERN;
    for (const char* p = letters; *p; ++p) {
        switch (std::tolower(static_cast<unsigned char>(*p))) {
        case 'a': g_set.flow |= FLOW_RESTORE_INFOA | FLOW_ERASE; break;
        case 'e': g_set.flow |= FLOW_ERASE; break;
        case 'c': g_set.flow |= FLOW_ERASE_CHECK; break;
        case 'f': g_set.flow |= FLOW_FAST_CHECK; break;
        case 'p': g_set.flow |= FLOW_PROGRAM; break;
        case 'r': g_set.flow |= FLOW_RESET; break;
        case 'u': g_set.flow |= FLOW_USER_CALLED; break;
        case 'v': g_set.flow |= FLOW_VERIFY; break;
        case 'w': g_set.flow |= FLOW_WAIT; break;
        case 'x': g_set.flow &= ~FLOW_BSL_PATTERN; break;
        default: postOutput("ERROR: Illegal action specified!\n"); break;
        }
    }
}
}  // namespace

void (*g_keyReader)() = readConsoleKey;

bool copyName(char (&dst)[BSL_NAME_SIZE], const char* src) {
    if (!src) src = "";
    if (std::strlen(src) >= BSL_NAME_SIZE) return false;
    std::snprintf(dst, BSL_NAME_SIZE, "%s", src);
    return true;
}

// 0 to go on with the run; 1 after the usage text or a usage error, before any port is opened.
// A name is never cut and an option never runs without the values it wants: a cut name or a
// default standing in for a forgotten value would act on something the user did not name.
int parseOptions(int argc, const char* const* argv) {
    g_set.fileName[0] = '\0';
    g_set.passwordFile[0] = '\0';
    copyName(g_set.patchFile, "PATCH.TXT");
    g_set.loaderFile[0] = '\0';
    g_set.flow = DEFAULT_FLOW;
    if (argc < 2) {
        printUsage();
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i] ? argv[i] : "";
        if (arg[0] == '+') {
            plusSpecifiers(arg + 1);
            continue;
        }
        if (arg[0] != '-') {
            if (!copyName(g_set.fileName, arg))
                return usageError("ERROR: The file name \"%.40s...\" is too long!\n", arg);
            continue;
        }
        const char* value = arg + 2;
        const char option[3] = {'-', arg[1], '\0'};
        switch (std::tolower(static_cast<unsigned char>(arg[1]))) {
        case 'h': printUsage(); return 1;
        case 'c': {
            static const char prefix[] = "\\\\.\\";
            if (!*value) return usageError("ERROR: %s needs a port name!\n", option);
            std::string name = std::strncmp(value, prefix, 4) == 0 ? value : prefix + std::string(value);
            if (!copyName(g_set.portName, name.c_str()))
                return usageError("ERROR: The name given with %s is too long!\n", option);
            break;
        }
        case 'p':
        case 'a':
        case 'b': {
            char(&name)[BSL_NAME_SIZE] = arg[1] == 'p' || arg[1] == 'P'   ? g_set.passwordFile
                                         : arg[1] == 'a' || arg[1] == 'A' ? g_set.patchFile
                                                                          : g_set.loaderFile;
            if (!*value) return usageError("ERROR: %s needs a file name!\n", option);
            if (!copyName(name, value)) return usageError("ERROR: The name given with %s is too long!\n", option);
            break;
        }
        case 'e':
            if (!parseHexArg(value, g_set.start))
                return usageError("ERROR: %s needs the segment address in hex (e.g. -eF000)!\n", option);
            g_set.flow &= ~(FLOW_ERASE | FLOW_ERASE_CHECK | FLOW_FAST_CHECK | FLOW_PROGRAM |
                            FLOW_VERIFY | FLOW_RESET | FLOW_USER_CALLED | FLOW_READ);
            g_set.flow |= FLOW_ERASE_SEGMENT | FLOW_BSL_PATTERN;
            ++i;
            break;
        case 'm':
            if (*value) {
                long n = std::strtol(value, nullptr, 0);
                g_set.massEraseCycles = n < 1 ? 1 : int(n > 1000000 ? 1000000 : n);
                postOutput("Number of mass erase cycles set to %i.\n", g_set.massEraseCycles);
            }
            break;
        case 'f':
            if (*value) {
                long n = std::strtol(value, nullptr, 10);
                n = n < 16 ? 16 : n > 250 ? 250 : n;
                g_set.maxFrameData = uint32_t(n - n % 16);
                postOutput("Max. number of data bytes within one frame set to %i.\n",
                           int(g_set.maxFrameData));
            }
            break;
        case 'r': {
            const char* file = i + 2 < argc && argv[i + 2] ? argv[i + 2] : "";
            if (i + 2 >= argc || !parseHexArg(value, g_set.start) || !argv[i + 1] ||
                !parseHexArg(argv[i + 1], g_set.length) || !*file || *file == '-' || *file == '+')
                return usageError("ERROR: %s needs a start address, a length (both hex) and a file name "
                                  "(e.g. -r10C0 40 infoa.txt)!\n",
                                  option);
            if (!copyName(g_set.readFile, file))
                return usageError("ERROR: The name given with %s is too long!\n", option);
            i += 2;
            g_set.flow &= ~(FLOW_ERASE | FLOW_ERASE_CHECK | FLOW_FAST_CHECK | FLOW_PROGRAM |
                            FLOW_VERIFY);
            g_set.flow |= FLOW_READ;
            break;
        }
        case 's':
            if (value[0] >= '0' && value[0] <= '9') {
                g_set.baudMode = value[0] - '0';
                g_set.flow |= FLOW_BAUD;
            }
            break;
        case 'w':
            // Like "-x" and "-1", the letter alone counts: "-wfoo" waits.
            g_set.flow |= FLOW_WAIT;
            break;
        default:
            if (arg[1] == 'x' || arg[1] == 'X') {
                g_set.flow |= FLOW_EXTENDED;
            } else if (arg[1] == '1') {
                g_set.flow |= FLOW_ONE_PASS;
            } else {
                postOutput("ERROR: Illegal command line parameter!\n");
            }
            break;
        }
    }
    if (has(FLOW_READ)) {
        const uint32_t top = has(FLOW_EXTENDED) ? EXTENDED_ADDRESS_SPACE : ADDRESS_SPACE;
        if (g_set.length > MAX_READ_LENGTH) {
            postOutput("ERROR: Read length above 0x%X!\n", unsigned(MAX_READ_LENGTH));
            return 1;
        }
        // Past the top the addresses would wrap to 0 and be labelled as ones that do not exist.
        if (g_set.start >= top || g_set.length > top - g_set.start) {
            postOutput("ERROR: Read range 0x%X + 0x%X goes past the top of the address space (0x%X)!\n",
                       unsigned(g_set.start), unsigned(g_set.length), unsigned(top - 1));
            return 1;
        }
    }
    return 0;
}

namespace {
struct Run {
    const char* firmware;
    size_t firmwareSize;
    uint32_t progStart = 0;
    uint32_t end = 0;
};

int finishRun(const Run& run, int result, bool passwordStep) {
    if (has(FLOW_EXTENDED)) bslSetOffset(0);
    if (has(FLOW_RESET)) bslEntrySequence(false);
    switch (result) {
    case 0:
        if (has(FLOW_PROGRAM))
            postOutput("Programming completed.\n");
        else if (has(FLOW_VERIFY))
            postOutput("Verification successful.\n");
        postOutput("Prog/Verify: %.1f sec", uint32_t(run.end - run.progStart) / 1000.0);
        postOutput(" - Over all: %.1f sec\n", uint32_t(run.end - g_set.overallStart) / 1000.0);
        break;
    case ERR_OPEN_FILE: postOutput("ERROR: Unable to open input file \"%s\"!\n", g_set.errorFile); break;
    case ERR_WRITE_FILE: postOutput("ERROR: Unable to write output file \"%s\"!\n", g_set.errorFile); break;
    case ERR_ERASE_CHECK: postOutput("ERROR: Erase check failed!\n"); break;
    case ERR_VERIFY: postOutput("ERROR: Verification failed!\n"); break;
    case BSL_ERR_SYNC:
        postOutput("ERROR: Synchronization failed!\n");
        postOutput("Device with boot loader connected?\n");
        break;
    default:
        if (result == BSL_ERR_NAK && passwordStep) {
            g_passwordRefused = true;
            postOutput("Password not accepted\n");
        }
        else
            postOutput("ERROR: Communication Error!\n");
        break;
    }
    if (has(FLOW_WAIT)) waitForKey();
    closeSerialPort();
    return result == 0 ? 0 : 1;
}

int password() { return sendPassword(g_set.passwordFile, g_set.passwordText, g_set.passwordSize); }

void forgetPassword() {
    g_set.passwordFile[0] = '\0';
    g_set.passwordText = nullptr;
    g_set.passwordSize = 0;
}

int massErase() { return bslCommand(CMD_MASS_ERASE, 0xFF00, 0xA506, nullptr, nullptr); }

// A whole-image step needs the text the caller should have handed over.
int imageStep(const Run& run, int blockFlags) {
    if (!run.firmware) {
        copyName(g_set.errorFile, g_set.fileName);
        return ERR_OPEN_FILE;
    }
    return readTiTxtBuffer(run.firmware, run.firmwareSize, blockFlags);
}

// Failures end the run through the finishing step; 0 means go on.
struct Failure {
    int code;
    bool passwordStep;
};

int readOut() {
    postOutput("Read memory to file: %s Start: 0x%-4X Length 0x%-4X\n", g_set.readFile,
               unsigned(g_set.start), unsigned(g_set.length));
    if (has(FLOW_EXTENDED) && bslSetOffset(g_set.start >> 16) != BSL_OK) return 1;
    // An odd start is read from the even address below, so the file keeps every byte in place.
    uint32_t start = g_set.start & ~1u;
    uint32_t length = g_set.length + (g_set.start & 1);
    std::vector<uint8_t> buffer((length + 1) & ~1u);
    for (uint32_t done = 0; done < length;) {
        uint32_t piece = length - done < g_set.maxFrameData ? length - done : g_set.maxFrameData;
        postOutput("  Read memory Start: 0x%-4X Length %d\n", unsigned(start + done), int(piece));
        int result = bslCommand(CMD_READ_BLOCK, uint16_t(start + done), uint16_t(piece), nullptr,
                                buffer.data() + done, buffer.size() - done);
        if (result != BSL_OK) return result;
        done += piece;
    }
    // A read-out that did not reach its file is a failure, and no half-written file is left.
    bool written = openTiTxtOutput(g_set.readFile);
    // Rounded up: an odd length still gets its last byte.
    writeTiTxtWords(start, (length + 1) / 2, buffer.data());
    if (!closeTiTxtOutput() || !written) {
        if (written) std::remove(g_set.readFile);
        copyName(g_set.errorFile, g_set.readFile);
        return ERR_WRITE_FILE;
    }
    if (has(FLOW_EXTENDED) && bslSetOffset(0) != BSL_OK) return 1;
    return BSL_OK;
}

// The copy of InfoA on disk while the instrument has none.
int keepInfoAOnDisk(const uint8_t (&infoA)[64]) {
    bool written = openTiTxtOutput(g_infoAFile.c_str());
    writeTiTxtWords(0x10C0, 32, infoA);
    if (!closeTiTxtOutput() || !written) {
        copyName(g_set.errorFile, g_infoAFile.c_str());
        return ERR_WRITE_FILE;
    }
    postOutput("InfoA kept in \"%s\" until it is back in the instrument.\n", g_infoAFile.c_str());
    return BSL_OK;
}

// Deleted only once the instrument holds those bytes again.
int dropInfoAOnDisk(const uint8_t (&infoA)[64]) {
    uint8_t back[64];
    int r = bslCommand(CMD_READ_BLOCK, 0x10C0, 64, nullptr, back, sizeof back);
    if (r != BSL_OK) return r;
    if (std::memcmp(back, infoA, sizeof back) != 0) {
        postOutput("InfoA reads back different from \"%s\"!\n", g_infoAFile.c_str());
        return ERR_VERIFY;
    }
    g_dropInfoAFile(g_infoAFile);
    postOutput("InfoA is back in the instrument; \"%s\" deleted.\n", g_infoAFile.c_str());
    return BSL_OK;
}

// One main pass; {0, false} when it ran through.
Failure mainPass(Run& run) {
    const bool loader = g_set.loaderFile[0] != '\0';
    const bool x = has(FLOW_EXTENDED);
    int r;
    uint8_t infoA[64];
    if (!(loader && g_set.passwordFile[0])) {
        if (has(FLOW_RESTORE_INFOA) && has(FLOW_ERASE)) {
            postOutput("Read InfoA Segment...\n");
            if ((r = password()) != BSL_OK) return {r, true};
            if (x && bslSetOffset(0) != BSL_OK) return {1, false};
            if ((r = bslCommand(CMD_READ_BLOCK, 0x10C0, 64, nullptr, infoA, sizeof infoA)) != BSL_OK)
                return {r, false};
            if (!g_infoAFile.empty() && (r = keepInfoAOnDisk(infoA)) != BSL_OK) return {r, false};
        } else {
            g_set.flow &= ~FLOW_RESTORE_INFOA;
        }
        if (has(FLOW_ERASE)) {
            postOutput("Mass Erase...\n");
            for (int i = 0; i < g_set.massEraseCycles; ++i) {
                if (i == 1) postOutput("Additional mass erase cycles...\n");
                if ((r = massErase()) != BSL_OK) return {r, false};
            }
            forgetPassword();
        }
        if (has(FLOW_RESTORE_INFOA)) {
            postOutput("Restore InfoA Segment...\n");
            if (x && bslSetOffset(0) != BSL_OK) return {1, false};
            int k = 0;
            while (k < 64 && infoA[k] == 0xFF) ++k;
            if (k < 64) {
                std::memcpy(g_cmd.txData, infoA + k, size_t(64 - k));
                if ((r = processBlock(0x10C0 + uint32_t(k), uint32_t(64 - k), BLOCK_PROGRAM)) != BSL_OK)
                    return {r, false};
            }
            if (!g_infoAFile.empty() && (r = dropInfoAOnDisk(infoA)) != BSL_OK) return {r, false};
        }
    }
    if (!has(FLOW_USER_CALLED) && (r = password()) != BSL_OK) return {r, true};
    if (readLoaderIdentity() != BSL_OK) return {1, false};

    uint16_t version = g_cmd.identity.version();
    if (g_cmd.patchRequired || (loader && version <= 0x0110)) {
        postOutput("Load PC with 0x0C22...\n");
        if ((r = bslCommand(CMD_LOAD_PC, 0x0C22, 0, nullptr, nullptr)) != BSL_OK) return {r, false};
        if ((r = password()) != BSL_OK) return {r, true};
    }
    if (loader) {
        if ((r = startReplacementLoader()) != BSL_OK) return {r, false};
        if (g_cmd.model == LoaderModel::Large && (r = password()) != BSL_OK) return {r, true};
    }
    if (g_cmd.patchRequired && (r = loadPatch()) != BSL_OK) return {r, false};
    if (loader && g_set.passwordFile[0] && has(FLOW_ERASE)) {
        postOutput("Mass Erase...\n");
        if ((r = massErase()) != BSL_OK) return {r, false};
        forgetPassword();
    }
    if (has(FLOW_BAUD) && (r = changeBaudRate()) != BSL_OK) return {r, false};

    run.progStart = platform::tickCount();
    const char* name = g_set.fileName;
    if (!has(FLOW_ONE_PASS)) {
        if (has(FLOW_ERASE_CHECK)) {
            postOutput("Erase Check by file \"%s\"...\n", name);
            if ((r = imageStep(run, BLOCK_ERASE_CHECK)) != BSL_OK) return {r, false};
        }
        if (has(FLOW_FAST_CHECK)) {
            postOutput("Fast E-Check by file \"%s\"...\n", name);
            if ((r = imageStep(run, BLOCK_FAST_CHECK)) != BSL_OK) return {r, false};
        }
        if (has(FLOW_PROGRAM)) {
            postOutput("Program \"%s\"...\n", name);
            r = imageStep(run, BLOCK_PROGRAM);
            if (r == BSL_OK) {
                postOutput("%i bytes programmed.\n", int(g_byteCount));
            } else if (r == ERR_OPEN_FILE) {
                return {r, false};
            } else if (!loader) {
                return {ERR_VERIFY, false};
            } else {
                if (x && bslSetOffset(0) != BSL_OK) return {1, false};
                uint8_t word[BSL_REPLY_SIZE];
                if ((r = bslCommand(CMD_READ_BLOCK, g_cmd.identity.verifyErrorAddress, 2, nullptr,
                                    word, sizeof word)) != BSL_OK)
                    return {r, false};
                postOutput("Verification Error at 0x%04X\n", unsigned(uint16_t((word[0] | word[1] << 8) - 3)));
            }
        }
        if (has(FLOW_VERIFY)) {
            if (has(FLOW_PROGRAM) && (version >= 0x0140 || loader)) {
                postOutput("Verify... already done during programming.\n");
            } else {
                postOutput("Verify\"%s\"...\n", name);
                if ((r = imageStep(run, BLOCK_VERIFY)) != BSL_OK) return {r, false};
            }
        }
    } else {
        int flags = 0;
        if (has(FLOW_ERASE_CHECK)) postOutput("EraseCheck "), flags |= BLOCK_ERASE_CHECK;
        if (has(FLOW_FAST_CHECK)) postOutput("EraseCheckFast "), flags |= BLOCK_FAST_CHECK;
        if (has(FLOW_PROGRAM)) postOutput("Program "), flags |= BLOCK_PROGRAM;
        if (has(FLOW_VERIFY)) postOutput("Verify "), flags |= BLOCK_VERIFY;
        if (flags) {
            postOutput("\"%s\" ...\n", name);
            if ((r = imageStep(run, flags)) != BSL_OK) return {r, false};
            postOutput("%i bytes programmed.\n", int(g_byteCount));
        }
    }
    if (has(FLOW_READ) && (r = readOut()) != BSL_OK) return {r, false};
    if (has(FLOW_ERASE_SEGMENT)) {
        postOutput("Erase Segment: 0x%-4X\n", unsigned(g_set.start));
        if (x && bslSetOffset(g_set.start >> 16) != BSL_OK) return {1, false};
        if (bslCommand(CMD_ERASE_SEGMENT, uint16_t(g_set.start), 0xA502, nullptr, nullptr) != BSL_OK)
            return {1, false};
        if (x && bslSetOffset(0) != BSL_OK) return {1, false};
    }
    return {0, false};
}
}  // namespace

int bslMain(int argc, const char* const* argv, const char* passwordData, size_t passwordSize,
            const char* firmwareData, size_t firmwareSize) {
    g_cmd.model = LoaderModel::None;
    g_cmd.warning = true;
    g_passwordRefused = false;
    if (parseOptions(argc, argv) != 0) return 1;
    g_set.passwordText = passwordData;
    g_set.passwordSize = passwordSize;

    if (openSerialPort(g_set.portName, 300, 4) != BSL_OK) {
        postOutput("ERROR: Opening COM-Port failed!\n");
        if (has(FLOW_WAIT)) waitForKey();
        return 1;
    }
    Run run{firmwareData, firmwareSize};
    if (!has(FLOW_USER_CALLED)) {
        bslEntrySequence(has(FLOW_BSL_PATTERN));
        g_set.overallStart = platform::tickCount();
    }
    for (;;) {
        Failure f = mainPass(run);
        if (f.code != 0) return finishRun(run, f.code, f.passwordStep);
        if (!has(FLOW_USER_CALLED)) break;
        g_set.flow &= ~FLOW_USER_CALLED;
        postOutput("No Device reset - BSL called from user program ---------------------\n");
    }
    run.end = platform::tickCount();
    return finishRun(run, 0, false);
}

bool bslPasswordRefused() { return g_passwordRefused; }

void bslSetInfoAFile(const std::string& path, void (*drop)(const std::string& path)) {
    g_infoAFile = path;
    g_dropInfoAFile = drop;
}

namespace {
class DiscardOutput final : public OutputTarget {
public:
    void postText(char* text) override { freeEngineText(text); }
    void postProgress(uint32_t, uint32_t) override {}
};
}  // namespace

BslRunPlan bslPlanRun(int argc, const char* const* argv) {
    const BslSettings saved = g_set;
    OutputTarget* target = outputTarget();
    DiscardOutput discard;
    setOutputTarget(&discard);
    void (*keyReader)() = g_keyReader;
    g_keyReader = [] {};
    BslRunPlan plan;
    plan.endsBeforePort = parseOptions(argc, argv) != 0;
    plan.readsImage = has(FLOW_ERASE_CHECK | FLOW_FAST_CHECK | FLOW_PROGRAM | FLOW_VERIFY);
    plan.extended = has(FLOW_EXTENDED);
    plan.imageFile = g_set.fileName;
    plan.passwordFile = g_set.passwordFile;
    plan.keepsInfoA = has(FLOW_RESTORE_INFOA) && has(FLOW_ERASE);
    if (has(FLOW_READ)) plan.readFile = g_set.readFile;
    g_set = saved;
    setOutputTarget(target);
    g_keyReader = keyReader;
    return plan;
}

void bslResetState() {
    closeSerialPort();
    g_cmd = BslCommandState{};
    g_passwordRefused = false;
    g_infoAFile.clear();
    g_dropInfoAFile = nullptr;
    g_set = BslSettings{};
    g_keyReader = readConsoleKey;
    setBlockSink(nullptr);
}
