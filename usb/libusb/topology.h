// Names and numbers that the real-hardware transport derives from where a device sits on
// the bus: its id ("1-2.3", as Linux names it), its location identifier and the listing
// order.
#ifndef CORVANE_USB_LIBUSB_TOPOLOGY_H
#define CORVANE_USB_LIBUSB_TOPOLOGY_H

#include <cstdint>
#include <span>
#include <string>

namespace corvane::usb {

// "<bus>-<port>.<port>..." in decimal; "<bus>-0" for a device without port numbers.
std::string topology_id(uint8_t bus, std::span<const uint8_t> ports);

// The bus number and then each port number as one hexadecimal digit, followed by a 0
// digit for the channel: bus 1, ports 2.3 give 0x1230. When that does not fit (a bus or
// port above 15, more than 6 ports, or no port numbers) the location is the digit F, the
// bus in two digits, 00, the device address in two digits and 0 (bus 0x12, address 5:
// 0xF1200050): unique among attached devices, though it changes when the device is
// plugged in again.
uint32_t topology_location(uint8_t bus, std::span<const uint8_t> ports, uint8_t address);

// Orders devices by bus and then port path, so that a listing does not depend on the
// order in which the operating system found them.
bool topology_before(uint8_t bus_a, std::span<const uint8_t> ports_a, uint8_t bus_b, std::span<const uint8_t> ports_b);

} // namespace corvane::usb

#endif // CORVANE_USB_LIBUSB_TOPOLOGY_H
