// The ProgramData record in its two forms: how to tell them apart, how much of the
// unsigned form each chip class may touch, how the unsigned form converts, and the
// offsets that callers rely on.
#ifndef CORVANE_EEPROM_PROGRAM_RECORD_H
#define CORVANE_EEPROM_PROGRAM_RECORD_H

#include "eeprom/chip_options.h"
#include "ftdev.h"

#include <cstddef>
#include <cstring>
#include <iterator>

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
// caller of that class must provide, and all that is read from or written to it.
constexpr size_t record_span_232b =
    offsetof(ProgramDataUnsigned, usb_version) + sizeof(ProgramDataUnsigned::usb_version);
constexpr size_t record_span_2232 = offsetof(ProgramDataUnsigned, dual_w0_bit11) + 1;
constexpr size_t record_span_2232h = offsetof(ProgramDataUnsigned, ft2232h_w0_bit15) + 1;
constexpr size_t record_span_4232h = offsetof(ProgramDataUnsigned, ft4232h_driver_type_d) + 1;
constexpr size_t record_span_232h = offsetof(ProgramDataUnsigned, ft232h_w0_bit15) + 1;

// Every field of both forms, in the order callers declare them (kept by hand in rows: the
// formatter would stair-step the list).
// clang-format off
#define CORVANE_PROGRAM_RECORD_FIELDS(FIELD) \
    FIELD(vendor_id) FIELD(product_id) FIELD(manufacturer) FIELD(manufacturer_id) FIELD(description) \
    FIELD(serial_number) FIELD(max_power) FIELD(tail_flag) FIELD(self_powered) FIELD(remote_wakeup) \
    FIELD(release_0400) FIELD(option_bit0) FIELD(option_bit1) FIELD(option_bit2) FIELD(option_bit3) \
    FIELD(option_bit4) FIELD(usb_version) FIELD(dual_release_0500) FIELD(dual_option_bit0) \
    FIELD(dual_option_bit5) FIELD(dual_option_bit1) FIELD(dual_option_bit6) FIELD(dual_option_bit2) \
    FIELD(dual_option_bit3) FIELD(dual_option_bit4) FIELD(dual_usb_version) FIELD(dual_w0_bit4) \
    FIELD(dual_w0_bit12) FIELD(dual_w0_bit0) FIELD(dual_w0_bit1) FIELD(dual_w0_bit2) FIELD(dual_w0_bit3) \
    FIELD(dual_w0_bit8) FIELD(dual_w0_bit9) FIELD(dual_w0_bit10) FIELD(dual_w0_bit11) FIELD(r_w0_bit1) \
    FIELD(r_w0_bit2) FIELD(r_byte1) FIELD(r_option_bit2) FIELD(r_option_bit3) FIELD(r_byte11_bit0) \
    FIELD(r_byte11_bit1) FIELD(r_byte11_bit2) FIELD(r_byte11_bit3) FIELD(r_byte11_bit4) FIELD(r_byte11_bit5) \
    FIELD(r_byte11_bit6) FIELD(r_byte11_bit7) FIELD(r_select0) FIELD(r_select1) FIELD(r_select2) \
    FIELD(r_select3) FIELD(r_select4) FIELD(r_w0_bit3) FIELD(ft2232h_option_bit2) FIELD(ft2232h_option_bit3) \
    FIELD(ft2232h_group0_slow_slew) FIELD(ft2232h_group0_schmitt) FIELD(ft2232h_group0_drive) \
    FIELD(ft2232h_group1_slow_slew) FIELD(ft2232h_group1_schmitt) FIELD(ft2232h_group1_drive) \
    FIELD(ft2232h_group2_slow_slew) FIELD(ft2232h_group2_schmitt) FIELD(ft2232h_group2_drive) \
    FIELD(ft2232h_group3_slow_slew) FIELD(ft2232h_group3_schmitt) FIELD(ft2232h_group3_drive) \
    FIELD(ft2232h_w0_bit0) FIELD(ft2232h_w0_bit1) FIELD(ft2232h_w0_bit2) FIELD(ft2232h_driver_type_a) \
    FIELD(ft2232h_w0_bit8) FIELD(ft2232h_w0_bit9) FIELD(ft2232h_w0_bit10) FIELD(ft2232h_driver_type_b) \
    FIELD(ft2232h_w0_bit15) FIELD(ft4232h_option_bit2) FIELD(ft4232h_option_bit3) \
    FIELD(ft4232h_group0_slow_slew) FIELD(ft4232h_group0_schmitt) FIELD(ft4232h_group0_drive) \
    FIELD(ft4232h_group1_slow_slew) FIELD(ft4232h_group1_schmitt) FIELD(ft4232h_group1_drive) \
    FIELD(ft4232h_group2_slow_slew) FIELD(ft4232h_group2_schmitt) FIELD(ft4232h_group2_drive) \
    FIELD(ft4232h_group3_slow_slew) FIELD(ft4232h_group3_schmitt) FIELD(ft4232h_group3_drive) \
    FIELD(ft4232h_byte11_bit4) FIELD(ft4232h_byte11_bit5) FIELD(ft4232h_byte11_bit6) \
    FIELD(ft4232h_byte11_bit7) FIELD(ft4232h_driver_type_a) FIELD(ft4232h_driver_type_b) \
    FIELD(ft4232h_driver_type_c) FIELD(ft4232h_driver_type_d) FIELD(ft232h_option_bit2) \
    FIELD(ft232h_option_bit3) FIELD(ft232h_group0_slow_slew) FIELD(ft232h_group0_schmitt) \
    FIELD(ft232h_group0_drive) FIELD(ft232h_group1_slow_slew) FIELD(ft232h_group1_schmitt) \
    FIELD(ft232h_group1_drive) FIELD(ft232h_cbus_mux0) FIELD(ft232h_cbus_mux1) FIELD(ft232h_cbus_mux2) \
    FIELD(ft232h_cbus_mux3) FIELD(ft232h_cbus_mux4) FIELD(ft232h_cbus_mux5) FIELD(ft232h_cbus_mux6) \
    FIELD(ft232h_cbus_mux7) FIELD(ft232h_cbus_mux8) FIELD(ft232h_cbus_mux9) FIELD(ft232h_w0_bit0) \
    FIELD(ft232h_w0_bit1) FIELD(ft232h_w0_bit2) FIELD(ft232h_w0_bit3) FIELD(ft232h_w0_bit8) \
    FIELD(ft232h_w0_bit9) FIELD(ft232h_w0_bit10) FIELD(ft232h_driver_type) FIELD(ft232h_w0_bit15)
