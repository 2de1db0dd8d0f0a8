// The device tree: the FTDI device interfaces the transports can reach right now.
//
// One interface per channel of each listed device, in transport order, then the
// transport's own order, then channel order. Each carries its device path and a device
// instance number that stays the same for that channel in every snapshot while the
// device stays plugged in, and that no other channel is ever given.
#ifndef CORVANE_PLATFORM_DEVICE_TREE_H
#define CORVANE_PLATFORM_DEVICE_TREE_H

#include "platform/platform.h"

#include <string>
#include <vector>

namespace corvane::platform {

struct DeviceInterface {
    std::string path;
    DEVINST instance = 0;
};

// Lists every transport now. A transport that cannot list contributes nothing this time
// and keeps the instance numbers of its devices for the next snapshot.
std::vector<DeviceInterface> snapshot_device_interfaces();

} // namespace corvane::platform

#endif // CORVANE_PLATFORM_DEVICE_TREE_H
