// Placeholder until the socket client lands: a simulator that cannot be reached means
// no virtual devices.
#include "usb/null_transport.h"
#include "usb/vbus_client.h"

namespace corvane::usb {

std::unique_ptr<Transport> make_vbus_client(const std::string &) {
    return make_null_transport("vbus");
}

} // namespace corvane::usb
