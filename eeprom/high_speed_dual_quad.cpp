#include "eeprom/high_speed_dual_quad.h"

#include "eeprom/common_fields.h"
#include "eeprom/serial_number.h"

#include <cstring>

namespace corvane::eeprom {

namespace {

constexpr int part_code_word = 12;
constexpr int pin_group_word = 6;

// On a large part bytes 0x1A to 0x7F move up by 0x80, where the pointer bytes
// (offset | 0x80) already point; the lower half then holds user data.
constexpr int moved_from = high_speed_first_string;

} // namespace

bool HighSpeedLayout::ReadImage()
{
    if (!TFtE2Data::ReadImage())
        return false;
    eeprom_type = word_at(part_code_word);
    AdjustForPartSize(large_part());
    return true;
}

// A damaged tail walk may end in the header or, with length bytes of 0xFF, walk back
// onto the serial descriptor it started from; user data never goes below the strings,
// where the part code and the chip's words lie, nor where it would move the user area
// on the next read.
int HighSpeedLayout::UserAreaStart()
{
    if (large_part())
        return moved_from / 2;
    const int start = BaseUserAreaStart();
    return start >= moved_from / 2 && 2 * start > serial_offset ? start : 0;
}

int HighSpeedLayout::UserAreaSize()
{
    if (!large_part() && UserAreaStart() == 0)
        return 0;
    return ExternalEepromLayout::UserAreaSize();
}

void HighSpeedLayout::FitImageToEeprom()
{
    if (large_part())
        MoveStringsToUpperHalf(moved_from);
}

void HighSpeedLayout::StoreChipWords(const ChipWords &words)
{
    set_word_at(0, words.word0);
    set_word_at(3, words.release);
    set_word_at(5, static_cast<uint16_t>(word_at(5) | words.word5));
    uint16_t word6 = 0;
    for (unsigned k = 0; k < 4; ++k)
        word6 |= static_cast<uint16_t>(pin_group_nibble(words.groups[k]) << (4 * k));
    set_word_at(pin_group_word, word6);
    set_word_at(part_code_word, part_code_for(eeprom_type));
}

void HighSpeedLayout::EncodeChipImage(const ChipOptions &options, const ChipWords &words)
{
    clear_image();
    StoreChipWords(words);
    PlaceStrings(high_speed_first_string, options.manufacturer, options.description,
                 options.serial != nullptr ? options.serial : "");
    AppendEmptyDescriptor();
    SetTailWord(0);
    UpdateChecksum();
    blank = 0;
}

FtdevStatus HighSpeedLayout::ProgramChipSettings(const SettingsHeader &header, const Texts &texts,
                                                 const ChipWords &words)
{
    char automatic[automatic_serial_size];
    const char *serial = choose_serial(texts.serial_number, texts.manufacturer_id, header.product_id, automatic);
    if (FtdevStatus status = check_program_settings(header, texts, serial, high_speed_first_string))
        return status;

    clear_image();
    if (!ProbeEepromType())
        return FTDEV_EEPROM_READ_FAILED;
    set_word_at(3, words.release);
    apply_settings_header(*this, header);
    PlaceStrings(high_speed_first_string, texts.manufacturer, texts.description, serial);
    FitImageToEeprom();
    StoreChipWords(words);
    // Both work from the offsets in memory, which the move above left in the lower half:
    // the images this path has always written keep 02 03 00 00 at the serial's old place.
    AppendEmptyDescriptor();
    SetTailWord(0);
    UpdateChecksum();
    blank = 0;

    // The probe erases the part, in place of Erase.
    if (!ProbeEepromType())
        return FTDEV_EEPROM_READ_FAILED;
    if (!WriteAll() || !Verify())
        return FTDEV_EEPROM_WRITE_FAILED;
    return FTDEV_OK;
}

FtdevStatus HighSpeedLayout::ReadChipSettings(SettingsHeader &header, const TextBuffers &buffers)
{
    if (FtdevStatus status = check_buffers(buffers))
        return status;
    if (!ReadImage())
        return FTDEV_EEPROM_READ_FAILED;
    if (FtdevStatus status = check_vendor_word(*this))
        return status;
    read_settings_header(*this, header, buffers);
    return FTDEV_OK;
}

FtdevStatus HighSpeedLayout::DecodeChipImage(ProgramData &record, size_t own_block)
{
    if (!ReadImage())
        return FTDEV_EEPROM_READ_FAILED;
    if (FtdevStatus status = check_vendor_word(*this))
        return status;
    decode_common_fields(*this, record);
    const size_t first = offsetof(ProgramData, release_0400);
    std::memset(reinterpret_cast<unsigned char *>(&record) + first, 0, own_block - first);
    return FTDEV_OK;
}

void HighSpeedLayout::ReadPinGroups(PinGroup (&groups)[4]) const
{
    const uint16_t word6 = word_at(pin_group_word);
    for (unsigned k = 0; k < 4; ++k)
        groups[k] = pin_group_from_nibble(word6 >> (4 * k) & 0xFu);
}

void HighSpeedLayout::GroupsFromBytes(const uint8_t *first, PinGroup (&groups)[4])
{
    for (unsigned k = 0; k < 4; ++k)
        groups[k] = {first[3 * k], first[3 * k + 1], first[3 * k + 2]};
}

void HighSpeedLayout::GroupsToBytes(const PinGroup (&groups)[4], uint8_t *first)
{
    for (unsigned k = 0; k < 4; ++k) {
        first[3 * k] = groups[k].slow_slew;
        first[3 * k + 1] = groups[k].schmitt;
        first[3 * k + 2] = groups[k].drive;
    }
}

} // namespace corvane::eeprom
