#include "sim/nor_flash.h"

#include <algorithm>
#include <cassert>

namespace corvane::sim {
namespace {

constexpr uint32_t unlock_address_1 = 0x5555;
constexpr uint32_t unlock_address_2 = 0x2AAA;
constexpr uint16_t unlock_data_1 = 0xAA;
constexpr uint16_t unlock_data_2 = 0x55;
constexpr uint16_t command_program = 0xA0;
constexpr uint16_t command_erase_setup = 0x80;
constexpr uint16_t command_chip_erase = 0x10;
constexpr uint16_t command_reset = 0xF0;

} // namespace

NorFlash::NorFlash(std::span<uint8_t> memory) : memory_(memory)
{
    assert(memory_.size() == size_bytes);
}

uint16_t NorFlash::read_word(uint32_t word_address) const
{
    size_t at = size_t{word_address} * 2;
    return static_cast<uint16_t>(memory_[at] << 8 | memory_[at + 1]);
}

void NorFlash::write_word(uint32_t word_address, uint16_t value)
{
    size_t at = size_t{word_address} * 2;
    memory_[at] = static_cast<uint8_t>(value >> 8);
    memory_[at + 1] = static_cast<uint8_t>(value);
}

void NorFlash::write_cycle(uint32_t word_address, uint16_t data)
{
    if (word_address >= size_words)
        return;
    // The reset command is honoured in the middle of any sequence, as on real parts.
    // During a program cycle 0xF0 is data, so the check comes after that state.
    if (state_ == State::program) {
        // Programming can only clear bits; setting one back needs an erase.
        write_word(word_address, read_word(word_address) & data);
        state_ = State::read_array;
        return;
    }
    if (data == command_reset) {
        state_ = State::read_array;
        return;
    }

    // Any cycle that does not continue the sequence abandons it and leaves the array as it was.
    State next = State::read_array;
    switch (state_) {
    case State::read_array:
        if (word_address == unlock_address_1 && data == unlock_data_1)
            next = State::unlocked_1;
        break;
    case State::unlocked_1:
        if (word_address == unlock_address_2 && data == unlock_data_2)
            next = State::unlocked_2;
        break;
    case State::unlocked_2:
        if (word_address == unlock_address_1 && data == command_program)
            next = State::program;
        else if (word_address == unlock_address_1 && data == command_erase_setup)
            next = State::erase_setup;
        break;
    case State::erase_setup:
        if (word_address == unlock_address_1 && data == unlock_data_1)
            next = State::erase_unlocked_1;
        break;
    case State::erase_unlocked_1:
        if (word_address == unlock_address_2 && data == unlock_data_2)
            next = State::erase_unlocked_2;
        break;
    case State::erase_unlocked_2:
        // Erasing takes no time here; the host waits on its own for a real part.
        if (word_address == unlock_address_1 && data == command_chip_erase)
            std::fill(memory_.begin(), memory_.end(), uint8_t{0xFF});
        break;
    case State::program: break;
    }
    state_ = next;
}

} // namespace corvane::sim
