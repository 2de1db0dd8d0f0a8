// Device paths of the stand-in: \\?\corvane#<transport>#<device id>#<channel>.
//
// The transport and the device id are escaped so that a '#' (or anything else that could
// make the path ambiguous) inside them cannot shift the fields: every byte outside
// [A-Za-z0-9._:,+-] becomes %XX. The channel is decimal, 1 for A.
#ifndef CORVANE_PLATFORM_DEVICE_PATH_H
#define CORVANE_PLATFORM_DEVICE_PATH_H

#include <optional>
#include <string>
#include <string_view>

namespace corvane::platform {

struct DevicePath {
    std::string transport;
    std::string device_id;
    unsigned channel = 0;
};

std::string format_device_path(std::string_view transport, std::string_view device_id, unsigned channel);

// nullopt for anything that is not a well-formed device path of this stand-in.
std::optional<DevicePath> parse_device_path(std::string_view path);

} // namespace corvane::platform

#endif // CORVANE_PLATFORM_DEVICE_PATH_H
