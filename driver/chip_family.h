// What the driver needs to know about each chip family beyond the shared protocol table:
// the differences between families, one line of why each.
#ifndef CORVANE_DRIVER_CHIP_FAMILY_H
#define CORVANE_DRIVER_CHIP_FAMILY_H

#include "wire/ftdi_protocol.h"

namespace corvane::driver {

using usb::ftdi::Family;

// The high-speed chips also divide a 12 MHz clock, which reaches rates above 3 Mbaud.
constexpr bool has_high_baud_clock(Family family)
{
    return family == Family::ft2232h || family == Family::ft4232h || family == Family::ft232h;
}

// The oldest parts have only the halves, quarters and eighths of the divisor fraction.
constexpr bool has_coarse_divisor_fraction(Family family)
{
    return family == Family::am;
}

// Chips of several channels, and the FT232H, put the channel in the low byte of the baud
// rate request's index and the divisor's upper bits in its high byte.
constexpr bool baud_index_carries_channel(Family family, unsigned channels)
{
    return channels > 1 || family == Family::ft2232c || family == Family::ft2232h || family == Family::ft4232h ||
           family == Family::ft232h;
}

// The oldest parts keep their latency timer fixed and have no bit modes.
constexpr bool has_latency_timer(Family family)
{
    return family != Family::am;
}
constexpr bool has_bit_modes(Family family)
{
    return family != Family::am;
}

} // namespace corvane::driver

#endif // CORVANE_DRIVER_CHIP_FAMILY_H
