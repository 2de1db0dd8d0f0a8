// The FT4232H image: the FT2232H image with four driver-type bits in word 0 and four
// more option flags in word 5.
#ifndef CORVANE_EEPROM_FT4232H_H
#define CORVANE_EEPROM_FT4232H_H

#include "eeprom/high_speed_dual_quad.h"

namespace corvane::eeprom {

extern const ChipLayout ft4232h_layout;

class TFtEE4232H : public HighSpeedLayout {
public:
    TFtEE4232H();
    explicit TFtEE4232H(const device::HandleRecord &record);
};

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_FT4232H_H