// clang-format on

// Where a field lies, and where a C compiler would put it after the one before it.
struct FieldPlace {
    size_t offset;
    size_t size;
    size_t align;
};

constexpr size_t aligned_up(size_t offset, size_t align)
{
    return (offset + align - 1) / align * align;
}

// True when each field follows the one before it with natural alignment, from `first`
// on, and the record ends where its widest alignment (`widest` for what lies before
// `first`) rounds the last one up.
template <size_t count>
constexpr bool laid_out_in_order(const FieldPlace (&places)[count], size_t first, size_t widest, size_t record_size)
{
    size_t next = first;
    for (const FieldPlace &place : places) {
        if (place.offset != aligned_up(next, place.align))
            return false;
        next = place.offset + place.size;
        widest = place.align > widest ? place.align : widest;
    }
    return record_size == aligned_up(next, widest);
}

#define CORVANE_SIGNED_PLACE(name)                                                                                     \
    FieldPlace{offsetof(ProgramData, name), sizeof(ProgramData::name), alignof(decltype(ProgramData::name))},
#define CORVANE_UNSIGNED_PLACE(name)                                                                                   \
    FieldPlace{offsetof(ProgramDataUnsigned, name), sizeof(ProgramDataUnsigned::name),                                 \
               alignof(decltype(ProgramDataUnsigned::name))},
constexpr FieldPlace signed_places[] = {CORVANE_PROGRAM_RECORD_FIELDS(CORVANE_SIGNED_PLACE)};
constexpr FieldPlace unsigned_places[] = {CORVANE_PROGRAM_RECORD_FIELDS(CORVANE_UNSIGNED_PLACE)};
#undef CORVANE_SIGNED_PLACE
#undef CORVANE_UNSIGNED_PLACE

