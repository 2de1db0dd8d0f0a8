// The cartridge's FPGA configuration flash: erased as a whole, then written as a byte
// stream at byte offsets.
#ifndef CORVANE_SIM_FPGA_FLASH_H
#define CORVANE_SIM_FPGA_FLASH_H

#include <cstddef>
#include <cstdint>
#include <span>

namespace corvane::sim {

class FpgaFlash {
public:
    static constexpr size_t size_bytes = 4 * 1024 * 1024;

    explicit FpgaFlash(std::span<uint8_t> memory);

    void erase();

    // Programs `data` at `offset`, the part that fits below size_bytes; returns how many
    // bytes fell beyond the end and were dropped. Like any flash, a write can only clear
    // bits: writing over data that was not erased leaves the AND of both.
    size_t write(uint64_t offset, std::span<const uint8_t> data);

    std::span<const uint8_t> contents() const { return memory_; }

private:
    std::span<uint8_t> memory_;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_FPGA_FLASH_H
