// The configuration EEPROM of a virtual chip as the chip's word requests see it.
//
// External parts (64, 128 or 256 words) ignore the address bits above their size, so
// addresses wrap around; with no part at all, reads give 0xFFFF (the data line is pulled
// high) and writes vanish. The FT232R's 64 internal words are followed by factory words
// that neither erase nor writes change. The FT-X's 1024 internal words hold an area that
// belongs to the chip (words 0x40 to 0x4F, covered by the image checksum but kept by the
// image writers); writes there fail.
#ifndef CORVANE_SIM_EEPROM_PART_H
#define CORVANE_SIM_EEPROM_PART_H

#include "sim/chip_kind.h"
#include "sim/eeprom_file.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace corvane::sim {

class EepromPart {
public:
    static constexpr uint16_t factory_first = 0x40; // FT232R
    static constexpr unsigned factory_count = 0x40;
    static constexpr uint16_t protected_first = 0x40; // FT-X
    static constexpr uint16_t protected_last = 0x4F;

    // `words` is 0 for no part. The words live in `file` (not touched for no part); a
    // missing file starts with `initial`.
    static std::unique_ptr<EepromPart> open(EepromKind kind, unsigned words, const std::filesystem::path &file,
                                            const std::vector<uint16_t> &initial, std::string &error);

    EepromKind kind() const { return kind_; }
    unsigned words() const { return file_ ? static_cast<unsigned>(file_->words()) : 0; }

    uint16_t read(uint16_t address) const;
    bool write(uint16_t address, uint16_t value); // false: the word cannot be written
    void erase();

    // The words as they stand, and a raw overwrite for tests (no protection applies).
    std::vector<uint16_t> contents() const;
    bool set_contents(const std::vector<uint16_t> &words);
    bool set_factory_word(uint16_t address, uint16_t value);

private:
    EepromPart(EepromKind kind, std::unique_ptr<EepromFile> file);
    bool is_protected(unsigned index) const;

    EepromKind kind_;
    std::unique_ptr<EepromFile> file_;
    std::array<uint16_t, factory_count> factory_;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_EEPROM_PART_H
