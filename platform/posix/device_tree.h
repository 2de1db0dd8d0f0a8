// The device tree: what the transports can reach right now, in two views.
//
// Device interfaces: one per channel of each listed device, in transport order, then the
// transport's own order, then channel order, each with its device path.
//
// USB nodes: the setup class "USB" as the operating system shows it, one root hub per
// transport that has devices attached, each followed by its devices, with their instance,
// hardware and compatible IDs.
//
// Every channel and node carries a device instance number that stays the same in every
// snapshot while its device stays plugged in, and that no other one is ever given.
#ifndef CORVANE_PLATFORM_DEVICE_TREE_H
#define CORVANE_PLATFORM_DEVICE_TREE_H

#include "platform/platform.h"
#include "usb/transport.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::platform {

struct DeviceInterface {
    std::string path;
    DEVINST instance = 0;
};

struct UsbNode {
    DEVINST instance = 0;
    std::string instance_id;
    std::vector<std::string> hardware_ids;
    std::vector<std::string> compatible_ids; // none for a root hub
    std::string description;
    std::string manufacturer; // empty when the device names none
    std::string transport;    // the name of the transport it is on
    std::string device_id;    // its id within the transport; empty for a root hub

    bool is_root_hub() const { return device_id.empty(); }
};

// Lists every transport now. A transport that cannot list contributes nothing this time
// and keeps the instance numbers of its devices for the next snapshot.
std::vector<DeviceInterface> snapshot_device_interfaces();
std::vector<UsbNode> snapshot_usb_nodes();

// The node with this number as the latest listing of its transport showed it.
std::optional<UsbNode> find_usb_node(DEVINST instance);

// The number of the tree's root, the parent of every root hub. It is never listed.
DEVINST root_instance();

// Lists one transport again (the re-enumeration of its root hub or of a device on it);
// the name "" lists every transport. False when no transport of that name is there.
bool relist_transport(std::string_view transport);

// The property-change restart of a node: a device leaves the bus and comes back (and
// re-reads its identity); a root hub restarts every device on it. Status::busy when a
// device is in use and stays as it was (for a root hub: when any device is).
usb::Status restart_usb_node(const UsbNode &node);

} // namespace corvane::platform

#endif // CORVANE_PLATFORM_DEVICE_TREE_H
