#include "eeprom/high_speed_dual_quad.h"

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_2232h = 0x0700;
constexpr uint16_t release_4232h = 0x0800;

// The shared rows count on each chip's pin groups lying three bytes apart and on its two
// option bits lying side by side.
static_assert(offsetof(ProgramData, ft2232h_group3_drive) - offsetof(ProgramData, ft2232h_group0_slow_slew) == 11 &&
              offsetof(ProgramData, ft4232h_group3_drive) - offsetof(ProgramData, ft4232h_group0_slow_slew) == 11 &&
              offsetof(Settings2232H, group3_drive) - offsetof(Settings2232H, group0_slow_slew) == 11 &&
              offsetof(Settings4232H, group3_drive) - offsetof(Settings4232H, group0_slow_slew) == 11);
static_assert(offsetof(ProgramData, ft2232h_option_bit3) == offsetof(ProgramData, ft2232h_option_bit2) + 1 &&
              offsetof(ProgramData, ft4232h_option_bit3) == offsetof(ProgramData, ft4232h_option_bit2) + 1);

// FT2232H word 0: flags in bits 0-2, 8-10 and 15, the driver type of channel A in bit 3
// and of channel B in bit 11.
constexpr auto fields_2232h = joined(
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

// The FT4232H's driver types of channels A, B, C and D sit in word 0 bits 3, 11, 7 and
// 15: the channels of each half of the chip share a byte. Word 5 bits 12 to 15 carry the
// flags of bits 4 to 7 of its high byte.
constexpr auto fields_4232h = joined(
    high_speed_fields(offsetof(ProgramData, ft4232h_option_bit2), offsetof(ProgramData, ft4232h_group0_slow_slew),
                      offsetof(Settings4232H, group0_slow_slew)),
    std::array{
        word_bit(0, 3, Rule::flag_one, offsetof(ProgramData, ft4232h_driver_type_a),
                 offsetof(Settings4232H, driver_type_a)),
        word_bit(0, 11, Rule::flag_one, offsetof(ProgramData, ft4232h_driver_type_b),
                 offsetof(Settings4232H, driver_type_b)),
        word_bit(0, 7, Rule::flag_one, offsetof(ProgramData, ft4232h_driver_type_c),
                 offsetof(Settings4232H, driver_type_c)),
        word_bit(0, 15, Rule::flag_one, offsetof(ProgramData, ft4232h_driver_type_d),
                 offsetof(Settings4232H, driver_type_d)),
        word_bit(5, 12, Rule::flag, offsetof(ProgramData, ft4232h_byte11_bit4), offsetof(Settings4232H, byte11_bit4)),
        word_bit(5, 13, Rule::flag, offsetof(ProgramData, ft4232h_byte11_bit5), offsetof(Settings4232H, byte11_bit5)),
        word_bit(5, 14, Rule::flag, offsetof(ProgramData, ft4232h_byte11_bit6), offsetof(Settings4232H, byte11_bit6)),
        word_bit(5, 15, Rule::flag, offsetof(ProgramData, ft4232h_byte11_bit7), offsetof(Settings4232H, byte11_bit7)),
    });

template <typename Options>
constexpr ChipLayout high_speed_layout(std::span<const Field> fields, uint16_t release, size_t record_first)
{
    return {.fields = fields,
            .word_count = 128,
            .first_string = high_speed_first_string,
            .release = release,
            .record = later_block<Options>(record_first),
            .part_code_word = high_speed_part_code_word};
}

} // namespace

constinit const ChipLayout ft2232h_layout =
    high_speed_layout<ChipOptions2232H>(fields_2232h, release_2232h, offsetof(ProgramData, ft2232h_option_bit2));
constinit const ChipLayout ft4232h_layout =
    high_speed_layout<ChipOptions4232H>(fields_4232h, release_4232h, offsetof(ProgramData, ft4232h_option_bit2));

// A damaged tail walk may end in the header or, with length bytes of 0xFF, walk back
// onto the serial descriptor it started from; user data never goes below the strings,
// where the part code and the chip's words lie, nor where it would move the user area
// on the next read.
int HighSpeedLayout::UserAreaStart()
{
    if (large_part())
        return high_speed_first_string / 2;
    const int start = BaseUserAreaStart();
    return start >= high_speed_first_string / 2 && 2 * start > serial_offset ? start : 0;
}

int HighSpeedLayout::UserAreaSize()
{
    if (!large_part() && UserAreaStart() == 0)
        return 0;
    return ExternalEepromLayout::UserAreaSize();
}

} // namespace corvane::eeprom
