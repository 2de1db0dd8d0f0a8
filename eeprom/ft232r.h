// The FT232R's internal 64-word image.
#ifndef CORVANE_EEPROM_FT232R_H
#define CORVANE_EEPROM_FT232R_H

#include "eeprom/image.h"

namespace corvane::eeprom {

constexpr int ft232r_first_string = 24;
constexpr uint8_t ft232r_select_max = 12;

class TFtEE232R : public TFtE2Data {
public:
    TFtEE232R();
    TFtEE232R(const device::HandleRecord &record, FtdevHandle handle);

    // The device handle the object was made for, for the latency timer calls.
    FtdevHandle handle = nullptr;

    void EncodeImage(const ChipOptions &options) override;
    FtdevStatus DecodeImage(ProgramData &record) override;
    bool ProbeEepromType() override;
    void FitImageToEeprom() override;
    FtdevStatus ProgramSettings(const SettingsHeader &settings, const Texts &texts) override;
    FtdevStatus ReadSettings(SettingsHeader &settings, const TextBuffers &buffers) override;

    // Word 0x42 of the device, outside the 64 image words: 0, or 11 when it cannot be read.
    FtdevStatus ReadFactoryWord(uint16_t &value);
};

void encode_ft232r_record(TFtE2Data &layout, const ProgramData &record);

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT232R_H
