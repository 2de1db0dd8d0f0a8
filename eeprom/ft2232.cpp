#include "eeprom/ft2232.h"

#include "eeprom/common_fields.h"

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_2232 = 0x0500;
constexpr int part_code_word = 10;

constexpr Field fields[] = {
    word_bit(0, 0, Rule::flag, offsetof(ProgramData, dual_w0_bit0), offsetof(Settings2232, w0_bit0)),
    word_bit(0, 1, Rule::flag, offsetof(ProgramData, dual_w0_bit1), offsetof(Settings2232, w0_bit1)),
    word_bit(0, 2, Rule::flag, offsetof(ProgramData, dual_w0_bit2), offsetof(Settings2232, w0_bit2)),
    word_bit(0, 3, Rule::flag_one, offsetof(ProgramData, dual_w0_bit3), offsetof(Settings2232, w0_bit3)),
    word_bit(0, 4, Rule::flag, offsetof(ProgramData, dual_w0_bit4), offsetof(Settings2232, w0_bit4)),
    word_bit(0, 8, Rule::flag, offsetof(ProgramData, dual_w0_bit8), offsetof(Settings2232, w0_bit8)),
    word_bit(0, 9, Rule::flag, offsetof(ProgramData, dual_w0_bit9), offsetof(Settings2232, w0_bit9)),
    word_bit(0, 10, Rule::flag, offsetof(ProgramData, dual_w0_bit10), offsetof(Settings2232, w0_bit10)),
    word_bit(0, 11, Rule::flag_one, offsetof(ProgramData, dual_w0_bit11), offsetof(Settings2232, w0_bit11)),
    word_bit(0, 12, Rule::flag, offsetof(ProgramData, dual_w0_bit12), offsetof(Settings2232, w0_bit12)),
    // Word 5 below the settings header's two bits: the record's option flags only.
    word_bit(5, 0, Rule::flag, offsetof(ProgramData, dual_option_bit0), no_field),
    word_bit(5, 1, Rule::flag, offsetof(ProgramData, dual_option_bit1), no_field),
    word_bit(5, 2, Rule::flag, offsetof(ProgramData, dual_option_bit2), no_field),
    word_bit(5, 3, Rule::flag, offsetof(ProgramData, dual_option_bit3), no_field),
    word_bit(5, 4, Rule::flag, offsetof(ProgramData, dual_option_bit4), no_field),
    word_bit(5, 5, Rule::flag, offsetof(ProgramData, dual_option_bit5), no_field),
    word_bit(5, 6, Rule::flag, offsetof(ProgramData, dual_option_bit6), no_field),
    byte_bits(12, 0, 16, Rule::code, offsetof(ProgramData, dual_usb_version), no_field),
};

} // namespace

constinit const ChipLayout ft2232_layout = {
    .fields = fields,
    .word_count = 128,
    .first_string = ft2232_first_string,
    .release = release_2232,
    .product_id = ft2232_product_id,
    .usb_version = usb_release_2_0,
    .record = later_block(offsetof(ProgramData, dual_release_0500), offsetof(ProgramData, dual_w0_bit11) + 1,
                          offsetof(ChipOptions2232, dual_release_0500)),
    .part_code_word = part_code_word,
};

int TFtEE2232::UserAreaStart()
{
    return large_part() ? ft2232_first_string / 2 : BaseUserAreaStart();
}

void TFtEE2232::DecodeChipWords(ProgramData &record) const
{
    record.dual_release_0500 = 1;
}

} // namespace corvane::eeprom
