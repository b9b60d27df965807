// Makes the five members of a firmware release for res/package/ from a binary image.
//
//   koral_pkggen --sample OUTDIR
//       the sample release: a firmware-like image of 0x2100..0xFFFF from a fixed seed
//   koral_pkggen --image FILE [--address HEX] [--identity TEXT] OUTDIR
//       a real release from the bytes of FILE, loaded at --address (default 2100)
//
// The model key is always derived from the image's last 32 bytes (its interrupt vectors), so a
// new image can never travel with a stale key.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr uint32_t VECTOR_TABLE = 0xFFE0;
// The loader's security key: 0x0000 keeps a loader from 2.00 on from erasing the part (InfoA
// too) when a wrong password comes, and the upload tries the blank password first every time.
constexpr uint32_t SECURITY_KEY = 0xFFDE;
constexpr uint32_t IMAGE_END = 0x10000;
const char* const DEFAULT_IDENTITY = "ZantirKORAL-VKT-1.0.3 ";

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: koral_pkggen --sample OUTDIR\n"
                 "       koral_pkggen --image FILE [--address HEX] [--identity TEXT] OUTDIR\n"
                 "Writes image.txt, identity.txt, blank_key.txt, model_key.txt and blank_infoa.txt\n"
                 "(resources FIRMWARE/1..5) into OUTDIR. The image must end at 0xFFFF, and its word at\n"
                 "0xFFDE (the loader's security key) must be 0x0000.\n");
}

// TI-TXT as the release carries it: CR LF line ends, sixteen values a line, and either a blank
// after every value (the image) or only between values (keys and InfoA).
std::string tiTxt(uint32_t address, const std::vector<uint8_t>& bytes, bool blankAfterEveryValue) {
    std::string out;
    char buf[16];
    std::snprintf(buf, sizeof buf, "@%04X\r\n", unsigned(address));
    out += buf;
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        out += buf;
        bool lineEnd = i % 16 == 15 || i + 1 == bytes.size();
        if (blankAfterEveryValue || !lineEnd) out += ' ';
        if (lineEnd) out += "\r\n";
    }
    out += "q\r\n";
    return out;
}

// A deterministic stand-in for compiled code: no 0xFF at all, so no run of erased-looking bytes
// can hide a reader or programming fault; vectors point into the code, reset at its start.
std::vector<uint8_t> sampleImage(uint32_t address) {
    std::vector<uint8_t> image(IMAGE_END - address);
    uint32_t state = 0x4B4F5241;  // fixed seed
    for (uint8_t& b : image) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = uint8_t(state >> 24);
        if (b == 0xFF) b = 0x3F;
    }
    image[SECURITY_KEY - address] = 0x00;
    image[SECURITY_KEY + 1 - address] = 0x00;
    const uint32_t codeEnd = 0xF000;
    for (uint32_t v = VECTOR_TABLE; v < IMAGE_END; v += 2) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        uint32_t target = v == 0xFFFE ? address : address + (state % (codeEnd - address)) / 2 * 2;
        image[v - address] = uint8_t(target);
        image[v + 1 - address] = uint8_t(target >> 8);
    }
    return image;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "koral_pkggen: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool sample = false;
    std::string imagePath, outDir, identity = DEFAULT_IDENTITY;
    uint32_t address = 0x2100;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--sample") {
            sample = true;
        } else if (a == "--image" || a == "--address" || a == "--identity") {
            const char* v = value();
            if (!v) {
                std::fprintf(stderr, "koral_pkggen: %s needs a value\n", a.c_str());
                return 2;
            }
            if (a == "--image") imagePath = v;
            if (a == "--identity") identity = v;
            if (a == "--address") {
                char* end = nullptr;
                unsigned long parsed = std::strtoul(v, &end, 16);
                if (!*v || *end || parsed >= VECTOR_TABLE || parsed % 2) {
                    std::fprintf(stderr, "koral_pkggen: --address wants an even hex address below FFE0\n");
                    return 2;
                }
                address = uint32_t(parsed);
            }
        } else if (!a.empty() && a[0] != '-' && outDir.empty()) {
            outDir = a;
        } else {
            std::fprintf(stderr, "koral_pkggen: unexpected argument %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (outDir.empty() || sample == !imagePath.empty()) {
        usage(stderr);
        return 2;
    }

    std::vector<uint8_t> image;
    if (sample) {
        image = sampleImage(address);
    } else {
        std::ifstream in(imagePath, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "koral_pkggen: cannot read %s\n", imagePath.c_str());
            return 1;
        }
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (image.size() != IMAGE_END - address) {
            std::fprintf(stderr, "koral_pkggen: %s holds %zu bytes; from 0x%04X to 0xFFFF are %u\n",
                         imagePath.c_str(), image.size(), unsigned(address), unsigned(IMAGE_END - address));
            return 1;
        }
    }
    uint32_t key = uint32_t(image[SECURITY_KEY - address] | image[SECURITY_KEY + 1 - address] << 8);
    if (key != 0) {
        std::fprintf(stderr,
                     "koral_pkggen: the image's word at 0xFFDE is 0x%04X, not 0x0000: with it a wrong password "
                     "erases the instrument, InfoA included\n",
                     unsigned(key));
        return 1;
    }
    if (identity.rfind("ZantirKORAL", 0) != 0 || identity.find_first_of("\r\n") != std::string::npos) {
        std::fprintf(stderr, "koral_pkggen: the identity must begin with ZantirKORAL and hold no line break\n");
        return 1;
    }

    const std::vector<uint8_t> modelKey(image.end() - 32, image.end());
    const std::string dir = outDir + "/";
    bool ok = writeFile(dir + "image.txt", tiTxt(address, image, true)) &&
              writeFile(dir + "identity.txt", identity + "\r\n") &&
              writeFile(dir + "blank_key.txt", tiTxt(VECTOR_TABLE, std::vector<uint8_t>(32, 0xFF), false)) &&
              writeFile(dir + "model_key.txt", tiTxt(VECTOR_TABLE, modelKey, false)) &&
              writeFile(dir + "blank_infoa.txt", tiTxt(0x10C0, std::vector<uint8_t>(64, 0xFF), false));
    return ok ? 0 : 1;
}
