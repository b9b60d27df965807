// TI-TXT images: the reader that cuts a text into blocks, and the writer of read-out files.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "bsl/engine.h"
#include "bsl/output.h"

uint32_t g_byteCount = 0;

namespace {
BlockSink g_sink = processBlock;

constexpr size_t LINE_SIZE = 128;

// Hands out lines of a text in memory or of a file.
class LineSource {
public:
    LineSource(const char* text, size_t length) : text_(text), length_(length) {}
    explicit LineSource(std::FILE* file) : file_(file) {}

    size_t consumed() const { return pos_; }

    // The next line into `line` (zero-terminated); its length, or -1 at the end.
    int next(char (&line)[LINE_SIZE]) {
        if (file_) {
            if (!std::fgets(line, LINE_SIZE - 1, file_)) return -1;
            return int(std::strlen(line));
        }
        if (!text_ || pos_ >= length_ || text_[pos_] == '\0') return -1;
        size_t n = 0;
        while (n < LINE_SIZE - 1 && pos_ < length_) {
            char c = text_[pos_];
            if (c == '\0') break;
            line[n++] = c;
            ++pos_;
            if (c == '\n') break;
        }
        line[n] = '\0';
        return int(n);
    }

private:
    const char* text_ = nullptr;
    size_t length_ = 0;
    size_t pos_ = 0;
    std::FILE* file_ = nullptr;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Up to `maxDigits` hex digits after optional white space; false when there are none.
bool parseHex(const char* s, int maxDigits, uint32_t& value) {
    while (*s && std::isspace(static_cast<unsigned char>(*s))) ++s;
    value = 0;
    int digits = 0;
    for (; digits < maxDigits && hexDigit(*s) >= 0; ++digits, ++s) value = value << 4 | uint32_t(hexDigit(*s));
    return digits > 0;
}

struct Reader {
    int flags;
    // A password travels whole in one frame: split, each part is a wrong password, and loaders
    // that erase on a wrong password would wipe the device. The -f maximum cuts data only.
    uint32_t maxBlock = (flags & BLOCK_PASSWORD) ? BSL_MAX_FRAME_DATA : g_set.maxFrameData;
    uint32_t address = 0;
    uint32_t size = 0;
    int result = BSL_OK;

    void send() {
        result = g_sink(address, size, flags);
        g_byteCount += size;
        size = 0;
    }
    // A data line; false once a block failed.
    bool dataLine(const char* line, int length) {
        for (int offset = 0; offset < length - 3; offset += 3) {
            uint32_t value;
            if (parseHex(line + offset, 3, value)) g_cmd.txData[size] = uint8_t(value);
            ++size;
            // Lines longer than the dialect allows would run past the block buffer: the block
            // goes out as soon as it is full and the line continues in the next one.
            if (size >= maxBlock) {
                uint32_t sent = size;
                send();
                address += sent;
                if (result != BSL_OK) return false;
            }
        }
        if (size > maxBlock - 16) {
            uint32_t sent = size;
            send();
            address += sent;
        }
        return result == BSL_OK;
    }
};

int readTiTxt(LineSource& source, int blockFlags, size_t progressTotal) {
    g_byteCount = 0;
    Reader reader{blockFlags};
    bool progress = progressTotal != 0 && blockFlags == BLOCK_PROGRAM;
    char line[LINE_SIZE];
    for (;;) {
        if (progress) postProgress(uint32_t(source.consumed()), uint32_t(progressTotal));
        int length = source.next(line);
        if (length < 0 || line[0] == 'q') break;
        if (line[0] == '@') {
            if (reader.size != 0) {
                reader.send();
                if (reader.result != BSL_OK) return reader.result;
            }
            parseHex(line + 1, 8, reader.address);
        } else if (!reader.dataLine(line, length)) {
            return reader.result;
        }
    }
    if (reader.size != 0) reader.send();
    return reader.result;
}
}  // namespace

BlockSink setBlockSink(BlockSink sink) {
    BlockSink previous = g_sink;
    g_sink = sink ? sink : processBlock;
    return previous;
}

int readTiTxtBuffer(const char* text, size_t textLength, int blockFlags) {
    LineSource source(text, textLength);
    return readTiTxt(source, blockFlags, textLength);
}

int readTiTxtFile(const char* path, int blockFlags) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        copyName(g_set.errorFile, path);
        return ERR_OPEN_FILE;
    }
    LineSource source(file);
    int result = readTiTxt(source, blockFlags, 0);
    std::fclose(file);
    return result;
}

uint16_t firstTiTxtAddress(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return 0;
    LineSource source(file);
    char line[LINE_SIZE];
    uint32_t address = 0;
    while (source.next(line) >= 0) {
        if (line[0] == '@') {
            parseHex(line + 1, 8, address);
            break;
        }
    }
    std::fclose(file);
    return uint16_t(address);
}

namespace {
std::FILE* g_out = nullptr;
int g_column = 0;
bool g_haveNext = false;
uint32_t g_nextAddress = 0;

void endLine() { std::fputs("\r\n", g_out); }
}  // namespace

bool openTiTxtOutput(const char* path) {
    if (g_out) std::fclose(g_out);
    g_out = std::fopen(path, "wb");
    g_column = 0;
    g_haveNext = false;
    return g_out != nullptr;
}

void writeTiTxtWords(uint32_t address, uint32_t wordCount, const uint8_t* bytes) {
    if (!g_out) return;
    if (!g_haveNext || address != g_nextAddress) {
        if (g_column != 0) endLine();
        std::fprintf(g_out, "@%04X", unsigned(address));
        endLine();
        g_nextAddress = address;
        g_haveNext = true;
        g_column = 0;
    }
    for (uint32_t i = 0; i < 2 * wordCount; ++i) {
        std::fprintf(g_out, "%02X", bytes[i]);
        if (++g_column == 16) {
            endLine();
            g_column = 0;
        } else {
            std::fputc(' ', g_out);
        }
    }
    g_nextAddress += 2 * wordCount;
}

bool closeTiTxtOutput() {
    if (!g_out) return false;
    if (g_column != 0) endLine();
    std::fputs("q", g_out);
    endLine();
    bool ok = std::ferror(g_out) == 0;
    ok = std::fclose(g_out) == 0 && ok;
    g_out = nullptr;
    return ok;
}
