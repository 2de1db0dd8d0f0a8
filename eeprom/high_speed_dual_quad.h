// The FT2232H and FT4232H images on their external EEPROM of 64, 128 or 256 words, and
// what they share: the part code in word 12, four pin groups in word 6, the strings from
// byte 0x1A, moved up by 0x80 on a 128- or 256-word part.
#ifndef CORVANE_EEPROM_HIGH_SPEED_DUAL_QUAD_H
#define CORVANE_EEPROM_HIGH_SPEED_DUAL_QUAD_H

#include "eeprom/external_eeprom.h"

#include <array>
#include <cstddef>

namespace corvane::eeprom {

constexpr int high_speed_first_string = 0x1A;
constexpr int high_speed_part_code_word = 12;

// The rows both chips share: option bits 2 and 3 of word 5 (a settings structure has them
// in its header) and the four pin groups of word 6, each three bytes in both structures.
constexpr std::array<Field, 6> high_speed_fields(size_t record_option_bit2, size_t record_group0,
                                                 size_t settings_group0)
{
    return {
        byte_bits(10, 2, 1, Rule::flag, record_option_bit2, no_field),
        byte_bits(10, 3, 1, Rule::flag, record_option_bit2 + 1, no_field),
        pin_group_at(6, 0, record_group0, settings_group0),
        pin_group_at(6, 1, record_group0 + 3, settings_group0 + 3),
        pin_group_at(6, 2, record_group0 + 6, settings_group0 + 6),
        pin_group_at(6, 3, record_group0 + 9, settings_group0 + 9),
    };
}

class HighSpeedLayout : public ExternalEepromLayout {
public:
    using ExternalEepromLayout::ExternalEepromLayout;

    int UserAreaStart() override;
    int UserAreaSize() override;
};

extern const ChipLayout ft2232h_layout;
extern const ChipLayout ft4232h_layout;

// The FT2232H; the FT4232H, whose image has four driver-type bits in word 0 and four
// more option flags in word 5.
class TFtEE2232H : public HighSpeedLayout {
public:
    TFtEE2232H() : HighSpeedLayout(ft2232h_layout) {}
    explicit TFtEE2232H(const device::HandleRecord &record) : HighSpeedLayout(record, ft2232h_layout) {}
};
class TFtEE4232H : public HighSpeedLayout {
public:
    TFtEE4232H() : HighSpeedLayout(ft4232h_layout) {}
    explicit TFtEE4232H(const device::HandleRecord &record) : HighSpeedLayout(record, ft4232h_layout) {}
};

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_HIGH_SPEED_DUAL_QUAD_H
