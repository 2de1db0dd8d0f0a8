#include "eeprom/field_table.h"

#include "eeprom/image.h"
#include "eeprom/pin_group.h"

#include <cstring>

namespace corvane::eeprom {

namespace {

uint16_t offset_on(const Field &field, Side side)
{
    return side == Side::record ? field.record : field.settings;
}

// The structure member behind a row: a byte, or the uint16_t or uint32_t of a wider value.
size_t member_size(const Field &field)
{
    return field.width <= 8 ? 1 : field.width <= 16 ? 2 : 4;
}

uint32_t read_member(const unsigned char *at, size_t size)
{
    if (size == 1)
        return *at;
    if (size == 2) {
        uint16_t value;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void write_member(unsigned char *at, size_t size, uint32_t value)
{
    if (size == 1) {
        *at = static_cast<uint8_t>(value);
    } else if (size == 2) {
        const auto narrow = static_cast<uint16_t>(value);
        std::memcpy(at, &narrow, sizeof narrow);
    } else {
        std::memcpy(at, &value, sizeof value);
    }
}

uint32_t mask_of(const Field &field)
{
    return field.width >= 32 ? 0xFFFFFFFFu : (1u << field.width) - 1;
}

// Whole bytes are written (a wider value little-endian); bits within a byte are ORed in,
// cut to the byte as a byte store would.
void place(TFtE2Data &image, const Field &field, uint32_t value)
{
    if (field.shift == 0 && field.width % 8 == 0) {
        for (int i = 0; i < field.width / 8; ++i)
            image.image[field.byte + i] = static_cast<uint8_t>(value >> (8 * i));
        return;
    }
    image.image[field.byte] |= static_cast<uint8_t>(value << field.shift);
}

uint32_t extract(const TFtE2Data &image, const Field &field)
{
    if (field.shift == 0 && field.width % 8 == 0) {
        uint32_t value = 0;
        for (int i = 0; i < field.width / 8; ++i)
            value |= static_cast<uint32_t>(image.image[field.byte + i]) << (8 * i);
        return value;
    }
    return (image.image[field.byte] >> field.shift) & mask_of(field);
}

uint32_t stored_value(const Field &field, Side side, uint32_t value, bool &first_taken)
{
    switch (field.rule) {
    case Rule::flag: return value != 0;
    case Rule::flag_one: return side == Side::settings ? value == 1 : value != 0;
    case Rule::flag_inverted: return side == Side::settings ? value == 0 : value != 0;
    case Rule::first_flag:
        if (value == 0 || first_taken)
            return 0;
        first_taken = true;
        return 1;
    case Rule::code: return value & mask_of(field);
    case Rule::unchecked:
    case Rule::pin_group: break;
    }
    return value;
}

} // namespace

ProgramData record_of_options(const ChipLayout &chip, const ChipOptions &options)
{
    ProgramData record{};
    std::memcpy(reinterpret_cast<unsigned char *>(&record) + chip.record.fields.first,
                reinterpret_cast<const unsigned char *>(&options) + chip.record.options_first,
                chip.record.fields.end - chip.record.fields.first);
    return record;
}

bool settings_in_range(const ChipLayout &chip, const SettingsHeader &settings)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(&settings);
    for (const Field &field : chip.fields) {
        if (field.settings != no_field && field.limit != 0 &&
            read_member(bytes + field.settings, member_size(field)) > field.limit)
            return false;
    }
    return true;
}

void store_fields(const ChipLayout &chip, Side side, const void *source, TFtE2Data &image)
{
    const auto *bytes = static_cast<const unsigned char *>(source);
    bool first_taken = false;
    for (const Field &field : chip.fields) {
        const uint16_t offset = offset_on(field, side);
        if (offset == no_field)
            continue;
        const unsigned char *at = bytes + offset;
        if (field.rule == Rule::pin_group) {
            place(image, field, pin_group_nibble({at[0], at[1], at[2]}));
            continue;
        }
        place(image, field, stored_value(field, side, read_member(at, member_size(field)), first_taken));
    }
}

void load_fields(const ChipLayout &chip, Side side, const TFtE2Data &image, void *target)
{
    auto *bytes = static_cast<unsigned char *>(target);
    for (const Field &field : chip.fields) {
        const uint16_t offset = offset_on(field, side);
        if (offset == no_field)
            continue;
        unsigned char *at = bytes + offset;
        const uint32_t value = extract(image, field);
        if (field.rule == Rule::pin_group) {
            const PinGroup group = pin_group_from_nibble(value);
            at[0] = group.slow_slew;
            at[1] = group.schmitt;
            at[2] = group.drive;
            continue;
        }
        const bool inverted = field.rule == Rule::flag_inverted && side == Side::settings;
        write_member(at, member_size(field), inverted ? value == 0 : value);
    }
}

} // namespace corvane::eeprom
