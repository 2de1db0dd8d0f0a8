#include "driver/errors.h"

#include "win32/types.h"

namespace corvane::driver {

uint32_t win32_error(usb::Status status)
{
    switch (status) {
    case usb::Status::ok: return ERROR_SUCCESS;
    case usb::Status::timeout: return ERROR_SEM_TIMEOUT;
    case usb::Status::no_device: return ERROR_DEVICE_NOT_CONNECTED;
    case usb::Status::busy: return ERROR_SHARING_VIOLATION;
    // A stall is the chip refusing the request: the caller asked for something it cannot do.
    case usb::Status::stall: return ERROR_GEN_FAILURE;
    case usb::Status::io_error: return ERROR_GEN_FAILURE;
    case usb::Status::not_supported: return ERROR_NOT_SUPPORTED;
    case usb::Status::invalid: return ERROR_INVALID_PARAMETER;
    }
    return ERROR_GEN_FAILURE;
}

} // namespace corvane::driver
