// The pin-group nibble of the high-speed chips and the FT-X series: a drive current, a
// slow-slew flag and a Schmitt-trigger flag in four bits.
#ifndef CORVANE_EEPROM_PIN_GROUP_H
#define CORVANE_EEPROM_PIN_GROUP_H

#include <cstdint>

namespace corvane::eeprom {

struct PinGroup {
    uint8_t slow_slew;
    uint8_t schmitt;
    uint8_t drive; // mA: 4, 8, 12 or 16
};

// 4, 8, 12 and 16 mA are codes 0 to 3; any other current is stored as the weakest.
inline uint8_t drive_code(uint8_t milliamps)
{
    switch (milliamps) {
    case 8: return 1;
    case 12: return 2;
    case 16: return 3;
    default: return 0;
    }
}

inline uint8_t drive_current(unsigned code)
{
    return static_cast<uint8_t>(4 + 4 * (code & 3u));
}

// Drive code in bits 0-1, slew in bit 2, Schmitt in bit 3; flags set when non-zero.
inline uint16_t pin_group_nibble(const PinGroup &group)
{
    return static_cast<uint16_t>(drive_code(group.drive) | (group.slow_slew ? 0x4 : 0) | (group.schmitt ? 0x8 : 0));
}

// Flags read back as 0 or 1.
inline PinGroup pin_group_from_nibble(unsigned nibble)
{
    return {static_cast<uint8_t>(nibble >> 2 & 1u), static_cast<uint8_t>(nibble >> 3 & 1u), drive_current(nibble)};
}

} // namespace corvane::eeprom

#endif // CORVANE_EEPROM_PIN_GROUP_H
