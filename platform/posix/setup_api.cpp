// The device installation calls the device library uses to find device interfaces.
//
// Only the device library's interface class, asked for present device interfaces, lists
// interfaces; sets of USB nodes come from setup_api_maintenance.cpp.
#include "platform/platform.h"
#include "platform/posix/device_info_set.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace corvane::platform {
namespace {

constexpr GUID device_interface_class = {0x219D0508, 0x57A8, 0x4FF5, {0x97, 0xA1, 0xBD, 0x86, 0x58, 0x7C, 0x6C, 0x7E}};
constexpr DWORD interface_active = 0x00000001; // the interface is enabled
constexpr DWORD wanted_flags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

// Callers set the detail's size word to 5, the size of the fixed part as 32-bit builds
// count it, on 32- and 64-bit alike; a 64-bit caller following the C types sets 8.
constexpr DWORD packed_detail_size = 5;
constexpr DWORD path_offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

bool same_guid(const GUID &a, const GUID &b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

bool is_device_info_set(ObjectKind kind)
{
    return kind == ObjectKind::device_info_set;
}

bool fail(DWORD error)
{
    SetLastError(error);
    return false;
}

std::shared_ptr<DeviceInfoSet> find_set(HDEVINFO set)
{
    std::shared_ptr<DeviceInfoSet> found = find_handle_of<DeviceInfoSet>(set);
    if (!found)
        SetLastError(ERROR_INVALID_HANDLE);
    return found;
}

// The interface that SetupDiEnumDeviceInterfaces described in `data`: its position in the
// set plus one is kept in the record's reserved word.
const DeviceInterface *interface_of(const DeviceInfoSet &set, const SP_DEVICE_INTERFACE_DATA *data)
{
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
        data->Reserved > set.interfaces.size())
        return nullptr;
    return &set.interfaces[data->Reserved - 1];
}

void describe_instance(const DeviceInterface &interface, size_t position, SP_DEVINFO_DATA &info)
{
    info.ClassGuid = GUID{};
    info.DevInst = interface.instance;
    info.Reserved = position + 1;
}

void describe_node(const UsbNode &node, size_t position, SP_DEVINFO_DATA &info)
{
    info.ClassGuid = usb_setup_class;
    info.DevInst = node.instance;
    info.Reserved = position + 1;
}

} // namespace
} // namespace corvane::platform

using corvane::platform::DeviceInterface;

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags)
{
    namespace p = corvane::platform;
    if (!ClassGuid && !(Flags & DIGCF_ALLCLASSES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const bool lists_devices = ClassGuid && p::same_guid(*ClassGuid, p::device_interface_class) && !Enumerator &&
                               (Flags & p::wanted_flags) == p::wanted_flags && !(Flags & DIGCF_ALLCLASSES);
    HANDLE set = nullptr;
    try {
        std::vector<DeviceInterface> interfaces;
        if (lists_devices)
            interfaces = p::snapshot_device_interfaces();
        set = p::add_handle(std::make_shared<p::DeviceInfoSet>(std::move(interfaces)));
    } catch (const std::bad_alloc &) {
    }
    if (!set) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return set;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID *InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData)
{
    namespace p = corvane::platform;
    std::shared_ptr<p::DeviceInfoSet> set = p::find_set(DeviceInfoSet);
    if (!set)
        return FALSE;
    if (!InterfaceClassGuid || !DeviceInterfaceData ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)))
        return p::fail(ERROR_INVALID_PARAMETER);
    if (!p::same_guid(*InterfaceClassGuid, p::device_interface_class))
        return p::fail(ERROR_NO_MORE_ITEMS);

    // With a device given, only that device's interfaces count (one per channel here).
    DWORD seen = 0;
    for (size_t position = 0; position < set->interfaces.size(); ++position) {
        if (DeviceInfoData && set->interfaces[position].instance != DeviceInfoData->DevInst)
            continue;
        if (seen++ != MemberIndex)
            continue;
        DeviceInterfaceData->InterfaceClassGuid = p::device_interface_class;
        DeviceInterfaceData->Flags = p::interface_active;
        DeviceInterfaceData->Reserved = position + 1;
        return TRUE;
    }
    return p::fail(ERROR_NO_MORE_ITEMS);
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                             DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                             PSP_DEVINFO_DATA DeviceInfoData)
{
    namespace p = corvane::platform;
    std::shared_ptr<p::DeviceInfoSet> set = p::find_set(DeviceInfoSet);
    if (!set)
        return FALSE;
    const DeviceInterface *interface = p::interface_of(*set, DeviceInterfaceData);
    if (!interface || (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)))
        return p::fail(ERROR_INVALID_PARAMETER);
    if (!DeviceInterfaceDetailData && DeviceInterfaceDetailDataSize != 0)
        return p::fail(ERROR_INVALID_PARAMETER);

    const size_t required = p::path_offset + interface->path.size() + 1;
    if (RequiredSize)
        *RequiredSize = static_cast<DWORD>(required);
    // The size comes first so that not even the size word of a short buffer is read.
    if (!DeviceInterfaceDetailData || DeviceInterfaceDetailDataSize < required)
        return p::fail(ERROR_INSUFFICIENT_BUFFER);
    if (DeviceInterfaceDetailData->cbSize != p::packed_detail_size &&
        DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return p::fail(ERROR_INVALID_PARAMETER);

    std::memcpy(DeviceInterfaceDetailData->DevicePath, interface->path.c_str(), interface->path.size() + 1);
    if (DeviceInfoData)
        p::describe_instance(*interface, static_cast<size_t>(interface - set->interfaces.data()), *DeviceInfoData);
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData)
{
    namespace p = corvane::platform;
    std::shared_ptr<p::DeviceInfoSet> set = p::find_set(DeviceInfoSet);
    if (!set)
        return FALSE;
    if (!DeviceInfoData || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        return p::fail(ERROR_INVALID_PARAMETER);
    if (MemberIndex >= set->member_count())
        return p::fail(ERROR_NO_MORE_ITEMS);
    if (set->interfaces.empty())
        p::describe_node(set->nodes[MemberIndex], MemberIndex, *DeviceInfoData);
    else
        p::describe_instance(set->interfaces[MemberIndex], MemberIndex, *DeviceInfoData);
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    namespace p = corvane::platform;
    if (!p::remove_handle(DeviceInfoSet, p::is_device_info_set))
        return p::fail(ERROR_INVALID_HANDLE);
    return TRUE;
}
