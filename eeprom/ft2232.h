// The FT2232 image on its external EEPROM: 64 words, or on a 128- or 256-word part the
// strings moved to the upper half and the user area split in two.
#ifndef CORVANE_EEPROM_FT2232_H
#define CORVANE_EEPROM_FT2232_H

#include "eeprom/external_eeprom.h"

namespace corvane::eeprom {

constexpr int ft2232_first_string = 22;
constexpr uint16_t ft2232_product_id = 0x6010;

class TFtEE2232 : public ExternalEepromLayout {
public:
    TFtEE2232();
    explicit TFtEE2232(const device::HandleRecord &record);

    bool ReadImage() override;
    int UserAreaStart() override;
    void EncodeImage(const ChipOptions &options) override;
    FtdevStatus DecodeImage(ProgramData &record) override;
    void FitImageToEeprom() override;
    FtdevStatus ProgramSettings(const SettingsHeader &settings, const Texts &texts) override;
    FtdevStatus ReadSettings(SettingsHeader &settings, const TextBuffers &buffers) override;
};

void encode_ft2232_record(TFtE2Data &layout, const ProgramData &record);

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT2232_H
