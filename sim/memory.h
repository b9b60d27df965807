#pragma once
// The part's address space with the flash rules: erased reads 0xFF, programming only clears bits,
// erases work on whole segments.
#include <cstdint>
#include <utility>
#include <vector>

namespace sim {

class Memory {
public:
    enum class Region { Peripheral, Ram, Rom, Info, Main, Vacant };

    explicit Memory(uint32_t flashEnd);
    uint32_t flashEnd() const { return flashEnd_; }
    Region region(uint32_t address) const;
    bool isFlash(uint32_t address) const;

    uint8_t get(uint32_t address) const;
    void setRaw(uint32_t address, uint8_t value);  // any mapped cell, ROM included
    // A CPU write: RAM and registers take the value, flash ANDs it in, ROM and vacant ignore it.
    void program(uint32_t address, uint8_t value);
    // The first and last address of the segment holding `address` (flash only).
    std::pair<uint32_t, uint32_t> segment(uint32_t address) const;
    // The segments an erase of information (and main) memory or of main memory alone goes
    // through, in address order.
    std::vector<std::pair<uint32_t, uint32_t>> segments(bool information, bool main) const;
    void eraseSegment(uint32_t address);
    void eraseMain();
    void eraseAll();  // information and main flash
    bool blank(uint32_t address, uint32_t count) const;

private:
    uint32_t flashEnd_;
    std::vector<uint8_t> cells_;
};

}  // namespace sim
