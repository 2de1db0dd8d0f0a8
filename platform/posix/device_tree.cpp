#include "platform/posix/device_tree.h"

#include "platform/posix/device_path.h"
#include "usb/transport.h"

#include <map>
#include <mutex>
#include <set>
#include <string_view>

namespace corvane::platform {
namespace {

// What makes a channel the same one from snapshot to snapshot. The vendor and product
// ids and the serial number belong to it as they belong to a Windows instance id: a
// device that comes back from re-enumeration with a new serial number is a new device.
struct ChannelKey {
    std::string transport;
    std::string device_id;
    unsigned channel = 0;
    uint16_t vendor_id = 0;
    uint16_t product_id = 0;
    std::string serial;

    auto operator<=>(const ChannelKey &) const = default;
};

class InstanceNumbers {
public:
    DEVINST number_for(const ChannelKey &key) {
        auto [entry, added] = numbers_.try_emplace(key, next_);
        if (added)
            ++next_;   // 0 stays free: the device library reads it as "no instance"
        return entry->second;
    }

    // Forgets the channels of `transport` that its latest complete listing did not show,
    // so that a device plugged in again is numbered afresh.
    void keep_only(std::string_view transport, const std::set<ChannelKey> &listed) {
        std::erase_if(numbers_, [&](const auto &entry) {
            return entry.first.transport == transport && !listed.contains(entry.first);
        });
    }

    std::mutex lock;

private:
    std::map<ChannelKey, DEVINST> numbers_;
    DEVINST next_ = 1;
};

InstanceNumbers &instance_numbers() {
    static InstanceNumbers *numbers = new InstanceNumbers;   // outlives threads at exit
    return *numbers;
}

} // namespace

std::vector<DeviceInterface> snapshot_device_interfaces() {
    std::vector<DeviceInterface> interfaces;
    InstanceNumbers &numbers = instance_numbers();
    for (usb::Transport *transport : usb::transports()) {
        std::vector<usb::DeviceIdentity> devices;
        if (transport->list(devices) != usb::Status::ok)
            continue;
        const std::string transport_name(transport->name());
        std::set<ChannelKey> listed;
        std::lock_guard<std::mutex> guard(numbers.lock);
        for (const usb::DeviceIdentity &device : devices) {
            for (unsigned channel = 1; channel <= device.channels; ++channel) {
                ChannelKey key{transport_name, device.id, channel, device.vendor_id, device.product_id,
                               device.serial};
                interfaces.push_back({format_device_path(transport_name, device.id, channel),
                                      numbers.number_for(key)});
                listed.insert(std::move(key));
            }
        }
        numbers.keep_only(transport_name, listed);
    }
    return interfaces;
}

} // namespace corvane::platform
