// The few libusb-1.0 operations the real-hardware transport uses, in the project's own
// types, so that everything above them (listing, claiming, packet handling) can be run
// against a fake in the unit tests. transport.cpp fills this over libusb itself.
//
// Asynchronous transfers follow libusb's model: a transfer is allocated once, submitted
// many times, and completes inside handle_events() on whichever thread handles events;
// completion is published by storing 1 into UsbTransfer::done (release order) after
// result and actual are written.
#ifndef CORVANE_USB_LIBUSB_SEAM_H
#define CORVANE_USB_LIBUSB_SEAM_H

#include "usb/transport.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane::usb {

// What a library call or a transfer came to.
enum class UsbResult {
    ok,
    timeout,
    no_device,     // unplugged (or re-enumerated away)
    busy,          // the interface is claimed through another handle or program
    access,        // the operating system refuses us the device (permissions)
    not_found,     // e.g. no kernel driver bound to detach
    not_supported, // the platform cannot do this (kernel driver calls on some systems)
    stall,
    overflow,  // the device sent more than the transfer could take
    cancelled, // a transfer ended by cancel()
    io_error,
};

enum class EndpointKind : uint8_t { control, isochronous, bulk, interrupt };

struct EndpointRecord {
    uint8_t address = 0; // bit 7 set: IN
    EndpointKind kind = EndpointKind::bulk;
    uint16_t max_packet_size = 0; // wMaxPacketSize as the descriptor holds it
};

struct InterfaceRecord {
    uint8_t number = 0;
    std::vector<EndpointRecord> endpoints;
};

// One attached device as its descriptors describe it; reading it moves nothing on the bus.
struct DeviceRecord {
    uint8_t bus = 0;
    std::vector<uint8_t> ports; // from the root hub down
    uint8_t address = 0;        // changes when the device enumerates again
    uint16_t vendor_id = 0;
    uint16_t product_id = 0;
    uint16_t bcd_device = 0;
    uint8_t manufacturer_index = 0; // string descriptor indexes; 0 for none
    uint8_t product_index = 0;
    uint8_t serial_index = 0;
    bool configured = false;                 // the active configuration could be read
    std::vector<InterfaceRecord> interfaces; // of the active configuration, by number
};

// One transfer, allocated once per channel and submitted again and again.
class UsbTransfer {
public:
    virtual ~UsbTransfer() = default;

    // Starts moving `length` bytes at `buffer` with no time-out of its own (the caller
    // cancels). The buffer must stay valid until `done` reads 1.
    virtual UsbResult submit(uint8_t *buffer, size_t length) = 0;

    // Asks for an early end; the completion still comes through handle_events().
    virtual void cancel() = 0;

    bool is_done() const { return std::atomic_ref<int>(const_cast<int &>(done)).load(std::memory_order_acquire) != 0; }
    // Written by the completing side: result and actual first, then done.
    void complete(UsbResult how, size_t moved)
    {
        result = how;
        actual = moved;
        std::atomic_ref<int>(done).store(1, std::memory_order_release);
    }
    void mark_submitted() { std::atomic_ref<int>(done).store(0, std::memory_order_relaxed); }

    // A plain int because libusb's event loop watches it (libusb_handle_events_timeout_completed).
    alignas(std::atomic_ref<int>::required_alignment) int done = 1;
    UsbResult result = UsbResult::ok;
    size_t actual = 0;
};

// An open device. Several threads may call it at once.
class UsbHandle {
public:
    virtual ~UsbHandle() = default;

    // String descriptor `index` (not 0) as ASCII.
    virtual UsbResult string_descriptor(uint8_t index, std::string &text) = 0;

    // Whether an operating-system driver holds the interface (false where we cannot tell).
    virtual UsbResult kernel_driver_active(uint8_t interface, bool &active) = 0;
    virtual UsbResult detach_kernel_driver(uint8_t interface) = 0;
    virtual UsbResult attach_kernel_driver(uint8_t interface) = 0;
    virtual UsbResult claim_interface(uint8_t interface) = 0;
    virtual UsbResult release_interface(uint8_t interface) = 0;

    // A synchronous control transfer on the default pipe.
    virtual UsbResult control(const ControlSetup &setup, uint8_t *data, unsigned timeout_ms, size_t *transferred) = 0;

    virtual UsbResult reset_device() = 0;

    // Clears a halt (stall) on a bulk endpoint, so that transfers on it move again.
    virtual UsbResult clear_halt(uint8_t endpoint) = 0;

    // A bulk transfer on `endpoint` (bit 7 set for IN); nullptr when none can be made.
    virtual std::unique_ptr<UsbTransfer> make_bulk_transfer(uint8_t endpoint) = 0;

    // Handles completions (on this thread or by waiting for the thread that does) for at
    // most timeout_ms, returning early once `watched` completes (nullptr: any event).
    virtual void handle_events(unsigned timeout_ms, UsbTransfer *watched) = 0;

    // Makes every thread now in handle_events() (for any device of the library) return
    // early, or the next one to enter it when none is there yet.
    virtual void interrupt_events() = 0;
};

class UsbLibrary {
public:
    virtual ~UsbLibrary() = default;

    // Every attached device; an empty list and ok when the library could not start.
    virtual UsbResult list(std::vector<DeviceRecord> &devices) = 0;

    // Opens the device that `device` describes (same bus, ports and address) without
    // claiming any interface.
    virtual UsbResult open(const DeviceRecord &device, std::unique_ptr<UsbHandle> &handle) = 0;
};

// The real-hardware transport over any library: the one transport.cpp makes, or a
// fake in the tests.
std::unique_ptr<Transport> make_libusb_transport(std::shared_ptr<UsbLibrary> library);

} // namespace corvane::usb

#endif // CORVANE_USB_LIBUSB_SEAM_H
