#include "usb/libusb/topology.h"

#include <algorithm>

namespace corvane::usb {
namespace {

// Eight hexadecimal digits: the bus, at most six ports, the channel.
constexpr size_t deepest_path = 6;
constexpr uint32_t fallback_marker = 0xF0000000u;

} // namespace

std::string topology_id(uint8_t bus, std::span<const uint8_t> ports)
{
    std::string id = std::to_string(bus) + '-';
    if (ports.empty())
        return id + '0';
    for (size_t i = 0; i < ports.size(); ++i) {
        if (i > 0)
            id += '.';
        id += std::to_string(ports[i]);
    }
    return id;
}

uint32_t topology_location(uint8_t bus, std::span<const uint8_t> ports, uint8_t address)
{
    const bool fits = bus >= 1 && bus <= 0xF && !ports.empty() && ports.size() <= deepest_path &&
                      std::all_of(ports.begin(), ports.end(), [](uint8_t port) { return port >= 1 && port <= 0xF; });
    if (!fits) {
        // A topology location has no 0 digit between its first digit and the channel
        // digit, so this form (digit 3 is 0) never equals one.
        return fallback_marker | static_cast<uint32_t>(bus) << 20 | static_cast<uint32_t>(address) << 4;
    }
    uint32_t location = bus;
    for (uint8_t port : ports)
        location = location << 4 | port;
    return location << 4;
}

bool topology_before(uint8_t bus_a, std::span<const uint8_t> ports_a, uint8_t bus_b, std::span<const uint8_t> ports_b)
{
    if (bus_a != bus_b)
        return bus_a < bus_b;
    return std::lexicographical_compare(ports_a.begin(), ports_a.end(), ports_b.begin(), ports_b.end());
}

} // namespace corvane::usb
