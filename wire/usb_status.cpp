#include "wire/usb_types.h"

namespace corvane::usb {

const char *status_name(Status status)
{
    switch (status) {
    case Status::ok: return "ok";
    case Status::timeout: return "timed out";
    case Status::no_device: return "no such device";
    case Status::busy: return "busy";
    case Status::stall: return "refused by the device";
    case Status::io_error: return "input/output error";
    case Status::not_supported: return "not supported";
    case Status::invalid: return "invalid argument";
    }
    return "unknown status";
}

} // namespace corvane::usb
