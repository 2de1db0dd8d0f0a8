#include "platform/posix/device_tree.h"

#include "platform/posix/device_path.h"
#include "platform/posix/usb_node_ids.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

namespace corvane::platform {
namespace {

enum class NodeKind { root, root_hub, usb_device, channel };

// What makes a node the same one from snapshot to snapshot. The vendor and product ids
// and the serial number belong to a device as they belong to a Windows instance id: a
// device that comes back from re-enumeration with a new serial number is a new device.
// A root hub is known by its instance id, so a bus that turns high-speed has a new hub.
struct NodeKey {
    NodeKind kind = NodeKind::channel;
    std::string transport;
    std::string device_id; // a root hub's instance id
    unsigned channel = 0;  // 0 for every node but a channel
    uint16_t vendor_id = 0;
    uint16_t product_id = 0;
    std::string serial;

    auto operator<=>(const NodeKey &) const = default;
};

class InstanceNumbers {
public:
    DEVINST number_for(const NodeKey &key)
    {
        auto [entry, added] = entries_.try_emplace(key, Entry{next_, std::nullopt});
        if (added)
            ++next_; // 0 stays free: the device library reads it as "no instance"
        return entry->second.number;
    }

    void remember(const NodeKey &key, const UsbNode &node) { entries_.at(key).node = node; }

    // Forgets the nodes of `transport` that its latest complete listing did not show,
    // so that a device plugged in again is numbered afresh.
    void keep_only(std::string_view transport, const std::set<NodeKey> &listed)
    {
        std::erase_if(entries_, [&](const auto &entry) {
            return entry.first.transport == transport && entry.first.kind != NodeKind::root &&
                   !listed.contains(entry.first);
        });
    }

    // Whether a node of another transport goes by this instance id.
    bool id_used_elsewhere(std::string_view transport, std::string_view instance_id) const
    {
        return std::any_of(entries_.begin(), entries_.end(), [&](const auto &entry) {
            return entry.first.transport != transport && entry.second.node &&
                   same_id(entry.second.node->instance_id, instance_id);
        });
    }

    std::optional<UsbNode> node_numbered(DEVINST number) const
    {
        for (const auto &[key, entry] : entries_)
            if (entry.number == number && entry.node)
                return entry.node;
        return std::nullopt;
    }

