// The version this bus driver stand-in reports for itself (request 111).
#ifndef CORVANE_DRIVER_DRIVER_VERSION_H
#define CORVANE_DRIVER_DRIVER_VERSION_H

#include <cstdint>

namespace corvane::driver {

// Major, minor and build number, one byte each from the third byte down: 1.00.00.
constexpr uint32_t driver_version = 0x00010000u;

} // namespace corvane::driver

#endif // CORVANE_DRIVER_DRIVER_VERSION_H
