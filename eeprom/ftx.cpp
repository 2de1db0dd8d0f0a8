#include "eeprom/ftx.h"

#include <algorithm>
#include <cstring>

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_x = 0x1000;
constexpr int checksum_word = 127;
constexpr uint16_t checksum_seed = 0xAAAA;

// Word ranges [first, end) of the memory.
struct WordRange {
    int first;
    int end;
};
// The checksum skips the first user stretch and ends before its own word; the second
// stretch lies beyond it.
constexpr WordRange checksummed[] = {{0, 18}, {64, 127}};
// What reprogramming keeps: both user stretches and the chip's own words 64 to 79.
constexpr WordRange kept_words[] = {{18, 64}, {64, 80}, {128, max_words}};

constexpr int user_start_word = 18;
constexpr uint32_t first_stretch = 2 * (64 - user_start_word); // bytes 0x24 to 0x7F
constexpr int second_stretch_at = 0x100;
constexpr uint32_t second_stretch = image_size - second_stretch_at;
constexpr int user_area_words = static_cast<int>((first_stretch + second_stretch) / 2);

constexpr int mux_at = 0x1A;

constexpr Field mux(int k, size_t settings)
{
    return byte_bits(mux_at + k, 0, 8, Rule::code, no_field, settings, ftx_mux_max);
}

// The record functions do not serve this chip: every row is the settings structure's.
constexpr Field fields[] = {
    byte_bits(0, 0, 1, Rule::flag, no_field, offsetof(SettingsX, w0_bit0)),
    byte_bits(0, 1, 1, Rule::flag, no_field, offsetof(SettingsX, w0_bit1)),
    byte_bits(0, 2, 1, Rule::flag, no_field, offsetof(SettingsX, w0_bit2)),
    byte_bits(0, 3, 1, Rule::flag, no_field, offsetof(SettingsX, w0_bit3)),
    byte_bits(0, 6, 1, Rule::flag, no_field, offsetof(SettingsX, w0_bit6)),
    byte_bits(0, 7, 1, Rule::flag_one, no_field, offsetof(SettingsX, driver_type)),
    // Bits 4 to 7 of byte 10, beside the header's bits 2 and 3.
    byte_bits(10, 4, 1, Rule::flag, no_field, offsetof(SettingsX, option_bit4)),
    byte_bits(10, 5, 1, Rule::flag, no_field, offsetof(SettingsX, option_bit5)),
    byte_bits(10, 6, 1, Rule::flag, no_field, offsetof(SettingsX, option_bit6)),
    byte_bits(10, 7, 1, Rule::flag, no_field, offsetof(SettingsX, option_bit7)),
    byte_bits(11, 0, 1, Rule::flag, no_field, offsetof(SettingsX, byte11_bit0)),
    byte_bits(11, 1, 1, Rule::flag, no_field, offsetof(SettingsX, byte11_bit1)),
    byte_bits(11, 2, 1, Rule::flag, no_field, offsetof(SettingsX, byte11_bit2)),
    byte_bits(11, 3, 1, Rule::flag, no_field, offsetof(SettingsX, byte11_bit3)),
    byte_bits(11, 4, 1, Rule::flag, no_field, offsetof(SettingsX, byte11_bit4)),
    byte_bits(11, 5, 1, Rule::flag, no_field, offsetof(SettingsX, byte11_bit5)),
    byte_bits(11, 6, 1, Rule::flag, no_field, offsetof(SettingsX, byte11_bit6)),
    byte_bits(11, 7, 1, Rule::flag, no_field, offsetof(SettingsX, byte11_bit7)),
    pin_group_at(6, 0, no_field, offsetof(SettingsX, group0_slow_slew)),
    pin_group_at(6, 1, no_field, offsetof(SettingsX, group1_slow_slew)),
    byte_bits(0x14, 0, 16, Rule::code, no_field, offsetof(SettingsX, aux_value16)),
    byte_bits(0x16, 0, 24, Rule::code, no_field, offsetof(SettingsX, aux_value24)),
    mux(0, offsetof(SettingsX, cbus_mux0)),
    mux(1, offsetof(SettingsX, cbus_mux1)),
    mux(2, offsetof(SettingsX, cbus_mux2)),
    mux(3, offsetof(SettingsX, cbus_mux3)),
    mux(4, offsetof(SettingsX, cbus_mux4)),
    mux(5, offsetof(SettingsX, cbus_mux5)),
    mux(6, offsetof(SettingsX, cbus_mux6)),
};

} // namespace

// Every string offset is 0xA0 or more, so bit 7 of each pointer byte is set already.
constinit const ChipLayout ftx_layout = {
    .fields = fields,
    .word_count = max_words,
    .checksum_span = 254,
    .first_string = ftx_first_string,
    .strings_end = ftx_strings_end,
    .release = release_x,
};

// The pointer bytes hold the real offsets, all in the upper half of the first 128 words.
bool TFtEEFTX::ReadImage()
{
    if (!TFtE2Data::ReadImage())
        return false;
    manufacturer_offset += 0x80;
    description_offset += 0x80;
    serial_offset += 0x80;
    return true;
}

void TFtEEFTX::UpdateChecksum()
{
    uint16_t sum = checksum_seed;
    for (const WordRange &range : checksummed) {
        for (int word = range.first; word < range.end; ++word) {
            sum ^= word_at(word);
            sum = static_cast<uint16_t>(sum << 1 | sum >> 15);
        }
    }
    set_word_at(checksum_word, sum);
    checksum = sum;
}

int TFtEEFTX::UserAreaStart()
{
    return user_start_word;
}

int TFtEEFTX::UserAreaSize()
{
    return user_area_words;
}

bool TFtEEFTX::WriteUserArea(const uint8_t *bytes, uint32_t count)
{
    if (count > static_cast<uint32_t>(user_area_words) * 2)
        return false;
    const uint32_t first = std::min(count, first_stretch);
    if (!TFtE2Data::WriteUserArea(bytes, first))
        return false;
    if (count > first)
        std::memcpy(image + second_stretch_at, bytes + first, count - first);
    UpdateChecksum();
    return true;
}

void TFtEEFTX::ReadUserArea(uint8_t *buffer, uint32_t count, uint32_t &got)
{
    ReadUserPieces(buffer, count, got, first_stretch, second_stretch_at, second_stretch);
}

void TFtEEFTX::EncodeImage(const ChipOptions &) {}

FtdevStatus TFtEEFTX::DecodeImage(ProgramData &)
{
    return FTDEV_OK;
}

// The memory is inside the chip: there is nothing to probe.
bool TFtEEFTX::ProbeEepromType()
{
    eeprom_type = ftx_part_code;
    return true;
}

void TFtEEFTX::FitImageToEeprom() {}

// User data and the chip's words come back from the device as they are; a word that
// cannot be read stops here, before the erase, rather than being replaced by garbage.
bool TFtEEFTX::PrepareSettingsImage()
{
    for (const WordRange &range : kept_words) {
        for (int address = range.first; address < range.end; ++address) {
            uint16_t word = 0;
            if (!ReadWord(static_cast<uint32_t>(address), word))
                return false;
            set_word_at(address, word);
        }
    }
    return true;
}

void TFtEEFTX::FinishImage()
{
    UpdateChecksum();
    blank = 0;
}

} // namespace corvane::eeprom
