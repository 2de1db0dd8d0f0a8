// The USB words the transports, the driver and the device models share: what a transfer
// ended with, a device as a bus lists it, and a control request's setup stage.
#ifndef CORVANE_WIRE_USB_TYPES_H
#define CORVANE_WIRE_USB_TYPES_H

#include <cstdint>
#include <string>

namespace corvane::usb {

enum class Status : int {
    ok = 0,
    timeout,       // nothing (more) moved before the time-out; the transferred count says what did
    no_device,     // the device is gone (unplugged, simulator ended, connection lost)
    busy,          // the channel is claimed by another client or program
    stall,         // the device refused the request (a STALL on a control transfer)
    io_error,      // any other transfer failure
    not_supported, // the transport or device cannot do this
    invalid,       // malformed arguments (bad channel, oversized length)
};

const char *status_name(Status status);

// One USB device as a transport lists it. Stable while the device stays plugged in.
struct DeviceIdentity {
    std::string id; // unique within its transport, stable while plugged in ("3", "1-2.4")
    uint16_t vendor_id = 0;
    uint16_t product_id = 0;
    uint16_t bcd_device = 0;  // tells the chip family (wire/ftdi_protocol.h)
    std::string manufacturer; // USB string descriptors, as the device gives them
    std::string product;
    std::string serial;
    uint8_t channels = 1;      // interfaces; channel k (1 = A) is interface k-1
    uint16_t packet_size = 64; // bulk IN wMaxPacketSize: 64 at full speed, 512 at high speed
    // Bus topology with the low hexadecimal digit 0; the driver adds the channel number.
    uint32_t location = 0;
    // The device is a model of sim/: it also serves the EEPROM configuration byte and
    // error-correction word requests, which have no public vendor request on real chips.
    bool virtual_model = false;
    // Test setting of the model: the driver understands only the alternate request codes.
    bool alternate_codes_only = false;
};

struct ControlSetup {
    uint8_t request_type = 0; // 0x40 host to device (vendor), 0xC0 device to host
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0; // bytes of the data stage
};

} // namespace corvane::usb

#endif // CORVANE_WIRE_USB_TYPES_H
