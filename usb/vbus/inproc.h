// The in-process transport: a sim::VirtualBus of this process, for unit tests (no daemon).
#ifndef CORVANE_USB_VBUS_INPROC_H
#define CORVANE_USB_VBUS_INPROC_H

#include "sim/virtual_bus.h"
#include "usb/transport.h"

#include <memory>

namespace corvane::usb {

// A transport named "inproc" over `bus`, which must outlive it. Every opened Channel holds
// its claim as a bus client of its own and gives it back when destroyed, so a Channel left
// over from before a re-enumeration can never act on, or release, a later claim. Channels
// may outlive the transport: they then answer Status::no_device and leave the bus alone.
std::unique_ptr<Transport> make_inproc_transport(sim::VirtualBus &bus);

} // namespace corvane::usb

#endif // CORVANE_USB_VBUS_INPROC_H
