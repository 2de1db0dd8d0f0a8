// The client side of the virtual bus: corvane-sim's devices, reached over its socket.
#ifndef CORVANE_USB_VBUS_CLIENT_H
#define CORVANE_USB_VBUS_CLIENT_H

#include "usb/transport.h"

#include <memory>
#include <string>

namespace corvane::usb {

// A transport that talks to corvane-sim at `address` (a Unix socket path). A simulator
// that is not running means no devices, not an error.
std::unique_ptr<Transport> make_vbus_client(const std::string &address);

} // namespace corvane::usb

#endif // CORVANE_USB_VBUS_CLIENT_H