    std::mutex lock;

private:
    struct Entry {
        DEVINST number;
        std::optional<UsbNode> node;
    };
    std::map<NodeKey, Entry> entries_;
    DEVINST next_ = 1;
};

InstanceNumbers &instance_numbers()
{
    static InstanceNumbers *numbers = new InstanceNumbers; // outlives threads at exit
    return *numbers;
}

struct Listing {
    std::vector<DeviceInterface> interfaces;
    std::vector<UsbNode> nodes;
};

UsbNode device_node(const usb::DeviceIdentity &device)
{
    UsbNode node;
    node.hardware_ids = device_hardware_ids(device);
    node.compatible_ids = device_compatible_ids();
    node.description = device.product.empty() ? "USB device" : device.product;
    node.manufacturer = device.manufacturer;
    node.device_id = device.id;
    return node;
}

void add_usb_nodes(const std::vector<usb::DeviceIdentity> &devices, const std::string &transport, unsigned bus_number,
                   InstanceNumbers &numbers, std::set<NodeKey> &listed, Listing &out)
{
    // A transport with nothing attached stands for no host controller at all (the null
    // transport, a simulator that is not running): it shows no root hub.
    if (devices.empty())
        return;
    const bool high_speed = std::any_of(devices.begin(), devices.end(),
                                        [](const usb::DeviceIdentity &device) { return device.packet_size > 64; });
    UsbNode hub;
    hub.instance_id = root_hub_instance_id(bus_number, high_speed);
    hub.hardware_ids = root_hub_hardware_ids(high_speed);
    hub.description = high_speed ? "USB 2.0 root hub" : "USB root hub";
    hub.transport = transport;
    NodeKey hub_key{NodeKind::root_hub, transport, hub.instance_id, 0, 0, 0, {}};
    hub.instance = numbers.number_for(hub_key);
    numbers.remember(hub_key, hub);
    listed.insert(std::move(hub_key));
    out.nodes.push_back(std::move(hub));

    std::set<std::string> ids_here;
    for (const usb::DeviceIdentity &device : devices) {
        UsbNode node = device_node(device);
        node.transport = transport;
        node.instance_id = device_instance_id(device, bus_number);
        // Two devices with one serial number would share an instance id; the later one
        // goes by its location instead, as Windows treats a serial number it saw twice.
        if (ids_here.contains(node.instance_id) || numbers.id_used_elsewhere(transport, node.instance_id))
            node.instance_id = device_instance_id_by_location(device, bus_number);
        ids_here.insert(node.instance_id);
        NodeKey key{NodeKind::usb_device, transport, device.id, 0, device.vendor_id, device.product_id, device.serial};
        node.instance = numbers.number_for(key);
        numbers.remember(key, node);
        listed.insert(std::move(key));
        out.nodes.push_back(std::move(node));
    }
}

// Lists one transport and numbers what it shows; false when it cannot list.
bool list_transport(usb::Transport &transport, unsigned bus_number, Listing &out)
{
    std::vector<usb::DeviceIdentity> devices;
    if (transport.list(devices) != usb::Status::ok)
        return false;
    const std::string name(transport.name());
    InstanceNumbers &numbers = instance_numbers();
    std::set<NodeKey> listed;
    std::lock_guard<std::mutex> guard(numbers.lock);
    for (const usb::DeviceIdentity &device : devices) {
        for (unsigned channel = 1; channel <= device.channels; ++channel) {
            NodeKey key{NodeKind::channel, name,         device.id, channel, device.vendor_id,
                        device.product_id, device.serial};
            out.interfaces.push_back({format_device_path(name, device.id, channel), numbers.number_for(key)});
            listed.insert(std::move(key));
        }
    }
    add_usb_nodes(devices, name, bus_number, numbers, listed, out);
    numbers.keep_only(name, listed);
    return true;
}

Listing list_every_transport()
{
    Listing all;
    const std::vector<usb::Transport *> transports = usb::transports();
    for (unsigned position = 0; position < transports.size(); ++position)
        list_transport(*transports[position], position, all);
    return all;
}

usb::Transport *transport_named(std::string_view name)
{
    for (usb::Transport *transport : usb::transports())
        if (transport->name() == name)
            return transport;
    return nullptr;
}

// Every device on the bus is restarted, even when one is in use or fails; a failure
// weighs more than a device left for later.
usb::Status restart_bus(usb::Transport &transport)
{
    std::vector<usb::DeviceIdentity> devices;
    const usb::Status listed = transport.list(devices);
    if (listed != usb::Status::ok)
        return listed;
    usb::Status outcome = usb::Status::ok;
    for (const usb::DeviceIdentity &device : devices) {
        const usb::Status status = transport.reenumerate(device.id);
        if (status == usb::Status::ok || status == usb::Status::no_device)
            continue; // a device that left meanwhile needs no restart
        if (outcome == usb::Status::ok || (outcome == usb::Status::busy && status != usb::Status::busy))
            outcome = status;
    }
    return outcome;
}

} // namespace

std::vector<DeviceInterface> snapshot_device_interfaces()
{
    return list_every_transport().interfaces;
}

std::vector<UsbNode> snapshot_usb_nodes()
{
    return list_every_transport().nodes;
}

std::optional<UsbNode> find_usb_node(DEVINST instance)
{
    InstanceNumbers &numbers = instance_numbers();
    std::lock_guard<std::mutex> guard(numbers.lock);
    return numbers.node_numbered(instance);
}

DEVINST root_instance()
{
    InstanceNumbers &numbers = instance_numbers();
    std::lock_guard<std::mutex> guard(numbers.lock);
    return numbers.number_for(NodeKey{NodeKind::root, "", "HTREE\\ROOT\\0", 0, 0, 0, {}});
}

bool relist_transport(std::string_view transport)
{
    const std::vector<usb::Transport *> transports = usb::transports();
    bool found = false;
    for (unsigned position = 0; position < transports.size(); ++position) {
        if (!transport.empty() && transports[position]->name() != transport)
            continue;
        found = true;
        Listing ignored;
        list_transport(*transports[position], position, ignored);
    }
    return found;
}

usb::Status restart_usb_node(const UsbNode &node)
{
    usb::Transport *transport = transport_named(node.transport);
    if (!transport)
        return usb::Status::no_device;
    const usb::Status status = node.is_root_hub() ? restart_bus(*transport) : transport->reenumerate(node.device_id);
    // The tree follows at once: a device that came back under a new identity is a new node.
    relist_transport(node.transport);
    return status;
}

} // namespace corvane::platform
