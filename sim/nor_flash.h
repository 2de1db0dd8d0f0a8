// The cartridge's bootloader flash: a 16-bit parallel NOR flash driven by bus write cycles,
// with the common unlock sequence (0xAA to word 0x5555, 0x55 to word 0x2AAA) before every
// command, a six-cycle chip erase and a four-cycle word program.
#ifndef CORVANE_SIM_NOR_FLASH_H
#define CORVANE_SIM_NOR_FLASH_H

#include <cstddef>
#include <cstdint>
#include <span>

namespace corvane::sim {

class NorFlash {
public:
    static constexpr size_t size_bytes = 512 * 1024;
    static constexpr uint32_t size_words = size_bytes / 2;

    enum class State {
        read_array,  // idle: reads give the array, writes wait for an unlock
        unlocked_1,  // 0xAA seen at 0x5555
        unlocked_2,  // 0x55 seen at 0x2AAA: the next cycle is the command
        program,     // 0xA0 given: the next cycle programs one word
        erase_setup, // 0x80 given: a second unlock must follow
        erase_unlocked_1,
        erase_unlocked_2,
    };

    // `memory` holds size_bytes bytes, each word stored high byte first, so the memory reads
    // exactly like the image file it was programmed from.
    explicit NorFlash(std::span<uint8_t> memory);

    // One write cycle of the flash bus at a word address below size_words.
    void write_cycle(uint32_t word_address, uint16_t data);

    uint16_t read_word(uint32_t word_address) const;
    State state() const { return state_; }

    // Back to reading the array, as after power-up or a reset command.
    void reset() { state_ = State::read_array; }

private:
    void write_word(uint32_t word_address, uint16_t value);

    std::span<uint8_t> memory_;
    State state_ = State::read_array;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_NOR_FLASH_H
