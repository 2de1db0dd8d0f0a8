#include "eeprom/ft232h.h"

#include "eeprom/external_eeprom.h"

#include <algorithm>
#include <cstring>

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_232h = 0x0900;
constexpr int part_code_word = 15;
// Some FT232H images name their part by this code instead of the part size.
constexpr uint16_t part_code_232h = 0x5231;
constexpr int mux_bytes = 0x18;
constexpr int fixed_byte = 0x8A;
constexpr uint8_t fixed_byte_value = 0x48;

// On a large part bytes 0x20 to 0x7F move up by 0x80, where the pointer bytes
// (offset | 0x80) already point; the lower half then holds user data.
constexpr int moved_from = ft232h_first_string;
constexpr int moved_size = 0x80 - ft232h_first_string;
constexpr int upper_half = 0x80;
constexpr uint32_t lower_user_piece = moved_size;
constexpr int upper_strings_word = (moved_from + upper_half) / 2;

constexpr uint16_t probe_address = 0xC0;
constexpr uint16_t probe_marker = 0x00C0;

constexpr Field mux_at(int k, size_t record, size_t settings)
{
    return byte_bits(mux_bytes + k / 2, 4 * (k % 2), 4, Rule::code, record, settings, ft232h_mux_max);
}

// Of word 0 bits 0-3 only the first set one is stored, but each reads back on its own,
// even where an image holds several. Each mux code keeps to its nibble, so that an
// out-of-range value on the record path, which has no range check, cannot change its
// neighbour's pin function.
constexpr Field fields[] = {
    byte_bits(10, 2, 1, Rule::flag, offsetof(ProgramData, ft232h_option_bit2), no_field),
    byte_bits(10, 3, 1, Rule::flag, offsetof(ProgramData, ft232h_option_bit3), no_field),
    pin_group_at(6, 0, offsetof(ProgramData, ft232h_group0_slow_slew), offsetof(Settings232H, group0_slow_slew)),
    pin_group_at(6, 2, offsetof(ProgramData, ft232h_group1_slow_slew), offsetof(Settings232H, group1_slow_slew)),
    mux_at(0, offsetof(ProgramData, ft232h_cbus_mux0), offsetof(Settings232H, cbus_mux0)),
    mux_at(1, offsetof(ProgramData, ft232h_cbus_mux1), offsetof(Settings232H, cbus_mux1)),
    mux_at(2, offsetof(ProgramData, ft232h_cbus_mux2), offsetof(Settings232H, cbus_mux2)),
    mux_at(3, offsetof(ProgramData, ft232h_cbus_mux3), offsetof(Settings232H, cbus_mux3)),
    mux_at(4, offsetof(ProgramData, ft232h_cbus_mux4), offsetof(Settings232H, cbus_mux4)),
    mux_at(5, offsetof(ProgramData, ft232h_cbus_mux5), offsetof(Settings232H, cbus_mux5)),
    mux_at(6, offsetof(ProgramData, ft232h_cbus_mux6), offsetof(Settings232H, cbus_mux6)),
    mux_at(7, offsetof(ProgramData, ft232h_cbus_mux7), offsetof(Settings232H, cbus_mux7)),
    mux_at(8, offsetof(ProgramData, ft232h_cbus_mux8), offsetof(Settings232H, cbus_mux8)),
    mux_at(9, offsetof(ProgramData, ft232h_cbus_mux9), offsetof(Settings232H, cbus_mux9)),
    word_bit(0, 0, Rule::first_flag, offsetof(ProgramData, ft232h_w0_bit0), offsetof(Settings232H, w0_bit0)),
    word_bit(0, 1, Rule::first_flag, offsetof(ProgramData, ft232h_w0_bit1), offsetof(Settings232H, w0_bit1)),
    word_bit(0, 2, Rule::first_flag, offsetof(ProgramData, ft232h_w0_bit2), offsetof(Settings232H, w0_bit2)),
    word_bit(0, 3, Rule::first_flag, offsetof(ProgramData, ft232h_w0_bit3), offsetof(Settings232H, w0_bit3)),
    word_bit(0, 4, Rule::flag_one, offsetof(ProgramData, ft232h_driver_type), offsetof(Settings232H, driver_type)),
    word_bit(0, 8, Rule::flag, offsetof(ProgramData, ft232h_w0_bit8), offsetof(Settings232H, w0_bit8)),
    word_bit(0, 9, Rule::flag, offsetof(ProgramData, ft232h_w0_bit9), offsetof(Settings232H, w0_bit9)),
    word_bit(0, 10, Rule::flag, offsetof(ProgramData, ft232h_w0_bit10), offsetof(Settings232H, w0_bit10)),
    word_bit(0, 15, Rule::flag, offsetof(ProgramData, ft232h_w0_bit15), offsetof(Settings232H, w0_bit15)),
};

} // namespace

