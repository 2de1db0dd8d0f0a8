// The FT-X series image: the chip's whole 1024-word configuration memory, with the
// settings and strings in the first 128 words and user data in two stretches that
// reprogramming keeps.
#ifndef CORVANE_EEPROM_FTX_H
#define CORVANE_EEPROM_FTX_H

#include "eeprom/field_table.h"

namespace corvane::eeprom {

constexpr int ftx_first_string = 0xA0;
// The strings end before the checksum word.
constexpr int ftx_strings_end = 0xFE;
constexpr uint8_t ftx_mux_max = 21;
constexpr uint16_t ftx_part_code = 0x5831;

extern const ChipLayout ftx_layout;

class TFtEEFTX : public TFtE2Data {
public:
    TFtEEFTX() : TFtE2Data(ftx_layout) {}
    explicit TFtEEFTX(const device::HandleRecord &record) : TFtE2Data(record, ftx_layout) {}

    bool ReadImage() override;
    void UpdateChecksum() override;
    int UserAreaStart() override;
    int UserAreaSize() override;
    bool WriteUserArea(const uint8_t *bytes, uint32_t count) override;
    void ReadUserArea(uint8_t *buffer, uint32_t count, uint32_t &got) override;
    // The record functions do not serve this chip: building and decoding do nothing.
    void EncodeImage(const ChipOptions &options) override;
    FtdevStatus DecodeImage(ProgramData &record) override;
    bool ProbeEepromType() override;
    void FitImageToEeprom() override;

protected:
    // In place of the probe: the words this class does not own, from the device into the
    // image; false at the first word the device refuses.
    bool PrepareSettingsImage() override;
    // The strings end before the checksum word, with no empty descriptor or tail word
    // behind them.
    void FinishImage() override;
};

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FTX_H
