#include "eeprom/high_speed_dual_quad.h"

namespace corvane::eeprom {

// A damaged tail walk may end in the header or, with length bytes of 0xFF, walk back
// onto the serial descriptor it started from; user data never goes below the strings,
// where the part code and the chip's words lie, nor where it would move the user area
// on the next read.
int HighSpeedLayout::UserAreaStart()
{
    if (large_part())
        return high_speed_first_string / 2;
    const int start = BaseUserAreaStart();
    return start >= high_speed_first_string / 2 && 2 * start > serial_offset ? start : 0;
}

int HighSpeedLayout::UserAreaSize()
{
    if (!large_part() && UserAreaStart() == 0)
        return 0;
    return ExternalEepromLayout::UserAreaSize();
}

} // namespace corvane::eeprom
