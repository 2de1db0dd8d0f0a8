// The FT232H image on its external EEPROM: 128 words, the strings moved to the upper
// half on a 128- or 256-word part and the user area split around them.
#ifndef CORVANE_EEPROM_FT232H_H
#define CORVANE_EEPROM_FT232H_H

#include "eeprom/field_table.h"

namespace corvane::eeprom {

constexpr int ft232h_first_string = 0x20;
constexpr uint8_t ft232h_mux_max = 12;

extern const ChipLayout ft232h_layout;

class TFtEE232H : public TFtE2Data {
public:
    TFtEE232H() : TFtE2Data(ft232h_layout) {}
    explicit TFtEE232H(const device::HandleRecord &record) : TFtE2Data(record, ft232h_layout) {}

    bool ReadImage() override;
    int UserAreaStart() override;
    int UserAreaSize() override;
    bool WriteUserArea(const uint8_t *bytes, uint32_t count) override;
    void ReadUserArea(uint8_t *buffer, uint32_t count, uint32_t &got) override;
    bool ProbeEepromType() override;
    void FitImageToEeprom() override;

    // A 128- or 256-word part, or the code some images carry for one: strings in the
    // upper half.
    bool large_part() const;

protected:
    // The part code and the fixed byte 0x8A.
    void StoreChipWords(const ProgramData *record) override;

private:
    // Word index of the user area's piece behind the moved strings, 0 when there is none.
    int UpperPieceStart() const;
};

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT232H_H
