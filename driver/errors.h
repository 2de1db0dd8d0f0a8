// How a transport's outcome reaches the platform: as a Win32 error code.
#ifndef CORVANE_DRIVER_ERRORS_H
#define CORVANE_DRIVER_ERRORS_H

#include "usb/transport.h"

#include <cstdint>

namespace corvane::driver {

// The Win32 error code for a transport status (ERROR_SUCCESS for Status::ok).
uint32_t win32_error(usb::Status status);

} // namespace corvane::driver

#endif // CORVANE_DRIVER_ERRORS_H
