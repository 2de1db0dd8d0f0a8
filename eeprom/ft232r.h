// The FT232R's internal 64-word image.
#ifndef CORVANE_EEPROM_FT232R_H
#define CORVANE_EEPROM_FT232R_H

#include "eeprom/image.h"

namespace corvane::eeprom {

constexpr int ft232r_first_string = 24;
constexpr uint8_t ft232r_select_max = 12;
constexpr uint8_t ft232r_programmed_byte1 = 0x40;   // what every programmed image holds in byte 1

extern const ChipLayout ft232r_layout;

class TFtEE232R : public TFtE2Data {
public:
    TFtEE232R();
    TFtEE232R(const device::HandleRecord &record, FtdevHandle handle);

    // The device handle the object was made for, for the latency timer calls.
    FtdevHandle handle = nullptr;

    bool ProbeEepromType() override;
    void FitImageToEeprom() override;

    // Word 0x42 of the device, outside the 64 image words: 0, or 11 when it cannot be read.
    FtdevStatus ReadFactoryWord(uint16_t &value);

protected:
    void StoreChipWords(const ProgramData *record) override;
    void DecodeChipWords(ProgramData &record) const override;
    FtdevStatus WriteSettingsImage() override;
};

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT232R_H
