// The FT232R's internal 64-word image.
#ifndef CORVANE_EEPROM_FT232R_H
#define CORVANE_EEPROM_FT232R_H

#include "eeprom/ft232b.h"

namespace corvane::eeprom {

constexpr int ft232r_first_string = 24;
constexpr uint8_t ft232r_select_max = 12;
constexpr uint8_t ft232r_programmed_byte1 = 0x40; // what every programmed image holds in byte 1

extern const ChipLayout ft232r_layout;

class TFtEE232R : public FixedPartLayout {
public:
    TFtEE232R() : FixedPartLayout(ft232r_layout) {}
    TFtEE232R(const device::HandleRecord &record, FtdevHandle handle_)
        : FixedPartLayout(record, ft232r_layout), handle(handle_)
    {}

    // The device handle the object was made for, for the latency timer calls.
    FtdevHandle handle = nullptr;

    // Word 0x42 of the device, outside the 64 image words: 0, or 11 when it cannot be read.
    FtdevStatus ReadFactoryWord(uint16_t &value);

protected:
    // Bit 0 of word 0 from the factory word (record path), byte 1 (settings path).
    void StoreChipWords(const ProgramData *record) override;
    // The write bracketed by a raised latency timer.
    FtdevStatus WriteSettingsImage() override;
};

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT232R_H
