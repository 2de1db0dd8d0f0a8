// The ProgramData record in its two forms: how to tell them apart, how much of the
// unsigned form each chip class may touch, and the offsets that 32-bit callers rely on.
#ifndef CORVANE_EEPROM_PROGRAM_RECORD_H
#define CORVANE_EEPROM_PROGRAM_RECORD_H

#include "eeprom/chip_options.h"
#include "ftdev.h"

#include <cstddef>
#include <cstring>

namespace corvane::eeprom {

// A record is signed when it begins with the two signatures; anything else is the
// unsigned form, which is at least as long as the two words read here.
inline bool is_signed(const ProgramData *data)
{
    uint32_t words[2];
    std::memcpy(words, data, sizeof words);
    return words[0] == FTDEV_PROGRAM_SIGNATURE_1 && words[1] == FTDEV_PROGRAM_SIGNATURE_2;
}

// Bytes of the unsigned form from vendor_id to the end of a chip block: what an unsigned
// caller of that class must provide, and all that is copied to or from it.
constexpr size_t record_span_232b =
    offsetof(ProgramDataUnsigned, usb_version) + sizeof(ProgramDataUnsigned::usb_version);
constexpr size_t record_span_2232 = offsetof(ProgramDataUnsigned, dual_w0_bit11) + 1;
constexpr size_t record_span_2232h = offsetof(ProgramDataUnsigned, ft2232h_w0_bit15) + 1;
constexpr size_t record_span_4232h = offsetof(ProgramDataUnsigned, ft4232h_driver_type_d) + 1;
constexpr size_t record_span_232h = offsetof(ProgramDataUnsigned, ft232h_w0_bit15) + 1;

// The settings structures hold no pointers: their sizes are the same on every build.
static_assert(sizeof(SettingsHeader) == 16);
static_assert(sizeof(Settings232B) == 16);
static_assert(sizeof(Settings2232) == 28);
static_assert(sizeof(Settings232R) == 32);
static_assert(sizeof(Settings2232H) == 40);
static_assert(sizeof(Settings4232H) == 36);
static_assert(sizeof(Settings232H) == 44);
static_assert(sizeof(SettingsX) == 56);
static_assert(offsetof(SettingsX, aux_value16) == 40 && offsetof(SettingsX, aux_value24) == 44);

// The blocks handed to EncodeImage mirror the record's blocks byte for byte.
static_assert(offsetof(ChipOptions232, usb_version) - offsetof(ChipOptions232, release_0400) ==
              offsetof(ProgramDataUnsigned, usb_version) - offsetof(ProgramDataUnsigned, release_0400));
static_assert(offsetof(ChipOptions2232, dual_usb_version) - offsetof(ChipOptions2232, dual_release_0500) ==
              offsetof(ProgramDataUnsigned, dual_usb_version) - offsetof(ProgramDataUnsigned, dual_release_0500));
static_assert(offsetof(ChipOptions2232, dual_w0_bit11) - offsetof(ChipOptions2232, dual_release_0500) ==
              offsetof(ProgramDataUnsigned, dual_w0_bit11) - offsetof(ProgramDataUnsigned, dual_release_0500));
static_assert(offsetof(ChipOptions232R, r_w0_bit3) - offsetof(ChipOptions232R, r_w0_bit1) ==
              offsetof(ProgramDataUnsigned, r_w0_bit3) - offsetof(ProgramDataUnsigned, r_w0_bit1));

#if defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 4
// On 32-bit builds the record is the 160-byte layout callers have always filled in.
static_assert(offsetof(ProgramData, fields) == 12);
static_assert(offsetof(ProgramData, fields.manufacturer) == 16);
static_assert(offsetof(ProgramData, fields.serial_number) == 28);
static_assert(offsetof(ProgramData, fields.max_power) == 32);
static_assert(offsetof(ProgramData, fields.release_0400) == 40);
static_assert(offsetof(ProgramData, fields.usb_version) == 46);
static_assert(offsetof(ProgramData, fields.dual_release_0500) == 48);
static_assert(offsetof(ProgramData, fields.dual_usb_version) == 56);
static_assert(offsetof(ProgramData, fields.dual_w0_bit11) == 67);
static_assert(offsetof(ProgramData, fields.r_w0_bit1) == 68);
static_assert(offsetof(ProgramData, fields.r_w0_bit3) == 86);
static_assert(offsetof(ProgramData, fields.ft2232h_option_bit2) == 87);
static_assert(offsetof(ProgramData, fields.ft4232h_option_bit2) == 110);
static_assert(offsetof(ProgramData, fields.ft232h_option_bit2) == 132);
static_assert(offsetof(ProgramData, fields.ft232h_w0_bit15) == 158);
static_assert(sizeof(ProgramData) == 160);
static_assert(record_span_232b == 36 && record_span_2232 == 56 && record_span_2232h == 98 &&
              record_span_4232h == 120 && record_span_232h == 147);
static_assert(sizeof(ChipOptions232) == 20 && sizeof(ChipOptions2232) == 40 && sizeof(ChipOptions232R) == 32);
static_assert(offsetof(ChipOptions2232, dual_release_0500) == 20 && offsetof(ChipOptions232R, byte1) == 14);
static_assert(sizeof(ChipOptions2232H) == 36 && sizeof(ChipOptions4232H) == 36 && sizeof(ChipOptions232H) == 40);
#endif

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_PROGRAM_RECORD_H
