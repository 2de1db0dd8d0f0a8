#include "eeprom/high_speed_dual_quad.h"

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_2232h = 0x0700;

static_assert(offsetof(ProgramData, ft2232h_group3_drive) - offsetof(ProgramData, ft2232h_group0_slow_slew) == 11);
static_assert(offsetof(Settings2232H, group3_drive) - offsetof(Settings2232H, group0_slow_slew) == 11);
static_assert(offsetof(ProgramData, ft2232h_option_bit3) == offsetof(ProgramData, ft2232h_option_bit2) + 1);

// Word 0: flags in bits 0-2, 8-10 and 15, the driver type of channel A in bit 3 and of
// channel B in bit 11.
constexpr auto fields = joined(
    high_speed_fields(offsetof(ProgramData, ft2232h_option_bit2), offsetof(ProgramData, ft2232h_group0_slow_slew),
                      offsetof(Settings2232H, group0_slow_slew)),
    std::array{
        word_bit(0, 0, Rule::flag, offsetof(ProgramData, ft2232h_w0_bit0), offsetof(Settings2232H, w0_bit0)),
        word_bit(0, 1, Rule::flag, offsetof(ProgramData, ft2232h_w0_bit1), offsetof(Settings2232H, w0_bit1)),
        word_bit(0, 2, Rule::flag, offsetof(ProgramData, ft2232h_w0_bit2), offsetof(Settings2232H, w0_bit2)),
        word_bit(0, 3, Rule::flag_one, offsetof(ProgramData, ft2232h_driver_type_a),
                 offsetof(Settings2232H, driver_type_a)),
        word_bit(0, 8, Rule::flag, offsetof(ProgramData, ft2232h_w0_bit8), offsetof(Settings2232H, w0_bit8)),
        word_bit(0, 9, Rule::flag, offsetof(ProgramData, ft2232h_w0_bit9), offsetof(Settings2232H, w0_bit9)),
        word_bit(0, 10, Rule::flag, offsetof(ProgramData, ft2232h_w0_bit10), offsetof(Settings2232H, w0_bit10)),
        word_bit(0, 11, Rule::flag_one, offsetof(ProgramData, ft2232h_driver_type_b),
                 offsetof(Settings2232H, driver_type_b)),
        word_bit(0, 15, Rule::flag, offsetof(ProgramData, ft2232h_w0_bit15), offsetof(Settings2232H, w0_bit15)),
    });

} // namespace

constinit const ChipLayout ft2232h_layout = {
    .fields = fields,
    .word_count = 128,
    .first_string = high_speed_first_string,
    .release = release_2232h,
    .record_block = {offsetof(ProgramData, ft2232h_option_bit2), offsetof(ProgramData, ft2232h_w0_bit15) + 1},
    .options_first = offsetof(ChipOptions2232H, block),
    .cleared = {{offsetof(ProgramData, release_0400), offsetof(ProgramData, ft2232h_option_bit2)}},
    .part_code_word = high_speed_part_code_word,
};

} // namespace corvane::eeprom
