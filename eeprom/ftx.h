// The FT-X series image: the chip's whole 1024-word configuration memory, with the
// settings and strings in the first 128 words and user data in two stretches that
// reprogramming keeps.
#ifndef CORVANE_EEPROM_FTX_H
#define CORVANE_EEPROM_FTX_H

#include "eeprom/image.h"

namespace corvane::eeprom {

constexpr int ftx_first_string = 0xA0;
// The strings end before the checksum word.
constexpr int ftx_strings_end = 0xFE;
constexpr uint8_t ftx_mux_max = 21;
constexpr uint16_t ftx_part_code = 0x5831;

class TFtEEFTX : public TFtE2Data {
public:
    TFtEEFTX();
    explicit TFtEEFTX(const device::HandleRecord &record);

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
    FtdevStatus ProgramSettings(const SettingsHeader &settings, const Texts &texts) override;
    FtdevStatus ReadSettings(SettingsHeader &settings, const TextBuffers &buffers) override;

    // Whether the three descriptors fit between the first string offset and the checksum.
    static bool StringsFitStringArea(const char *manufacturer, const char *description, const char *serial);

private:
    // Reads the words this class does not own from the device into the image; false at
    // the first word the device refuses.
    bool ReadKeptWords();
    void PlaceStringDescriptors(const char *manufacturer, const char *description, const char *serial);
};

// FT_EE_Program's step for this class, should the record functions ever reach it: the
// class builds nothing from a record.
void encode_ftx_record(TFtE2Data &layout, const ProgramData &record);

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FTX_H
