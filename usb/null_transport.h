// The transport that reaches nothing: stands where a real transport is not built.
#ifndef CORVANE_USB_NULL_TRANSPORT_H
#define CORVANE_USB_NULL_TRANSPORT_H

#include "usb/transport.h"

#include <memory>
#include <string_view>

namespace corvane::usb {

std::unique_ptr<Transport> make_null_transport(std::string_view name);

} // namespace corvane::usb

#endif // CORVANE_USB_NULL_TRANSPORT_H
