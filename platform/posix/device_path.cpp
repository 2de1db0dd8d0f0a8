#include "platform/posix/device_path.h"

#include <charconv>

namespace corvane::platform {
namespace {

constexpr std::string_view path_prefix = "\\\\?\\corvane#";
constexpr char separator = '#';
constexpr unsigned highest_channel = 255; // the transports carry the channel in 8 bits
constexpr std::string_view hex_digits = "0123456789ABCDEF";

bool kept_as_is(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == ':' || c == ',' || c == '+' || c == '-';
}

void append_escaped(std::string &out, std::string_view field)
{
    for (char c : field) {
        if (kept_as_is(c)) {
            out += c;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        out += '%';
        out += hex_digits[byte >> 4];
        out += hex_digits[byte & 0xF];
    }
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Undoes append_escaped; nullopt for a stray '%' or a byte that should have been escaped.
std::optional<std::string> unescape(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c != '%') {
            if (!kept_as_is(c))
                return std::nullopt;
            out += c;
            continue;
        }
        if (i + 2 >= field.size())
            return std::nullopt;
        const int high = hex_value(field[i + 1]);
        const int low = hex_value(field[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::optional<unsigned> parse_channel(std::string_view text)
{
    if (text.empty() || text.front() == '0')
        return std::nullopt;
    unsigned channel = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), channel);
    if (error != std::errc() || end != text.data() + text.size() || channel > highest_channel)
        return std::nullopt;
    return channel;
}

} // namespace

std::string format_device_path(std::string_view transport, std::string_view device_id, unsigned channel)
{
    std::string path(path_prefix);
    append_escaped(path, transport);
    path += separator;
    append_escaped(path, device_id);
    path += separator;
    path += std::to_string(channel);
    return path;
}

std::optional<DevicePath> parse_device_path(std::string_view path)
{
    if (!path.starts_with(path_prefix))
        return std::nullopt;
    path.remove_prefix(path_prefix.size());

    const size_t first = path.find(separator);
    if (first == std::string_view::npos)
        return std::nullopt;
    const size_t second = path.find(separator, first + 1);
    if (second == std::string_view::npos || path.find(separator, second + 1) != std::string_view::npos)
        return std::nullopt;

    std::optional<std::string> transport = unescape(path.substr(0, first));
    std::optional<std::string> device_id = unescape(path.substr(first + 1, second - first - 1));
    std::optional<unsigned> channel = parse_channel(path.substr(second + 1));
    if (!transport || transport->empty() || !device_id || device_id->empty() || !channel)
        return std::nullopt;
    return DevicePath{std::move(*transport), std::move(*device_id), *channel};
}

} // namespace corvane::platform
