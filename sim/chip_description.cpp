// The --chip option: KIND[,key=value]...
#include "sim/chip_kind.h"
#include "sim/virtual_bus.h"

#include <charconv>
#include <set>

namespace corvane::sim {
namespace {

// The device list keeps a serial in 16 bytes: the serial, the channel letter the host
// adds, and the terminator.
constexpr size_t max_serial_length = 14;
// Likewise 64 bytes for the description, with a blank and the channel letter.
constexpr size_t max_description_length = 61;

bool valid_serial(std::string_view serial)
{
    if (serial.empty() || serial.size() > max_serial_length)
        return false;
    for (char c : serial) {
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '-' && c != '_')
            return false;
    }
    return true;
}

bool valid_description(std::string_view text)
{
    if (text.empty() || text.size() > max_description_length)
        return false;
    for (char c : text)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

std::optional<uint32_t> parse_hex(std::string_view text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    uint32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<unsigned> parse_decimal(std::string_view text)
{
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// A FIFO rate in MB/s, decimal with an optional fraction; "none" is 0, no limit.
std::optional<double> parse_rate(std::string_view text)
{
    if (text == "none")
        return 0.0;
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !(value > 0) || value > 1000)
        return std::nullopt;
    return value;
}

// "what 'value': why" (built by appending: GCC 12 warns falsely about prepending a
// literal to a temporary string at -O3).
std::string refusal(std::string_view what, std::string_view value, std::string_view why)
{
    std::string text(what);
    text.append(" '").append(value).append("'");
    if (!why.empty())
        text.append(": ").append(why);
    return text;
}

// Applies one key=value item; returns the reason when it is refused.
std::string apply_item(ChipDescription &chip, std::string_view key, std::string_view value)
{
    const ChipProfile &profile = profile_of(chip.kind);
    if (key == "serial") {
        if (!valid_serial(value))
            return refusal("serial", value, "1 to 14 letters, digits, '-' or '_'");
        chip.serial = value;
    } else if (key == "description") {
        if (!valid_description(value))
            return "description: 1 to 61 printable characters";
        chip.description = value;
    } else if (key == "location") {
        std::optional<uint32_t> location = parse_hex(value);
        if (!location || *location == 0)
            return refusal("location", value, "not a hexadecimal number");
        // The host adds the channel number in the low digit.
        if ((*location & 0xF) != 0)
            return refusal("location", value, "the low hexadecimal digit must be 0");
        chip.location = *location;
    } else if (key == "eeprom") {
        if (profile.eeprom != EepromKind::external)
            return std::string("eeprom: ").append(profile.name).append(" has its EEPROM inside the chip");
        std::optional<unsigned> words = parse_decimal(value);
        if (!words || (*words != 0 && *words != 64 && *words != 128 && *words != 256))
            return refusal("eeprom", value, "0, 64, 128 or 256 words");
        chip.eeprom_words = *words;
    } else if (key == "fifo") {
        std::optional<double> rate = parse_rate(value);
        if (!rate)
            return refusal("fifo", value, "MB/s above 0 and at most 1000, or none");
        chip.fifo_mbps = *rate;
    } else if (key == "alt") {
        if (value != "0" && value != "1")
            return refusal("alt", value, "0 or 1");
        chip.alternate_codes_only = value == "1";
    } else {
        return refusal("unknown key", key, "");
    }
    return {};
}

} // namespace

std::optional<ChipDescription> parse_chip_description(std::string_view text, std::string &error)
{
    size_t comma = text.find(',');
    std::string_view kind_name = text.substr(0, comma);
    std::optional<ChipKind> kind = kind_from_name(kind_name);
    if (!kind) {
        error =
            refusal("unknown chip kind", kind_name, "corvane, ft232b, ft232r, ft2232, ft2232h, ft4232h, ft232h or ftx");
        return std::nullopt;
    }
    ChipDescription chip;
    chip.kind = *kind;
    std::set<std::string_view> seen;
    while (comma != std::string_view::npos) {
        text.remove_prefix(comma + 1);
        comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        size_t equals = item.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            error = refusal("item", item, "expected key=value");
            return std::nullopt;
        }
        std::string_view key = item.substr(0, equals);
        if (!seen.insert(key).second) {
            error = refusal("key", key, "given twice");
            return std::nullopt;
        }
        error = apply_item(chip, key, item.substr(equals + 1));
        if (!error.empty())
            return std::nullopt;
    }
    return chip;
}

} // namespace corvane::sim
