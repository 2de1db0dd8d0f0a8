// The 64-word image of the FT232B family, also used for every device type without a
// layout of its own.
#ifndef CORVANE_EEPROM_FT232B_H
#define CORVANE_EEPROM_FT232B_H

#include "eeprom/image.h"

namespace corvane::eeprom {

constexpr int ft232b_first_string = 20;
constexpr uint16_t ft232b_product_id = 0x6001;

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