// The unsigned form is converted field by field: with 64-bit pointers its fields do not
// lie at a fixed distance from their places in the signed form. Only the fields that
// end within the caller's `span` bytes are read or written.
template <typename Copy>
void for_fields_within(size_t span, Copy copy)
{
    for (size_t i = 0; i < std::size(signed_places); ++i)
        if (unsigned_places[i].offset + unsigned_places[i].size <= span)
            copy(signed_places[i].offset, unsigned_places[i].offset, unsigned_places[i].size);
}

inline void fields_from_unsigned(ProgramData &record, const void *caller, size_t span)
{
    auto *to = reinterpret_cast<unsigned char *>(&record);
    const auto *from = static_cast<const unsigned char *>(caller);
    for_fields_within(span,
                      [&](size_t at, size_t caller_at, size_t size) { std::memcpy(to + at, from + caller_at, size); });
}

inline void fields_to_unsigned(void *caller, size_t span, const ProgramData &record)
{
    auto *to = static_cast<unsigned char *>(caller);
    const auto *from = reinterpret_cast<const unsigned char *>(&record);
    for_fields_within(span,
                      [&](size_t at, size_t caller_at, size_t size) { std::memcpy(to + caller_at, from + at, size); });
}

// The field list names every field of both forms, and both are the table's fields in its
// order with natural alignment on every build, behind 12 bytes of signature or none.
static_assert(sizeof signed_places / sizeof signed_places[0] == 127);
static_assert(offsetof(ProgramData, version) == 8);
static_assert(laid_out_in_order(signed_places, offsetof(ProgramData, version) + 4, alignof(uint32_t),
                                sizeof(ProgramData)));
static_assert(laid_out_in_order(unsigned_places, 0, 1, sizeof(ProgramDataUnsigned)));

// The settings structures hold no pointers: their sizes are the same on every build.
static_assert(sizeof(SettingsHeader) == 16);
static_assert(sizeof(Settings232B) == 16);
static_assert(sizeof(Settings2232) == 28);
static_assert(sizeof(Settings232R) == 32);
static_assert(sizeof(Settings2232H) == 40);
static_assert(sizeof(Settings4232H) == 36);
static_assert(sizeof(Settings232H) == 44);
static_assert(sizeof(SettingsX) == 56);
static_assert(offsetof(Settings2232, w0_bit4) == 16 && offsetof(Settings2232, w0_bit11) == 25);
static_assert(offsetof(Settings232R, w0_bit2) == 16 && offsetof(Settings232R, select0) == 26 &&
              offsetof(Settings232R, w0_bit3_clear) == 31);
static_assert(offsetof(Settings2232H, group0_slow_slew) == 16 && offsetof(Settings2232H, w0_bit0) == 28 &&
              offsetof(Settings2232H, driver_type_b) == 36);
static_assert(offsetof(Settings4232H, group0_slow_slew) == 16 && offsetof(Settings4232H, byte11_bit4) == 28 &&
              offsetof(Settings4232H, driver_type_d) == 35);
static_assert(offsetof(Settings232H, cbus_mux0) == 22 && offsetof(Settings232H, w0_bit8) == 32 &&
              offsetof(Settings232H, driver_type) == 40);
static_assert(offsetof(SettingsX, cbus_mux0) == 22 && offsetof(SettingsX, byte11_bit0) == 29 &&
              offsetof(SettingsX, w0_bit2) == 39);
static_assert(offsetof(SettingsX, aux_value16) == 40 && offsetof(SettingsX, aux_value24) == 44 &&
              offsetof(SettingsX, option_bit7) == 48 && offsetof(SettingsX, driver_type) == 54);
static_assert(offsetof(SettingsHeader, vendor_id) == 4 && offsetof(SettingsHeader, option_bit3) == 8 &&
              offsetof(SettingsHeader, max_power) == 10 && offsetof(SettingsHeader, self_powered) == 12 &&
              offsetof(SettingsHeader, option_bit2) == 14);

// The blocks handed to EncodeImage mirror the record's blocks byte for byte.
static_assert(offsetof(ChipOptions232, usb_version) - offsetof(ChipOptions232, release_0400) ==
              offsetof(ProgramDataUnsigned, usb_version) - offsetof(ProgramDataUnsigned, release_0400));
static_assert(offsetof(ChipOptions2232, dual_usb_version) - offsetof(ChipOptions2232, dual_release_0500) ==
              offsetof(ProgramDataUnsigned, dual_usb_version) - offsetof(ProgramDataUnsigned, dual_release_0500));
