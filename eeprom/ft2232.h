// The FT2232 image on its external EEPROM: 64 words, or on a 128- or 256-word part the
// strings moved to the upper half and the user area split in two.
#ifndef CORVANE_EEPROM_FT2232_H
#define CORVANE_EEPROM_FT2232_H

#include "eeprom/external_eeprom.h"

namespace corvane::eeprom {

constexpr int ft2232_first_string = 22;
constexpr uint16_t ft2232_product_id = 0x6010;

extern const ChipLayout ft2232_layout;

class TFtEE2232 : public ExternalEepromLayout {
public:
    TFtEE2232() : ExternalEepromLayout(ft2232_layout) {}
    explicit TFtEE2232(const device::HandleRecord &record) : ExternalEepromLayout(record, ft2232_layout) {}

    int UserAreaStart() override;

protected:
    void DecodeChipWords(ProgramData &record) const override;
};

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT2232_H
