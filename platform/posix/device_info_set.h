// A device information set: a snapshot of the device tree taken when the set is created;
// devices that arrive or leave afterwards show in the next set only.
//
// A set holds either device interfaces (the bus driver's interface class) or USB nodes
// (the "USB" setup class, or all classes), with the install state that the device
// installation calls keep per node.
#ifndef CORVANE_PLATFORM_DEVICE_INFO_SET_H
#define CORVANE_PLATFORM_DEVICE_INFO_SET_H

#include "platform/platform.h"
#include "platform/posix/device_tree.h"
#include "platform/posix/handle_table.h"

#include <mutex>
#include <optional>
#include <vector>

namespace corvane::platform {

// What SetupDiSetClassInstallParamsA left and the class installer reports, per node.
struct InstallState {
    DWORD flags = 0;                                     // DI_* flags
    std::optional<SP_PROPCHANGE_PARAMS> property_change; // the class-install parameters
};

class DeviceInfoSet final : public KernelObject {
public:
    static constexpr ObjectKind object_kind = ObjectKind::device_info_set;

    explicit DeviceInfoSet(std::vector<DeviceInterface> interfaces)
        : KernelObject(object_kind), interfaces(std::move(interfaces)), install_(1)
    {}
    DeviceInfoSet(const GUID &class_guid, std::vector<UsbNode> nodes)
        : KernelObject(object_kind), nodes(std::move(nodes)), class_guid(class_guid), install_(this->nodes.size() + 1)
    {}

    DWORD member_count() const { return static_cast<DWORD>(interfaces.empty() ? nodes.size() : interfaces.size()); }

    // The node that SetupDiEnumDeviceInfo described in `data` (its position plus one is
    // kept in the record's reserved word), or nullopt when it describes none of this set.
    std::optional<size_t> node_position(const SP_DEVINFO_DATA *data) const
    {
        if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->Reserved == 0 || data->Reserved > nodes.size() ||
            nodes[data->Reserved - 1].instance != data->DevInst)
            return std::nullopt;
        return data->Reserved - 1;
    }

    // Runs `use` on the install state of a node, or of the set itself for nullopt.
    template <class Use>
    auto with_install_state(std::optional<size_t> position, Use &&use)
    {
        std::lock_guard<std::mutex> guard(lock_);
        return use(install_[position ? *position : nodes.size()]);
    }

    const std::vector<DeviceInterface> interfaces;
    const std::vector<UsbNode> nodes;
    const GUID class_guid{}; // the setup class the set was made for; all zero for all classes

private:
    std::mutex lock_;                   // the calls on one set may come from several threads
    std::vector<InstallState> install_; // one per node, then the set's own
};

// The USB setup class.
constexpr GUID usb_setup_class = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

} // namespace corvane::platform

#endif // CORVANE_PLATFORM_DEVICE_INFO_SET_H
