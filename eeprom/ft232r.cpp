#include "eeprom/ft232r.h"

#include "eeprom/common_fields.h"
#include "eeprom/latency_boost.h"

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_r = 0x0600;
constexpr uint32_t factory_word_address = 0x42;

constexpr Field fields[] = {
    byte_bits(0, 1, 1, Rule::flag, offsetof(ProgramData, r_w0_bit1), offsetof(Settings232R, w0_bit1)),
    byte_bits(0, 2, 1, Rule::flag, offsetof(ProgramData, r_w0_bit2), offsetof(Settings232R, w0_bit2)),
    byte_bits(0, 3, 1, Rule::flag_inverted, offsetof(ProgramData, r_w0_bit3), offsetof(Settings232R, w0_bit3_clear)),
    // FT_EE_Program hands over 0x40 here; the settings path writes it as a chip word.
    byte_bits(1, 0, 8, Rule::code, offsetof(ProgramData, r_byte1), no_field),
    byte_bits(10, 2, 1, Rule::flag, offsetof(ProgramData, r_option_bit2), no_field),
    byte_bits(10, 3, 1, Rule::flag, offsetof(ProgramData, r_option_bit3), no_field),
    byte_bits(11, 0, 1, Rule::flag, offsetof(ProgramData, r_byte11_bit0), offsetof(Settings232R, byte11_bit0)),
    byte_bits(11, 1, 1, Rule::flag, offsetof(ProgramData, r_byte11_bit1), offsetof(Settings232R, byte11_bit1)),
    byte_bits(11, 2, 1, Rule::flag, offsetof(ProgramData, r_byte11_bit2), offsetof(Settings232R, byte11_bit2)),
    byte_bits(11, 3, 1, Rule::flag, offsetof(ProgramData, r_byte11_bit3), offsetof(Settings232R, byte11_bit3)),
    byte_bits(11, 4, 1, Rule::flag, offsetof(ProgramData, r_byte11_bit4), offsetof(Settings232R, byte11_bit4)),
    byte_bits(11, 5, 1, Rule::flag, offsetof(ProgramData, r_byte11_bit5), offsetof(Settings232R, byte11_bit5)),
    byte_bits(11, 6, 1, Rule::flag, offsetof(ProgramData, r_byte11_bit6), offsetof(Settings232R, byte11_bit6)),
    byte_bits(11, 7, 1, Rule::flag, offsetof(ProgramData, r_byte11_bit7), offsetof(Settings232R, byte11_bit7)),
    // Five pin functions in bytes 20 to 22. The record path combines them unchecked, as
    // images made this way always have; the settings path refuses a value above 12.
    byte_bits(20, 0, 4, Rule::unchecked, offsetof(ProgramData, r_select0), offsetof(Settings232R, select0),
              ft232r_select_max),
    byte_bits(20, 4, 4, Rule::unchecked, offsetof(ProgramData, r_select1), offsetof(Settings232R, select1),
              ft232r_select_max),
    byte_bits(21, 0, 4, Rule::unchecked, offsetof(ProgramData, r_select2), offsetof(Settings232R, select2),
              ft232r_select_max),
    byte_bits(21, 4, 4, Rule::unchecked, offsetof(ProgramData, r_select3), offsetof(Settings232R, select3),
              ft232r_select_max),
    byte_bits(22, 0, 8, Rule::unchecked, offsetof(ProgramData, r_select4), offsetof(Settings232R, select4),
              ft232r_select_max),
};

} // namespace

// The FT232B block's reader clears the same bytes.
constinit const ChipLayout ft232r_layout = {
    .fields = fields,
    .first_string = ft232r_first_string,
    .release = release_r,
    .product_id = ft232b_product_id,
    .usb_version = usb_release_2_0,
    .record = {{offsetof(ProgramData, r_w0_bit1), offsetof(ProgramData, r_w0_bit3) + 1},
               offsetof(ChipOptions232R, r_w0_bit1),
               {ft2232_release_cleared, ft2232_fields_cleared}},
};

FtdevStatus TFtEE232R::ReadFactoryWord(uint16_t &value)
{
    return ReadWord(factory_word_address, value) ? FTDEV_OK : FTDEV_EEPROM_READ_FAILED;
}

void TFtEE232R::StoreChipWords(const ProgramData *record)
{
    if (record == nullptr) {
        image[1] = ft232r_programmed_byte1;
        return;
    }
    // Bit 0 of word 0 belongs to the chip: carry over what its factory word says.
    uint16_t factory = 0;
    if (ReadFactoryWord(factory) == FTDEV_OK && (factory & 1u) && factory != 0xFFFF)
        image[0] |= 0x01;
}

FtdevStatus TFtEE232R::WriteSettingsImage()
{
    LatencyBoost boost(handle);
    const FtdevStatus written = WriteSequence();
    const FtdevStatus restored = boost.restore();
    return written != FTDEV_OK ? written : restored;
}

} // namespace corvane::eeprom
