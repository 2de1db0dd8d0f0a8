#include "eeprom/ft232b.h"

#include "eeprom/common_fields.h"

namespace corvane::eeprom {

namespace {

constexpr uint16_t release_bm = 0x0400;
constexpr uint16_t release_am = 0x0200;
constexpr uint16_t usb_1_1 = 0x0110; // what older images are reported to speak
constexpr uint16_t part_93c46 = 0x46;

// The settings structure has only its header: every row is the record's.
constexpr Field fields[] = {
    byte_bits(10, 0, 1, Rule::flag, offsetof(ProgramData, option_bit0), no_field),
    byte_bits(10, 1, 1, Rule::flag, offsetof(ProgramData, option_bit1), no_field),
    byte_bits(10, 2, 1, Rule::flag, offsetof(ProgramData, option_bit2), no_field),
    byte_bits(10, 3, 1, Rule::flag, offsetof(ProgramData, option_bit3), no_field),
    byte_bits(10, 4, 1, Rule::flag, offsetof(ProgramData, option_bit4), no_field),
    byte_bits(12, 0, 16, Rule::code, offsetof(ProgramData, usb_version), no_field),
};

} // namespace

constinit const ChipLayout ft232b_layout = {
    .fields = fields,
    .first_string = ft232b_first_string,
    .release = release_bm,
    .product_id = ft232b_product_id,
    .usb_version = usb_release_2_0,
    .record = {{offsetof(ProgramData, release_0400), offsetof(ProgramData, dual_release_0500)},
               offsetof(ChipOptions232, release_0400),
               {ft2232_release_cleared, ft2232_fields_cleared}},
};

bool FixedPartLayout::ProbeEepromType()
{
    eeprom_type = part_93c46;
    return true;
}

void FixedPartLayout::FitImageToEeprom() {}

// The FT232B rows once more for the FT232R, whose image reads back as one of the older
// release with only option bit 2.
void FixedPartLayout::DecodeChipWords(ProgramData &record) const
{
    load_fields(ft232b_layout, Side::record, *this, &record);
    const bool bm = image[7] == 4;
    record.release_0400 = flag(bm);
    // Images of the older release keep no meaning in these bits.
    if (!bm) {
        record.option_bit0 = 0;
        record.option_bit1 = 0;
        record.option_bit3 = 0;
        record.option_bit4 = 0;
        record.usb_version = usb_1_1;
    }
}

void TFtEE232::StoreChipWords(const ProgramData *record)
{
    if (record != nullptr && !record->release_0400)
        set_word_at(3, release_am);
}

} // namespace corvane::eeprom
