// A chip's image as data: which bits of which word hold which field of the ProgramData
// record and of the chip's settings structure, and by what rule. One engine reads these
// tables for both directions and both paths, so a layout states each field once.
#ifndef CORVANE_EEPROM_FIELD_TABLE_H
#define CORVANE_EEPROM_FIELD_TABLE_H

#include "eeprom/chip_options.h"
#include "eeprom/image.h"
#include "ftdev.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace corvane::eeprom {

enum class Rule : uint8_t {
    flag,          // a non-zero byte sets the bit; the bit reads back as 0 or 1
    flag_one,      // as flag, but a settings structure sets it only with the value 1
    flag_inverted, // as flag in a record; a settings structure sets it with 0 and reads a set bit as 0
    first_flag,    // as flag, but of a table's rows of this rule only the first non-zero one is stored
    code,          // a value of `width` bits, cut to them (a multi-byte value is little-endian)
    unchecked,     // a value ORed in at its place without cutting it to its width
    pin_group,     // slew, Schmitt and drive in mA, three bytes in a nibble (see pin_group.h)
};

// Which structure a row is read from or written to.
enum class Side : uint8_t { record, settings };

constexpr uint16_t no_field = 0xFFFF;

struct Field {
    uint16_t byte; // image byte of the lowest bit
    uint8_t shift; // bit in that byte
    uint8_t width; // bits: at most 8 within a byte, or 16 or 24 from bit 0
    Rule rule;
    uint8_t limit;     // a settings value above this is refused (6); 0: any value
    uint16_t record;   // offset in ProgramData, or no_field
    uint16_t settings; // offset in the chip's settings structure, or no_field
};

constexpr uint16_t field_offset(size_t offset)
{
    return static_cast<uint16_t>(offset);
}

// Bit `bit` of word `word`.
constexpr Field word_bit(int word, int bit, Rule rule, size_t record, size_t settings)
{
    return {static_cast<uint16_t>(2 * word + bit / 8),
            static_cast<uint8_t>(bit % 8),
            1,
            rule,
            0,
            field_offset(record),
            field_offset(settings)};
}

// `width` bits from bit `shift` of byte `byte`.
constexpr Field byte_bits(int byte, int shift, int width, Rule rule, size_t record, size_t settings, uint8_t limit = 0)
{
    return {static_cast<uint16_t>(byte), static_cast<uint8_t>(shift), static_cast<uint8_t>(width), rule, limit,
            field_offset(record),        field_offset(settings)};
}

// Pin group `nibble` (0 to 3) of word `word`.
constexpr Field pin_group_at(int word, int nibble, size_t record, size_t settings)
{
    return byte_bits(2 * word + nibble / 2, 4 * (nibble % 2), 4, Rule::pin_group, record, settings);
}

// Rows two chips share, followed by one chip's own.
template <size_t shared, size_t own>
constexpr std::array<Field, shared + own> joined(const std::array<Field, shared> &first,
                                                 const std::array<Field, own> &second)
{
    std::array<Field, shared + own> rows{};
    for (size_t i = 0; i < shared; ++i)
        rows[i] = first[i];
    for (size_t i = 0; i < own; ++i)
        rows[shared + i] = second[i];
    return rows;
}

// The record bytes [first, end).
struct ByteRange {
    size_t first;
    size_t end;
};

// A chip's block of the ProgramData record.
struct RecordBlock {
    ByteRange fields = {0, 0};
    size_t options_first = 0; // where the chip's ChipOptions block holds the same bytes
    // The record bytes DecodeImage clears: the blocks of other chips that a reader of this
    // image reports as clear.
    ByteRange cleared[2] = {};
};

// A block behind the FT232B one, the record's bytes [first, end): DecodeImage clears
// every block before it.
constexpr RecordBlock later_block(size_t first, size_t end, size_t options_first)
{
    return {{first, end}, options_first, {{offsetof(ProgramData, release_0400), first}, {0, 0}}};
}

// The same for the blocks that a ChipOptions block holds as plain bytes.
template <typename Options>
constexpr RecordBlock later_block(size_t first)
{
    return later_block(first, first + sizeof(Options::block), offsetof(Options, block));
}

// Everything the frames of TFtE2Data need to know about one chip besides its code.
struct ChipLayout {
    std::span<const Field> fields;
    uint32_t word_count = 64;     // words read from and written to the part
    uint32_t checksum_span = 126; // bytes the checksum covers; it lies right behind them
    int first_string = 0;         // byte offset of the manufacturer descriptor
    int strings_end = strings_end_limit;
    uint16_t release = 0;     // word 3
    uint16_t product_id = 0;  // EncodeImage writes it with the FTDI vendor id, 0xA0 and 0x2D
    uint16_t usb_version = 0; // word 6 before the fields are stored
    RecordBlock record = {};
    // On an external part, the word that keeps the part's size code; its probe erases the
    // part, so ProgramSettings probes again in place of Erase. 0 for a part inside the chip.
    int part_code_word = 0;
};

// The record fields of a ChipOptions block: a record that is zero but for the chip's block.
ProgramData record_of_options(const ChipLayout &chip, const ChipOptions &options);

// Whether every settings value keeps within its row's limit.
bool settings_in_range(const ChipLayout &chip, const SettingsHeader &settings);

// Stores the fields of `source` (a ProgramData record or the chip's settings structure)
// into the image, and loads them back into `target`.
void store_fields(const ChipLayout &chip, Side side, const void *source, TFtE2Data &image);
void load_fields(const ChipLayout &chip, Side side, const TFtE2Data &image, void *target);

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FIELD_TABLE_H
