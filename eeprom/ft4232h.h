// The FT4232H image: the FT2232H image with four driver-type bits in word 0 and four
// more option flags in word 5.
#ifndef CORVANE_EEPROM_FT4232H_H
#define CORVANE_EEPROM_FT4232H_H

#include "eeprom/high_speed_dual_quad.h"

namespace corvane::eeprom {

class TFtEE4232H : public HighSpeedLayout {
public:
    TFtEE4232H();
    explicit TFtEE4232H(const device::HandleRecord &record);

    void EncodeImage(const ChipOptions &options) override;
    FtdevStatus DecodeImage(ProgramData &record) override;
    FtdevStatus ProgramSettings(const SettingsHeader &settings, const Texts &texts) override;
    FtdevStatus ReadSettings(SettingsHeader &settings, const TextBuffers &buffers) override;
};

void encode_ft4232h_record(TFtE2Data &layout, const ProgramData &record);

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT4232H_H