static_assert(offsetof(ChipOptions2232, dual_w0_bit11) - offsetof(ChipOptions2232, dual_release_0500) ==
              offsetof(ProgramDataUnsigned, dual_w0_bit11) - offsetof(ProgramDataUnsigned, dual_release_0500));
static_assert(offsetof(ChipOptions232R, r_w0_bit3) - offsetof(ChipOptions232R, r_w0_bit1) ==
              offsetof(ProgramDataUnsigned, r_w0_bit3) - offsetof(ProgramDataUnsigned, r_w0_bit1));

#if defined(__SIZEOF_POINTER__) && (__SIZEOF_POINTER__ == 4 || __SIZEOF_POINTER__ == 8)
// On 32-bit builds the record is the 160-byte layout callers have always filled in, and
// the unsigned form is that record without its first 12 bytes. On 64-bit builds the text
// pointers take 8 bytes each from offset 16, so every field from max_power on lies 16
// bytes past its 32-bit place; the unsigned form puts its pointers at 8, so its fields
// from max_power on lie 20 bytes past theirs.
constexpr size_t pointer_bytes = __SIZEOF_POINTER__;
constexpr size_t signed_growth = 4 * (pointer_bytes - 4);
constexpr size_t unsigned_growth = 5 * (pointer_bytes - 4);
static_assert(offsetof(ProgramData, vendor_id) == 12);
static_assert(offsetof(ProgramData, product_id) == 14);
static_assert(offsetof(ProgramData, manufacturer) == 16);
static_assert(offsetof(ProgramData, manufacturer_id) == 16 + pointer_bytes);
static_assert(offsetof(ProgramData, description) == 16 + 2 * pointer_bytes);
static_assert(offsetof(ProgramData, serial_number) == 16 + 3 * pointer_bytes);
static_assert(offsetof(ProgramData, max_power) == 32 + signed_growth);
static_assert(offsetof(ProgramData, release_0400) == 40 + signed_growth);
static_assert(offsetof(ProgramData, usb_version) == 46 + signed_growth);
static_assert(offsetof(ProgramData, dual_release_0500) == 48 + signed_growth);
static_assert(offsetof(ProgramData, dual_usb_version) == 56 + signed_growth);
static_assert(offsetof(ProgramData, dual_w0_bit11) == 67 + signed_growth);
static_assert(offsetof(ProgramData, r_w0_bit1) == 68 + signed_growth);
static_assert(offsetof(ProgramData, r_w0_bit3) == 86 + signed_growth);
static_assert(offsetof(ProgramData, ft2232h_option_bit2) == 87 + signed_growth);
static_assert(offsetof(ProgramData, ft4232h_option_bit2) == 110 + signed_growth);
static_assert(offsetof(ProgramData, ft232h_option_bit2) == 132 + signed_growth);
static_assert(offsetof(ProgramData, ft232h_w0_bit15) == 158 + signed_growth);
static_assert(sizeof(ProgramData) == 160 + signed_growth);
static_assert(offsetof(ProgramDataUnsigned, vendor_id) == 0 && offsetof(ProgramDataUnsigned, product_id) == 2);
static_assert(offsetof(ProgramDataUnsigned, manufacturer) == pointer_bytes &&
              offsetof(ProgramDataUnsigned, max_power) == 20 + unsigned_growth);
static_assert(offsetof(ProgramDataUnsigned, ft232h_w0_bit15) == 146 + unsigned_growth &&
              sizeof(ProgramDataUnsigned) == 148 + unsigned_growth);
static_assert(record_span_232b == 36 + unsigned_growth && record_span_2232 == 56 + unsigned_growth &&
              record_span_2232h == 98 + unsigned_growth && record_span_4232h == 120 + unsigned_growth &&
              record_span_232h == 147 + unsigned_growth);
#if __SIZEOF_POINTER__ == 4
static_assert(sizeof(ChipOptions232) == 20 && sizeof(ChipOptions2232) == 40 && sizeof(ChipOptions232R) == 32);
static_assert(offsetof(ChipOptions2232, dual_release_0500) == 20 && offsetof(ChipOptions232R, byte1) == 14);
static_assert(sizeof(ChipOptions2232H) == 36 && sizeof(ChipOptions4232H) == 36 && sizeof(ChipOptions232H) == 40);
#endif
#endif

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_PROGRAM_RECORD_H
