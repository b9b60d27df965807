#include "pe_builder.h"

#include <algorithm>
#include <cstring>

namespace testpe {
namespace {

uint32_t align(uint32_t v, uint32_t to) { return to ? (v + to - 1) / to * to : v; }

constexpr uint32_t kLfanew = 0x80;
constexpr uint32_t kNtSize = 248;

void putString(std::vector<uint8_t>& bytes, size_t at, const std::string& s) {
    if (bytes.size() < at + s.size() + 1) bytes.resize(at + s.size() + 1);
    std::memcpy(bytes.data() + at, s.c_str(), s.size() + 1);
}

}  // namespace

uint32_t Layout::fileOffset(uint32_t rva) const {
    for (auto [start, offset, size] : rawData) {
        if (rva >= start && rva - start < size) return offset + (rva - start);
    }
    return rva;  // inside the headers
}

uint32_t PeBuilder::nextRva() const {
    if (sections_.empty()) return align(0x400, sectionAlignment);
    const Section& last = sections_.back();
    return align(last.rva + std::max<uint32_t>(last.virtualSize, 1), sectionAlignment);
}

uint32_t PeBuilder::addSection(const std::string& name, std::vector<uint8_t> bytes, uint32_t characteristics,
                               uint32_t virtualSize) {
    const uint32_t rva = nextRva();
    const uint32_t vsize = virtualSize ? virtualSize : uint32_t(bytes.size());
    sections_.push_back({name, rva, vsize, characteristics, std::move(bytes)});
    return rva;
}

std::vector<uint8_t> PeBuilder::build(Layout* layoutOut) const {
    PeBuilder b = *this;  // the generated sections go after the caller's
    Layout layout;

    if (!imports_.empty()) {
        const uint32_t base = b.nextRva();
        std::vector<uint8_t> d((imports_.size() + 1) * 20, 0);
        for (size_t i = 0; i < imports_.size(); ++i) {
            const Import& imp = imports_[i];
            const uint32_t count = uint32_t(imp.functions.size()) + 1;
            const uint32_t ilt = uint32_t(align(uint32_t(d.size()), 4));
            const uint32_t iat = ilt + 4 * count;
            d.resize(iat + 4 * count, 0);
            for (size_t k = 0; k < imp.functions.size(); ++k) {
                const std::string& f = imp.functions[k];
                uint32_t entry;
                if (f[0] == '#') {
                    entry = 0x80000000u | uint32_t(std::stoul(f.substr(1)));
                } else {
                    const uint32_t at = align(uint32_t(d.size()), 2);
                    put<uint16_t>(d, at, 0);
                    putString(d, at + 2, f);
                    entry = base + at;
                }
                put<uint32_t>(d, ilt + 4 * k, entry);
                put<uint32_t>(d, iat + 4 * k, entry);
            }
            const uint32_t name = uint32_t(d.size());
            putString(d, name, imp.library);
            put<uint32_t>(d, i * 20 + 0, imp.lookupTable ? base + ilt : 0);
            put<uint32_t>(d, i * 20 + 12, base + name);
            put<uint32_t>(d, i * 20 + 16, base + iat);
            layout.iat[imp.library] = base + iat;
        }
        layout.importDirectory = b.addSection(".idata", d, DATA);
    }

    if (!exports_.empty()) {
        const uint32_t base = b.nextRva();
        const uint32_t n = uint32_t(exports_.size());
        std::vector<uint8_t> d(40, 0);
        const uint32_t functions = 40, names = functions + 4 * n, ordinals = names + 4 * n;
        d.resize(ordinals + 2 * n, 0);
        for (uint32_t i = 0; i < n; ++i) {
            put<uint32_t>(d, functions + 4 * i, exports_[i].second);
            const uint32_t at = uint32_t(d.size());
            putString(d, at, exports_[i].first);
            put<uint32_t>(d, names + 4 * i, base + at);
            put<uint16_t>(d, ordinals + 2 * i, uint16_t(i));
        }
        const uint32_t dllName = uint32_t(d.size());
        putString(d, dllName, "test.dll");
        put<uint32_t>(d, 12, base + dllName);
        put<uint32_t>(d, 16, 1);  // Base
        put<uint32_t>(d, 20, n);
        put<uint32_t>(d, 24, n);
        put<uint32_t>(d, 28, base + functions);
        put<uint32_t>(d, 32, base + names);
        put<uint32_t>(d, 36, base + ordinals);
        layout.exportDirectory = b.addSection(".edata", d, RDATA);
        layout.exportOrdinals = base + ordinals;
    }

    uint32_t relocSize = 0;
    if (!relocations_.empty() || relocationSection) {
        std::vector<uint8_t> d;
        std::vector<Relocation> sorted = relocations_;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const Relocation& x, const Relocation& y) { return (x.rva >> 12) < (y.rva >> 12); });
        for (size_t i = 0; i < sorted.size();) {
            const uint32_t page = sorted[i].rva & ~0xFFFu;
            const size_t start = d.size();
            put<uint32_t>(d, start, page);
            put<uint32_t>(d, start + 4, 0);
            size_t j = i;
            for (; j < sorted.size() && (sorted[j].rva & ~0xFFFu) == page; ++j)
                put<uint16_t>(d, d.size(), uint16_t(sorted[j].type << 12 | (sorted[j].rva & 0xFFF)));
            if ((j - i) % 2) put<uint16_t>(d, d.size(), 0);  // blocks stay 32-bit aligned
            put<uint32_t>(d, start + 4, uint32_t(d.size() - start));
            i = j;
        }
        relocSize = uint32_t(d.size());
        if (d.empty()) d.resize(8, 0);
        layout.relocDirectory = b.addSection(".reloc", d, RDATA | 0x02000000);
    }

    const uint32_t n = uint32_t(b.sections_.size());
    const uint32_t headers = align(kLfanew + kNtSize + 40 * n, fileAlignment);
    std::vector<uint8_t> out(headers, 0);
    put<uint16_t>(out, 0, 0x5A4D);
    put<uint32_t>(out, 0x3C, kLfanew);
    put<uint32_t>(out, kLfanew, 0x00004550);
    const size_t fh = kLfanew + 4, oh = fh + 20;
    put<uint16_t>(out, fh + 0, 0x014C);
    put<uint16_t>(out, fh + 2, uint16_t(n));
    put<uint16_t>(out, fh + 16, 224);
    put<uint16_t>(out, fh + 18, 0x2102);
    put<uint16_t>(out, oh + 0, 0x010B);
    put<uint32_t>(out, oh + 8, sizeOfInitializedData);
    put<uint32_t>(out, oh + 12, sizeOfUninitializedData);
    put<uint32_t>(out, oh + 16, entryPoint);
    put<uint32_t>(out, oh + 28, imageBase);
    put<uint32_t>(out, oh + 32, sectionAlignment);
    put<uint32_t>(out, oh + 36, fileAlignment);
    put<uint16_t>(out, oh + 40, 4);
    put<uint16_t>(out, oh + 48, 4);
    layout.sizeOfImage = b.sections_.empty() ? align(headers, sectionAlignment) : b.nextRva();
    put<uint32_t>(out, oh + 56, layout.sizeOfImage);
    put<uint32_t>(out, oh + 60, headers);
    put<uint16_t>(out, oh + 68, 2);
    put<uint32_t>(out, oh + 92, 16);
    auto directory = [&](int index, uint32_t rva, uint32_t size) {
        put<uint32_t>(out, oh + 96 + 8 * index, rva);
        put<uint32_t>(out, oh + 100 + 8 * index, size);
    };
    if (layout.exportDirectory) directory(0, layout.exportDirectory, 40);
    if (layout.importDirectory) directory(1, layout.importDirectory, uint32_t(imports_.size() + 1) * 20);
    if (layout.relocDirectory) directory(5, layout.relocDirectory, relocSize);

    layout.sectionTable = kLfanew + kNtSize;
    for (uint32_t i = 0; i < n; ++i) {
        const Section& s = b.sections_[i];
        const size_t at = layout.sectionTable + 40 * i;
        std::memcpy(out.data() + at, s.name.c_str(), std::min<size_t>(8, s.name.size()));
        const uint32_t raw = align(uint32_t(s.bytes.size()), fileAlignment);
        const uint32_t pointer = raw ? uint32_t(out.size()) : 0;
        put<uint32_t>(out, at + 8, s.virtualSize);
        put<uint32_t>(out, at + 12, s.rva);
        put<uint32_t>(out, at + 16, raw);
        put<uint32_t>(out, at + 20, pointer);
        put<uint32_t>(out, at + 36, s.characteristics);
        if (raw) {
            layout.rawData.push_back({s.rva, pointer, raw});
            out.insert(out.end(), s.bytes.begin(), s.bytes.end());
            out.resize(pointer + raw, 0);
        }
    }
    if (layoutOut) *layoutOut = layout;
    return out;
}

}  // namespace testpe
