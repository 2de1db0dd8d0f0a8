// The fields every layout reads and writes the same way: the ids, power, attributes and
// texts of a ProgramData record, and the SettingsHeader of a settings structure.
#ifndef CORVANE_EEPROM_COMMON_FIELDS_H
#define CORVANE_EEPROM_COMMON_FIELDS_H

#include "eeprom/image.h"
#include "ftdev.h"

#include <cstdint>

namespace corvane::eeprom {

constexpr uint8_t attribute_base = 0x80;
constexpr uint8_t attribute_self_powered = 0x40;
constexpr uint8_t attribute_remote_wakeup = 0x20;
constexpr int max_power_limit = 500;

// What the 64-word layouts' EncodeImage writes before FT_EE_Program sets the caller's values.
constexpr uint16_t ftdi_vendor_id = 0x0403;
constexpr uint8_t default_attributes = 0xA0;
constexpr uint8_t default_power = 0x2D; // 90 mA
// The USB release the settings path writes into word 6 of those layouts.
constexpr uint16_t usb_release_2_0 = 0x0200;

// Byte 10 of every layout carries these two options of the settings header.
constexpr int option_byte = 10;
constexpr uint8_t option_bit2_mask = 0x04;
constexpr uint8_t option_bit3_mask = 0x08;

inline uint8_t flag(bool set)
{
    return set ? 1 : 0;
}

uint8_t attributes_for(bool self_powered, bool remote_wakeup);

// 14 when the vendor-id word reads 0 (no EEPROM), 15 when it reads 0xFFFF (not
// programmed), else 0.
FtdevStatus check_vendor_word(const TFtE2Data &image);

// vendor_id, product_id, the four texts through the record's non-null pointers,
// max_power, tail_flag, self_powered, remote_wakeup.
void decode_common_fields(const TFtE2Data &image, ProgramData &record);

// The checks every ProgramSettings makes before the device is touched: texts present,
// ids non-zero (6); the three descriptors, placed from `first_offset`, end by
// `strings_end` (18). `serial` is
// the serial text that will be written.
FtdevStatus check_program_settings(const SettingsHeader &settings, const Texts &texts, const char *serial,
                                   int first_offset, int strings_end);

// Vendor and product id, option bits 3 and 2 of byte 10, maximum power, attributes.
void apply_settings_header(TFtE2Data &image, const SettingsHeader &settings);

// All four buffers present (else 6).
FtdevStatus check_buffers(const TextBuffers &buffers);

// The header fields and the four texts of an image read from the device.
void read_settings_header(const TFtE2Data &image, SettingsHeader &settings, const TextBuffers &buffers);

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_COMMON_FIELDS_H
