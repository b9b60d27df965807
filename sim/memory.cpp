#include "sim/memory.h"

#include <algorithm>

#include "sim/instrument.h"

namespace sim {

Memory::Memory(uint32_t flashEnd)
    : flashEnd_(std::clamp<uint32_t>(flashEnd, 0xFFFF, 0xFFFFF)), cells_(size_t(flashEnd_) + 1, 0xFF) {
    std::fill(cells_.begin(), cells_.begin() + RAM_START, 0x00);
}

Memory::Region Memory::region(uint32_t a) const {
    if (a < RAM_START) return Region::Peripheral;
    if (a <= RAM_END) return Region::Ram;
    if (a < BSL_ROM_START) return Region::Vacant;
    if (a <= BSL_ROM_END) return Region::Rom;
    if (a <= INFO_END) return Region::Info;
    if (a <= flashEnd_) return Region::Main;
    return Region::Vacant;
}

bool Memory::isFlash(uint32_t a) const {
    Region r = region(a);
    return r == Region::Info || r == Region::Main;
}

uint8_t Memory::get(uint32_t a) const {
    if (region(a) == Region::Vacant) return (a & 1) ? 0x3F : 0xFF;  // vacant words read 0x3FFF
    return cells_[a];
}

void Memory::setRaw(uint32_t a, uint8_t v) {
    if (region(a) != Region::Vacant) cells_[a] = v;
}

void Memory::program(uint32_t a, uint8_t v) {
    switch (region(a)) {
    case Region::Peripheral:
    case Region::Ram: cells_[a] = v; break;
    case Region::Info:
    case Region::Main: cells_[a] &= v; break;
    default: break;
    }
}

std::pair<uint32_t, uint32_t> Memory::segment(uint32_t a) const {
    const bool info = region(a) == Region::Info;
    uint32_t size = info ? INFO_SEGMENT_SIZE : MAIN_SEGMENT_SIZE;
    // Segments are aligned to their size, so the first main segment is cut short by InfoD..A.
    uint32_t base = std::max(a & ~(size - 1), info ? INFO_START : MAIN_START);
    return {base, std::min(base + size - 1, info ? INFO_END : flashEnd_)};
}

std::vector<std::pair<uint32_t, uint32_t>> Memory::segments(bool information, bool main) const {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (uint32_t a = information ? INFO_START : MAIN_START; a <= (main ? flashEnd_ : INFO_END);) {
        out.push_back(segment(a));
        a = out.back().second + 1;
    }
    return out;
}

void Memory::eraseSegment(uint32_t a) {
    if (!isFlash(a)) return;
    auto [base, end] = segment(a);
    std::fill(cells_.begin() + base, cells_.begin() + end + 1, 0xFF);
}

void Memory::eraseMain() { std::fill(cells_.begin() + MAIN_START, cells_.end(), 0xFF); }

void Memory::eraseAll() { std::fill(cells_.begin() + INFO_START, cells_.end(), 0xFF); }

bool Memory::blank(uint32_t a, uint32_t count) const {
    for (uint32_t i = 0; i < count; ++i)
        if (get(a + i) != 0xFF) return false;
    return true;
}

}  // namespace sim
