// What FT_EE_Program hands to a layout's EncodeImage: the manufacturer and description
// texts, an empty serial, and the layout's own block of the ProgramData record copied
// unchanged. Every block begins with ChipOptions, so a layout takes its own block back
// from the common part it is given (record_of_options, field_table.h).
#ifndef CORVANE_EEPROM_CHIP_OPTIONS_H
#define CORVANE_EEPROM_CHIP_OPTIONS_H

#include "ftdev.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace corvane::eeprom {

struct ChipOptions {
    const char *manufacturer;
    const char *description;
    const char *serial;
};

struct ChipOptions232 {
    ChipOptions texts;
    uint8_t release_0400;
    uint8_t option_bit0;
    uint8_t option_bit1;
    uint8_t option_bit2;
    uint8_t option_bit3;
    uint8_t option_bit4;
    uint16_t usb_version;
};

struct ChipOptions2232 {
    ChipOptions texts;
    uint8_t reserved[8];
    uint8_t dual_release_0500;
    uint8_t dual_option_bit0;
    uint8_t dual_option_bit5;
    uint8_t dual_option_bit1;
    uint8_t dual_option_bit6;
    uint8_t dual_option_bit2;
    uint8_t dual_option_bit3;
    uint8_t dual_option_bit4;
    uint16_t dual_usb_version;
    uint8_t dual_w0_bit4;
    uint8_t dual_w0_bit12;
    uint8_t dual_w0_bit0;
    uint8_t dual_w0_bit1;
    uint8_t dual_w0_bit2;
    uint8_t dual_w0_bit3;
    uint8_t dual_w0_bit8;
    uint8_t dual_w0_bit9;
    uint8_t dual_w0_bit10;
    uint8_t dual_w0_bit11;
};

struct ChipOptions232R {
    ChipOptions texts;
    uint8_t r_w0_bit1;
    uint8_t r_w0_bit2;
    uint8_t byte1; // where the record keeps r_byte1: always 0x40 here
    uint8_t r_option_bit2;
    uint8_t r_option_bit3;
    uint8_t r_byte11_bit0;
    uint8_t r_byte11_bit1;
    uint8_t r_byte11_bit2;
    uint8_t r_byte11_bit3;
    uint8_t r_byte11_bit4;
    uint8_t r_byte11_bit5;
    uint8_t r_byte11_bit6;
    uint8_t r_byte11_bit7;
    uint8_t r_select0;
    uint8_t r_select1;
    uint8_t r_select2;
    uint8_t r_select3;
    uint8_t r_select4;
    uint8_t r_w0_bit3;
};

// The H-series blocks, field for field the record's (ProgramData, ftdev.h).
struct ChipOptions2232H {
    ChipOptions texts;
    uint8_t block[offsetof(ProgramData, ft2232h_w0_bit15) + 1 - offsetof(ProgramData, ft2232h_option_bit2)];
};
struct ChipOptions4232H {
    ChipOptions texts;
    uint8_t block[offsetof(ProgramData, ft4232h_driver_type_d) + 1 - offsetof(ProgramData, ft4232h_option_bit2)];
};
struct ChipOptions232H {
    ChipOptions texts;
    uint8_t block[offsetof(ProgramData, ft232h_w0_bit15) + 1 - offsetof(ProgramData, ft232h_option_bit2)];
};

// Copies the record's bytes from field `first` through field `last` into the block
// from its member at `block_first`: the block mirrors the record there byte for byte.
template <typename Block>
void copy_record_block(Block &block, size_t block_first, const ProgramData &record, size_t first, size_t end)
{
    std::memcpy(reinterpret_cast<unsigned char *>(&block) + block_first,
                reinterpret_cast<const unsigned char *>(&record) + first, end - first);
}

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_CHIP_OPTIONS_H
