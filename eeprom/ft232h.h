// The FT232H image on its external EEPROM: 128 words, the strings moved to the upper
// half on a 128- or 256-word part and the user area split around them.
#ifndef CORVANE_EEPROM_FT232H_H
#define CORVANE_EEPROM_FT232H_H

#include "eeprom/image.h"

namespace corvane::eeprom {

constexpr int ft232h_first_string = 0x20;
constexpr uint8_t ft232h_mux_max = 12;

class TFtEE232H : public TFtE2Data {
public:
    TFtEE232H();
    explicit TFtEE232H(const device::HandleRecord &record);

    bool ReadImage() override;
    int UserAreaStart() override;
    int UserAreaSize() override;
    bool WriteUserArea(const uint8_t *bytes, uint32_t count) override;
    void ReadUserArea(uint8_t *buffer, uint32_t count, uint32_t &got) override;
    void EncodeImage(const ChipOptions &options) override;
    FtdevStatus DecodeImage(ProgramData &record) override;
    bool ProbeEepromType() override;
    void FitImageToEeprom() override;
    FtdevStatus ProgramSettings(const SettingsHeader &settings, const Texts &texts) override;
    FtdevStatus ReadSettings(SettingsHeader &settings, const TextBuffers &buffers) override;

    // A 128- or 256-word part, or the code some images carry for one: strings in the
    // upper half.
    bool large_part() const;

private:
    // Word index of the user area's piece behind the moved strings, 0 when there is none.
    int UpperPieceStart() const;
    // Word 0, word 6, the mux bytes, the part code and the fixed byte 0x8A.
    void StoreChipWords(uint16_t word0, uint16_t word6, const uint8_t (&mux)[10]);
};

void encode_ft232h_record(TFtE2Data &layout, const ProgramData &record);

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT232H_H
