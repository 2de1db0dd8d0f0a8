#include "eeprom/high_speed_dual_quad.h"

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_4232h = 0x0800;

static_assert(offsetof(ProgramData, ft4232h_group3_drive) - offsetof(ProgramData, ft4232h_group0_slow_slew) == 11);
static_assert(offsetof(Settings4232H, group3_drive) - offsetof(Settings4232H, group0_slow_slew) == 11);
static_assert(offsetof(ProgramData, ft4232h_option_bit3) == offsetof(ProgramData, ft4232h_option_bit2) + 1);

// Word 5 bits 12 to 15 carry the flags of bits 4 to 7 of its high byte. The driver types
// of channels A, B, C and D sit in word 0 bits 3, 11, 7 and 15: the channels of each half
// of the chip share a byte.
constexpr auto fields = joined(
    high_speed_fields(offsetof(ProgramData, ft4232h_option_bit2), offsetof(ProgramData, ft4232h_group0_slow_slew),
                      offsetof(Settings4232H, group0_slow_slew)),
    std::array{
        word_bit(5, 12, Rule::flag, offsetof(ProgramData, ft4232h_byte11_bit4), offsetof(Settings4232H, byte11_bit4)),
        word_bit(5, 13, Rule::flag, offsetof(ProgramData, ft4232h_byte11_bit5), offsetof(Settings4232H, byte11_bit5)),
        word_bit(5, 14, Rule::flag, offsetof(ProgramData, ft4232h_byte11_bit6), offsetof(Settings4232H, byte11_bit6)),
        word_bit(5, 15, Rule::flag, offsetof(ProgramData, ft4232h_byte11_bit7), offsetof(Settings4232H, byte11_bit7)),
        word_bit(0, 3, Rule::flag_one, offsetof(ProgramData, ft4232h_driver_type_a),
                 offsetof(Settings4232H, driver_type_a)),
        word_bit(0, 11, Rule::flag_one, offsetof(ProgramData, ft4232h_driver_type_b),
                 offsetof(Settings4232H, driver_type_b)),
        word_bit(0, 7, Rule::flag_one, offsetof(ProgramData, ft4232h_driver_type_c),
                 offsetof(Settings4232H, driver_type_c)),
        word_bit(0, 15, Rule::flag_one, offsetof(ProgramData, ft4232h_driver_type_d),
                 offsetof(Settings4232H, driver_type_d)),
    });

} // namespace

constinit const ChipLayout ft4232h_layout = {
    .fields = fields,
    .word_count = 128,
    .first_string = high_speed_first_string,
    .release = release_4232h,
    .record_block = {offsetof(ProgramData, ft4232h_option_bit2), offsetof(ProgramData, ft4232h_driver_type_d) + 1},
    .options_first = offsetof(ChipOptions4232H, block),
    .cleared = {{offsetof(ProgramData, release_0400), offsetof(ProgramData, ft4232h_option_bit2)}},
    .part_code_word = high_speed_part_code_word,
};

} // namespace corvane::eeprom
