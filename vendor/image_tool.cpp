// Writes the stand-in's export-only image, the Linux build's resource DLL/6.
#include <cstdio>

#include "vendor/export_image.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: koral_vendor_image OUTPUT\n");
        return 2;
    }
    const std::vector<uint8_t> image = vendor::standInExportImage();
    FILE* out = std::fopen(argv[1], "wb");
    bool ok = out && std::fwrite(image.data(), 1, image.size(), out) == image.size();
    if (out) ok = std::fclose(out) == 0 && ok;
    if (!ok) std::fprintf(stderr, "koral_vendor_image: cannot write %s\n", argv[1]);
    return ok ? 0 : 1;
}
