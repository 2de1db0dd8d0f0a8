// The fault switches that tests flip while the simulator runs.
#include "sim/server.h"

#include <sstream>
#include <vector>

namespace corvane::sim {
namespace {

constexpr const char *usage = "expected \"stall ID on\", \"stall ID off\", \"unplug ID\" or \"plug ID\"";

std::vector<std::string> words(std::string_view text) {
    std::istringstream in{std::string(text)};
    std::vector<std::string> all;
    for (std::string word; in >> word;)
        all.push_back(word);
    return all;
}

} // namespace

usb::Status apply_fault(VirtualBus &bus, std::string_view command, std::string &answer) {
    std::vector<std::string> word = words(command);
    usb::Status status = usb::Status::invalid;
    if (word.size() == 3 && word[0] == "stall" && (word[2] == "on" || word[2] == "off")) {
        status = bus.set_stalled(word[1], word[2] == "on");
    } else if (word.size() == 2 && (word[0] == "unplug" || word[0] == "plug")) {
        status = bus.set_plugged(word[1], word[0] == "plug");
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
