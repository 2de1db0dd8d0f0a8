// The identifiers a USB node of the device tree carries, as the operating system would
// give them: its device instance ID and its hardware and compatible IDs.
#ifndef CORVANE_PLATFORM_USB_NODE_IDS_H
#define CORVANE_PLATFORM_USB_NODE_IDS_H

#include "usb/transport.h"

#include <string>
#include <vector>

namespace corvane::platform {

// "USB\ROOT_HUB20\<n>" for a bus that carries a high-speed device, "USB\ROOT_HUB\<n>"
// otherwise; `bus_number` tells the transports apart.
std::string root_hub_instance_id(unsigned bus_number, bool high_speed);
std::vector<std::string> root_hub_hardware_ids(bool high_speed);

// "USB\VID_vvvv&PID_pppp\<serial>", or "...\<bus>&<location>" when the serial number
// cannot stand in an instance ID (empty, a character that is not allowed, too long).
std::string device_instance_id(const usb::DeviceIdentity &device, unsigned bus_number);
// The same with the location form, for a device whose serial number another device has.
std::string device_instance_id_by_location(const usb::DeviceIdentity &device, unsigned bus_number);

// Most specific first: "USB\VID_vvvv&PID_pppp&REV_rrrr", "USB\VID_vvvv&PID_pppp".
std::vector<std::string> device_hardware_ids(const usb::DeviceIdentity &device);
// The chips' interfaces are vendor-specific (class, subclass and protocol 0xFF).
std::vector<std::string> device_compatible_ids();

// Case-insensitive equality of two IDs, as the operating system compares them.
bool same_id(std::string_view a, std::string_view b);

} // namespace corvane::platform

#endif // CORVANE_PLATFORM_USB_NODE_IDS_H
