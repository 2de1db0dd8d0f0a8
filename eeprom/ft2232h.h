// The FT2232H image on its external EEPROM of 64, 128 or 256 words.
#ifndef CORVANE_EEPROM_FT2232H_H
#define CORVANE_EEPROM_FT2232H_H

#include "eeprom/high_speed_dual_quad.h"

namespace corvane::eeprom {

class TFtEE2232H : public HighSpeedLayout {
public:
    TFtEE2232H();
    explicit TFtEE2232H(const device::HandleRecord &record);

    void EncodeImage(const ChipOptions &options) override;
    FtdevStatus DecodeImage(ProgramData &record) override;
    FtdevStatus ProgramSettings(const SettingsHeader &settings, const Texts &texts) override;
    FtdevStatus ReadSettings(SettingsHeader &settings, const TextBuffers &buffers) override;
};

void encode_ft2232h_record(TFtE2Data &layout, const ProgramData &record);

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT2232H_H
