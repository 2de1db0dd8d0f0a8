// The 64-word image of the FT232B family, also used for every device type without a
// layout of its own.
#ifndef CORVANE_EEPROM_FT232B_H
#define CORVANE_EEPROM_FT232B_H

#include "eeprom/image.h"

namespace corvane::eeprom {

constexpr int ft232b_first_string = 20;
constexpr uint16_t ftdi_vendor_id = 0x0403;
constexpr uint16_t ft232b_product_id = 0x6001;

class TFtEE232 : public TFtE2Data {
public:
    TFtEE232();
    explicit TFtEE232(const device::HandleRecord &record);

    void EncodeImage(const ChipOptions &options) override;
    FtdevStatus DecodeImage(ProgramData &record) override;
    bool ProbeEepromType() override;
    void FitImageToEeprom() override;
    FtdevStatus ProgramSettings(const SettingsHeader &settings, const Texts &texts) override;
    FtdevStatus ReadSettings(SettingsHeader &settings, const TextBuffers &buffers) override;
};

// The internal or 64-word part of the FT232B family and the FT232R: nothing to probe.
void set_64_word_part(TFtE2Data &image);

// The FT232B block of a record from an image, and the FT2232 fields that a reader of
// these images reports as clear (the FT232R decodes the same way).
void decode_ft232b_block(const TFtE2Data &image, ProgramData &record);

// FT_EE_Program's block for this class, handed to EncodeImage.
void encode_ft232b_record(TFtE2Data &layout, const ProgramData &record);

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT232B_H
