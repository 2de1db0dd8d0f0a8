// The high-speed layouts receive their ProgramData block as raw bytes inside a
// ChipOptions block; this puts those bytes back under the record's field names.
#ifndef CORVANE_EEPROM_RECORD_BLOCK_VIEW_H
#define CORVANE_EEPROM_RECORD_BLOCK_VIEW_H

#include "eeprom/chip_options.h"
#include "eeprom/image.h"
#include "ftdev.h"

#include <cstddef>
#include <cstring>

namespace corvane::eeprom {

// A record whose fields are all zero except the block, copied to where the record keeps
// it (from the field at `record_first` on).
template <typename Block>
ProgramData record_fields_of(const Block &block, size_t record_first)
{
    static_assert(sizeof(Block::block) <= sizeof(ProgramData));
    ProgramData fields{};
    std::memcpy(reinterpret_cast<unsigned char *>(&fields) + record_first, block.block, sizeof block.block);
    return fields;
}

// FT_EE_Program's step for these layouts: the record's block, from the field at
// `record_first` on, copied unchanged into a ChipOptions block with the manufacturer, the
// description and an empty serial, and handed to EncodeImage.
template <typename Block>
void encode_record_block(TFtE2Data &layout, const ProgramData &record, size_t record_first)
{
    Block block{};
    block.texts = {record.manufacturer, record.description, ""};
    copy_record_block(block, offsetof(Block, block), record, record_first, record_first + sizeof block.block);
    layout.EncodeImage(block.texts);
}

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_RECORD_BLOCK_VIEW_H
