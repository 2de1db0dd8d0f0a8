// The baud rate divisor of each chip family.
#ifndef CORVANE_DRIVER_BAUD_RATE_H
#define CORVANE_DRIVER_BAUD_RATE_H

#include "driver/chip_family.h"

#include <cstdint>
#include <optional>

namespace corvane::driver {

struct BaudDivisor {
    uint32_t encoded = 0;     // integer in bits 0-13, fraction code in 14-16, clock in 17
    uint32_t actual_rate = 0; // the rate the chip runs at with it
};

// The divisor that comes closest to `baud` on this family, or nothing when no divisor
// comes within 3 % of it (the chip maker's own limit).
std::optional<BaudDivisor> choose_baud_divisor(Family family, uint32_t baud);

// The rate the chip runs at with an encoded divisor, however it was chosen.
uint32_t rate_of_divisor(uint32_t encoded);

// wValue and wIndex of the baud rate request for an encoded divisor.
struct BaudRequestFields {
    uint16_t value = 0;
    uint16_t index = 0;
};
BaudRequestFields baud_request_fields(uint32_t encoded, bool index_carries_channel, unsigned channel);

} // namespace corvane::driver

#endif // CORVANE_DRIVER_BAUD_RATE_H
