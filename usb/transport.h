// The USB transports under the bus driver stand-in.
//
// A transport lists the FTDI devices it can reach and opens one channel (USB interface)
// of a device at a time. Each transport is one file filling this whole interface:
// libusb/transport.cpp (real devices), vbus/client.cpp (corvane-sim over a socket),
// vbus/inproc.cpp (a sim::VirtualBus in this process, for unit tests) and
// null_transport.cpp (nothing to list; takes libusb's place when it is not built).
// The driver cannot tell a virtual device from a chip except through
// DeviceIdentity::virtual_model.
#ifndef CORVANE_USB_TRANSPORT_H
#define CORVANE_USB_TRANSPORT_H

#include "wire/usb_types.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::usb {

// One claimed channel of one device. Destroying it releases the claim (and gives back
// whatever the transport took from the operating system).
//
// Calls on one Channel may come from two threads at once: the driver's reading task
// sits in bulk_in while another thread sends control requests or bulk_out.
class Channel {
public:
    virtual ~Channel() = default;

    // A control transfer on the default pipe. `data` holds setup.length bytes (in or out).
    virtual Status control(const ControlSetup &setup, uint8_t *data, unsigned timeout_ms, uint16_t *transferred) = 0;

    // Bulk OUT: the bytes as they are. `transferred` says what went, also on failure.
    virtual Status bulk_out(const uint8_t *data, size_t size, unsigned timeout_ms, size_t *transferred) = 0;

    // Bulk IN: whole raw packets, each at most packet_size bytes and each starting with
    // the chip's two status bytes, back to back. Returns as soon as a short packet ends
    // the transfer or `size` is filled, or at the time-out with what came (Status::timeout
    // when nothing came). `size` is a multiple of the packet size.
    virtual Status bulk_in(uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred) = 0;

    // Forgets the IN data the transport fetched ahead of its caller, whether it holds it
    // or it is still on its way: the chip's receive buffer was just purged or reset, so
    // none of it may reach the caller. Safe while another thread sits in bulk_in: the
    // packets bulk_in hands out after this returns were all fetched after it was called,
    // and a bulk_in that was waiting may end early, with nothing (Status::timeout).
    virtual void discard_in() {}

    // The channel is about to close: a bulk_in waiting in another thread returns at once
    // (Status::timeout, with what it had), and later ones do not wait.
    virtual void stop_in() {}

    // The bulk_in under way in another thread returns at once, with what it has
    // (Status::timeout when nothing); when none is under way, the next one does. After a
    // purge the driver waits for its reading task's transfer to end, and that transfer
    // would otherwise wait for the chip's next bytes, or a latency period for nothing.
    virtual void cut_in() {}

    // bulk_in without the copy: `*packets` points at the packets where the transport
    // holds them, valid until this channel's next bulk_in or bulk_in_view. A transport
    // that has no memory of its own to show reads into `scratch` (at least `size` bytes).
    virtual Status bulk_in_view(uint8_t *scratch, size_t size, unsigned timeout_ms, const uint8_t **packets,
                                size_t *transferred)
    {
        *packets = scratch;
        return bulk_in(scratch, size, timeout_ms, transferred);
    }

    // USB port reset of the whole device.
    virtual Status reset_device() = 0;

    // The device leaves the bus and comes back (cycle port); it re-reads its identity.
    // Every channel of it, this one included, then answers Status::no_device.
    virtual Status reenumerate() = 0;
};

class Transport {
public:
    virtual ~Transport() = default;

    // Short name used in device paths ("usb", "vbus", "inproc").
    virtual std::string_view name() const = 0;

    // The attached FTDI devices, in a stable (topology) order.
    virtual Status list(std::vector<DeviceIdentity> &devices) = 0;

    // Claims channel `channel` (1 = A) of device `id`. Status::busy when another
    // client or program holds it; Status::no_device when the id is not listed.
    virtual Status open(const std::string &id, unsigned channel, std::unique_ptr<Channel> &out) = 0;

    // Restarts device `id`: it leaves the bus and comes back, re-reading its identity, as
    // Channel::reenumerate does. Status::busy when a channel of it is claimed (a device in
    // use is not pulled from under its user); Status::no_device when it is not listed.
    // The default claims every channel first and re-enumerates through the first.
    virtual Status reenumerate(const std::string &id);
};

// The transports the platform looks at, in order: real USB (unless CORVANE_USB=off or not
// built), then a test's in-process bus if one is installed, then corvane-sim at the
// virtual bus address. Owned by the registry; valid until the next set_test_transport.
std::vector<Transport *> transports();

// Unit tests put an in-process virtual bus in front of the socket one (nullptr removes it).
void set_test_transport(std::unique_ptr<Transport> transport);

} // namespace corvane::usb

#endif // CORVANE_USB_TRANSPORT_H
