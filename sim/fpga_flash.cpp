#include "sim/fpga_flash.h"

#include <algorithm>
#include <cassert>

namespace corvane::sim {

FpgaFlash::FpgaFlash(std::span<uint8_t> memory) : memory_(memory)
{
    assert(memory_.size() == size_bytes);
}

void FpgaFlash::erase()
{
    std::fill(memory_.begin(), memory_.end(), uint8_t{0xFF});
}

size_t FpgaFlash::write(uint64_t offset, std::span<const uint8_t> data)
{
    size_t inside = offset >= size_bytes ? 0 : std::min<uint64_t>(data.size(), size_bytes - offset);
    uint8_t *target = memory_.data() + (inside ? offset : 0);
    for (size_t i = 0; i < inside; ++i)
        target[i] &= data[i];
    return data.size() - inside;
}

} // namespace corvane::sim
