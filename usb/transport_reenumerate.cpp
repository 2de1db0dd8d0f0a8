// The default restart of a device, for transports that re-enumerate through a channel.
#include "usb/transport.h"

#include <algorithm>

namespace corvane::usb {

Status Transport::reenumerate(const std::string &id)
{
    std::vector<DeviceIdentity> devices;
    const Status listed = list(devices);
    if (listed != Status::ok)
        return listed;
    const auto device = std::find_if(devices.begin(), devices.end(),
                                     [&](const DeviceIdentity &candidate) { return candidate.id == id; });
    if (device == devices.end())
        return Status::no_device;

    // Holding every channel at once is what proves that nobody uses the device; the
    // claims end with the device's departure (or here, when a claim fails).
    std::vector<std::unique_ptr<Channel>> claimed(device->channels);
    for (unsigned channel = 1; channel <= device->channels; ++channel) {
        const Status status = open(id, channel, claimed[channel - 1]);
        if (status != Status::ok)
            return status;
    }
    return claimed.empty() ? Status::no_device : claimed.front()->reenumerate();
}

} // namespace corvane::usb
