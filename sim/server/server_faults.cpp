// The fault switches that tests flip while the simulator runs.
#include "sim/server/server.h"

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace corvane::sim {
namespace {

constexpr const char *usage =
    "expected \"stall ID on\", \"stall ID off\", \"unplug ID\", \"plug ID\" or \"cut ID BYTES\" (BYTES: "
    "what the device's next bulk transfer of more bytes, OUT or IN, whichever comes first, moves "
    "before it ends short)";

std::vector<std::string> words(std::string_view text)
{
    std::istringstream in{std::string(text)};
    std::vector<std::string> all;
    for (std::string word; in >> word;)
        all.push_back(word);
    return all;
}

// Decimal digits only: a sign or a suffix is a typing mistake, not a count.
std::optional<size_t> byte_count(const std::string &text)
{
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<size_t>(std::stoull(text));
}

} // namespace

usb::Status apply_fault(VirtualBus &bus, std::string_view command, std::string &answer)
{
    std::vector<std::string> word = words(command);
    usb::Status status = usb::Status::invalid;
    if (word.size() == 3 && word[0] == "stall" && (word[2] == "on" || word[2] == "off")) {
        status = bus.set_stalled(word[1], word[2] == "on");
    } else if (word.size() == 2 && (word[0] == "unplug" || word[0] == "plug")) {
        status = bus.set_plugged(word[1], word[0] == "plug");
    } else if (word.size() == 3 && word[0] == "cut" && byte_count(word[2])) {
        status = bus.cut_next_transfer(word[1], *byte_count(word[2]));
    } else {
        answer = "unknown fault switch \"" + std::string(command) + "\": " + usage;
        return status;
    }
    if (status == usb::Status::ok)
        answer = "done: " + std::string(command);
    else
        answer = "device " + word[1] + ": " + usb::status_name(status);
    return status;
}

} // namespace corvane::sim
