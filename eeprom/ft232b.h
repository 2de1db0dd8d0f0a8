// The 64-word image of the FT232B family, also used for every device type without a
// layout of its own.
#ifndef CORVANE_EEPROM_FT232B_H
#define CORVANE_EEPROM_FT232B_H

#include "eeprom/image.h"

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

class TFtEE232 : public TFtE2Data {
public:
    TFtEE232();
    explicit TFtEE232(const device::HandleRecord &record);

    bool ProbeEepromType() override;
    void FitImageToEeprom() override;

protected:
    void StoreChipWords(const ProgramData *record) override;
    void DecodeChipWords(ProgramData &record) const override;
};

// The internal or 64-word part of the FT232B family and the FT232R: nothing to probe.
void set_64_word_part(TFtE2Data &image);

// The FT232B block of a record from an image; the FT232R decodes it the same way.
void decode_ft232b_block(const TFtE2Data &image, ProgramData &record);

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT232B_H
