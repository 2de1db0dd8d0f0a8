// The 64-word image of the FT232B family, also used for every device type without a
// layout of its own, and what the FT232R's image shares with it.
#ifndef CORVANE_EEPROM_FT232B_H
#define CORVANE_EEPROM_FT232B_H

#include "eeprom/field_table.h"

namespace corvane::eeprom {

constexpr int ft232b_first_string = 20;
constexpr uint16_t ft232b_product_id = 0x6001;

// A reader of the 64-word images reports most of the FT2232 block as clear, but not its
// option bits 0, 5, 1 and 6.
constexpr ByteRange ft2232_release_cleared = {offsetof(ProgramData, dual_release_0500),
                                              offsetof(ProgramData, dual_option_bit0)};
constexpr ByteRange ft2232_fields_cleared = {offsetof(ProgramData, dual_option_bit2),
                                             offsetof(ProgramData, dual_w0_bit11) + 1};

extern const ChipLayout ft232b_layout;

// The internal or 64-word part of the FT232B family and the FT232R: nothing to probe or
// move, and the FT232B block of a record decoded alike.
class FixedPartLayout : public TFtE2Data {
public:
    using TFtE2Data::TFtE2Data;

    bool ProbeEepromType() override;
    void FitImageToEeprom() override;

protected:
    void DecodeChipWords(ProgramData &record) const override;
};

class TFtEE232 : public FixedPartLayout {
public:
    TFtEE232() : FixedPartLayout(ft232b_layout) {}
    explicit TFtEE232(const device::HandleRecord &record) : FixedPartLayout(record, ft232b_layout) {}

protected:
    // The release number follows the record's flag.
    void StoreChipWords(const ProgramData *record) override;
};

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT232B_H