constinit const ChipLayout ft232h_layout = {
    .fields = fields,
    .word_count = 128,
    .checksum_span = 254,
    .first_string = ft232h_first_string,
    .release = release_232h,
    .record = later_block<ChipOptions232H>(offsetof(ProgramData, ft232h_option_bit2)),
    .part_code_word = part_code_word,
};

bool TFtEE232H::large_part() const
{
    return eeprom_type == part_128_words || eeprom_type == part_256_words || eeprom_type == part_code_232h;
}

bool TFtEE232H::ReadImage()
{
    if (!TFtE2Data::ReadImage())
        return false;
    eeprom_type = word_at(part_code_word);
    AdjustForPartSize(large_part());
    return true;
}

// Without a part code only word_count words go back to the device, while the checksum
// span still reaches word 127: the user area ends with the written words, or user data
// would be accepted and lost. It never starts below the strings, where the chip's own
// words lie, nor on the serial descriptor it was found behind (a blank part's length
// bytes of 0xFF walk backwards), where user data would move the area on the next read.
int TFtEE232H::UserAreaStart()
{
    if (large_part())
        return moved_from / 2;
    const int start = BaseUserAreaStart();
    const bool sound = start >= moved_from / 2 && start < static_cast<int>(word_count) && 2 * start > serial_offset;
    return sound ? start : 0;
}

int TFtEE232H::UpperPieceStart() const
{
    const int start = BaseUserAreaStart();
    return start >= upper_strings_word && 2 * start > serial_offset ? start : 0;
}

int TFtEE232H::UserAreaSize()
{
    if (large_part()) {
        const int upper = UpperPieceStart();
        const int upper_size = upper == 0 ? 0 : static_cast<int>(checksum_span) / 2 - upper;
        return static_cast<int>(lower_user_piece / 2) + upper_size;
    }
    const int start = UserAreaStart();
    if (start == 0)
        return 0;
    return std::min(static_cast<int>(checksum_span) / 2, static_cast<int>(word_count)) - start;
}

bool TFtEE232H::WriteUserArea(const uint8_t *bytes, uint32_t count)
{
    const int size = UserAreaSize();
    if (size <= 0 || count > static_cast<uint32_t>(size) * 2)
        return false;
    if (!large_part())
        return TFtE2Data::WriteUserArea(bytes, count);
    const uint32_t first = std::min(count, lower_user_piece);
    const uint32_t rest = count - first;
    if (!TFtE2Data::WriteUserArea(bytes, first))
        return false;
    // The size above counts the upper piece only when there is one, so `rest` fits it.
    if (rest > 0)
        std::memcpy(image + 2 * UpperPieceStart(), bytes + first, rest);
    UpdateChecksum();
    return true;
}

void TFtEE232H::ReadUserArea(uint8_t *buffer, uint32_t count, uint32_t &got)
{
    if (!large_part()) {
        TFtE2Data::ReadUserArea(buffer, count, got);
        return;
    }
    const uint32_t first = std::min(count, lower_user_piece);
    const uint32_t limit = static_cast<uint32_t>(std::max(UserAreaSize(), 0)) * 2;
    ReadUserPieces(buffer, count, got, lower_user_piece, 2 * UpperPieceStart(), limit > first ? limit - first : 0);
}

// Erases the part and writes a marker at word 0xC0: a 128-word part, which wraps, shows
// it at 0x40. The FT232H takes no 64-word part, so word 0 is never looked at.
bool TFtEE232H::ProbeEepromType()
{
    Erase();
    WriteWord(probe_address, probe_marker);
    word_count = 128;
    checksum_span = 254;
    uint16_t word = 0;
    if (!ReadWord(0x40, word))
        return false;
    if (word == probe_marker) {
        eeprom_type = part_128_words;
        return true;
    }
    if (!ReadWord(probe_address, word))
        return false;
    // Only the first 128 words of a 256-word part are used.
    eeprom_type = word == probe_marker ? part_256_words : 0;
    return true;
}

void TFtEE232H::FitImageToEeprom()
{
    if (large_part())
        MoveStringsToUpperHalf(moved_from);
}

void TFtEE232H::StoreChipWords(const ProgramData *)
{
    set_word_at(part_code_word, eeprom_type != 0 ? eeprom_type : part_128_words);
    image[fixed_byte] = fixed_byte_value;
}

} // namespace corvane::eeprom
