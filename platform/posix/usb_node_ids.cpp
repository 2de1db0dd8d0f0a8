#include "platform/posix/usb_node_ids.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstdio>

namespace corvane::platform {
namespace {

std::string hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

std::string vendor_and_product(const usb::DeviceIdentity &device)
{
    return "USB\\VID_" + hex4(device.vendor_id) + "&PID_" + hex4(device.product_id);
}

// A serial number makes the instance ID only when it could not break the ID apart or
// make it ambiguous: printable ASCII without blanks, separators or commas.
bool usable_in_instance_id(const std::string &serial)
{
    return !serial.empty() && std::all_of(serial.begin(), serial.end(),
                                          [](char c) { return c > ' ' && c < 0x7F && c != '\\' && c != ','; });
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

std::string root_hub_instance_id(unsigned bus_number, bool high_speed)
{
    return std::string(high_speed ? "USB\\ROOT_HUB20\\" : "USB\\ROOT_HUB\\") + std::to_string(bus_number);
}

std::vector<std::string> root_hub_hardware_ids(bool high_speed)
{
    return {high_speed ? "USB\\ROOT_HUB20" : "USB\\ROOT_HUB"};
}

std::string device_instance_id_by_location(const usb::DeviceIdentity &device, unsigned bus_number)
{
    char location[24];
    std::snprintf(location, sizeof location, "%u&%08X", bus_number, static_cast<unsigned>(device.location));
    return vendor_and_product(device) + "\\" + location;
}

std::string device_instance_id(const usb::DeviceIdentity &device, unsigned bus_number)
{
    std::string id = vendor_and_product(device) + "\\" + device.serial;
    if (!usable_in_instance_id(device.serial) || id.size() > MAX_DEVICE_ID_LEN)
        return device_instance_id_by_location(device, bus_number);
    return id;
}

std::vector<std::string> device_hardware_ids(const usb::DeviceIdentity &device)
{
    const std::string base = vendor_and_product(device);
    return {base + "&REV_" + hex4(device.bcd_device), base};
}

std::vector<std::string> device_compatible_ids()
{
    return {"USB\\Class_FF&SubClass_FF&Prot_FF", "USB\\Class_FF&SubClass_FF", "USB\\Class_FF"};
}

bool same_id(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upper(x) == upper(y); });
}

} // namespace corvane::platform
