// What the FT2232, FT2232H and FT4232H layouts share: an external serial EEPROM of 64,
// 128 or 256 words whose size a probe finds, and on the larger parts a user area in two
// pieces, one below the moved strings and one behind them.
#ifndef CORVANE_EEPROM_EXTERNAL_EEPROM_H
#define CORVANE_EEPROM_EXTERNAL_EEPROM_H

#include "eeprom/field_table.h"

namespace corvane::eeprom {

constexpr uint16_t part_64_words = 0x46;
constexpr uint16_t part_128_words = 0x56;
constexpr uint16_t part_256_words = 0x66;

// The part code an image stores: the probe's finding, or the 64-word code when it found none.
inline uint16_t part_code_for(uint16_t eeprom_type)
{
    return eeprom_type != 0 ? eeprom_type : part_64_words;
}

class ExternalEepromLayout : public TFtE2Data {
public:
    using TFtE2Data::TFtE2Data;

    // The part code from its word, and the string area placed for the part's size.
    bool ReadImage() override;
    // Erases the part, writes a marker word at address 0xC0 and looks where it shows up:
    // a part that wraps at 64 words shows it at 0, one that wraps at 128 at 0x40.
    bool ProbeEepromType() override;
    int UserAreaSize() override;
    bool WriteUserArea(const uint8_t *bytes, uint32_t count) override;
    void ReadUserArea(uint8_t *buffer, uint32_t count, uint32_t &got) override;
    // On a large part the strings move up by 0x80, where the pointer bytes (offset | 0x80)
    // already point; the lower half then holds user data.
    void FitImageToEeprom() override;

    // 128 or 256 words: the strings live in the upper half, the checksum in word 127.
    bool large_part() const;

    // The user area's lower piece on a large part, in bytes.
    static constexpr uint32_t lower_piece_bytes = 128;

protected:
    // The part code: the probe's finding, or the 64-word code when it found none.
    void StoreChipWords(const ProgramData *record) override;
    // Word index of the user area's upper piece on a large part, 0 when there is none.
    int UpperPieceStart();
};

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_EXTERNAL_EEPROM_H
