#include "eeprom/external_eeprom.h"

#include <algorithm>
#include <cstring>

namespace corvane::eeprom {

namespace {
constexpr uint16_t probe_address = 0xC0;
constexpr uint16_t probe_marker = 0x00C0;

// Where the marker shows up on each part size, looked at in this order. Only the first
// 128 words of a 256-word part are used.
struct PartSize {
    uint16_t marker_seen_at;
    uint16_t code;
    uint32_t checksum_span;
    uint32_t word_count;
};
constexpr PartSize part_sizes[] = {
    {0, part_64_words, 126, 64},
    {0x40, part_128_words, 254, 128},
    {probe_address, part_256_words, 254, 128},
};
} // namespace

bool ExternalEepromLayout::large_part() const
{
    return eeprom_type == part_128_words || eeprom_type == part_256_words;
}

bool ExternalEepromLayout::ReadImage()
{
    if (!TFtE2Data::ReadImage())
        return false;
    eeprom_type = word_at(chip->part_code_word);
    AdjustForPartSize(large_part());
    return true;
}

void ExternalEepromLayout::FitImageToEeprom()
{
    if (large_part())
        MoveStringsToUpperHalf(chip->first_string);
}

void ExternalEepromLayout::StoreChipWords(const ProgramData *)
{
    set_word_at(chip->part_code_word, part_code_for(eeprom_type));
}

bool ExternalEepromLayout::ProbeEepromType()
{
    Erase();
    WriteWord(probe_address, probe_marker);
    for (const PartSize &size : part_sizes) {
        uint16_t word = 0;
        if (!ReadWord(size.marker_seen_at, word))
            return false;
        if (word == probe_marker) {
            eeprom_type = size.code;
            checksum_span = size.checksum_span;
            word_count = size.word_count;
            return true;
        }
    }
    eeprom_type = 0;
    checksum_span = 126;
    word_count = 64;
    return true;
}

// Behind the moved tail word. A damaged length byte can walk the tail back into the lower
// piece; the upper piece then counts as empty rather than overlapping the lower one.
int ExternalEepromLayout::UpperPieceStart()
{
    const int start = BaseUserAreaStart();
    return start >= UserAreaStart() + static_cast<int>(lower_piece_bytes / 2) ? start : 0;
}

int ExternalEepromLayout::UserAreaSize()
{
    if (!large_part())
        return BaseUserAreaSize();
    const int upper = UpperPieceStart();
    const int upper_size = upper == 0 ? 0 : static_cast<int>(checksum_span) / 2 - upper;
    return upper_size + static_cast<int>(lower_piece_bytes / 2);
}

bool ExternalEepromLayout::WriteUserArea(const uint8_t *bytes, uint32_t count)
{
    if (count > static_cast<uint32_t>(std::max(UserAreaSize(), 0)) * 2)
        return false;
    const uint32_t first = std::min(count, lower_piece_bytes);
    const uint32_t rest = count - first;
    const int upper = UpperPieceStart() * 2;
    if (rest > 0 && (upper <= 0 || upper + static_cast<int64_t>(rest) > image_size))
        return false;
    if (!TFtE2Data::WriteUserArea(bytes, first))
        return false;
    if (rest > 0)
        std::memcpy(image + upper, bytes + first, rest);
    UpdateChecksum();
    return true;
}

void ExternalEepromLayout::ReadUserArea(uint8_t *buffer, uint32_t count, uint32_t &got)
{
    const uint32_t first = std::min(count, lower_piece_bytes);
    const uint32_t limit = static_cast<uint32_t>(std::max(UserAreaSize(), 0)) * 2;
    ReadUserPieces(buffer, count, got, lower_piece_bytes, UpperPieceStart() * 2, limit > first ? limit - first : 0);
}

} // namespace corvane::eeprom
