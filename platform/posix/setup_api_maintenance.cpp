// The device installation calls that find setup classes and USB nodes and read their
// properties: the ones bus maintenance needs, on the local machine only.
#include "platform/platform.h"
#include "platform/posix/device_info_set.h"
#include "platform/posix/usb_node_ids.h"

#include <cstring>
#include <new>
#include <string>

namespace corvane::platform {
namespace {

bool fail(DWORD error)
{
    SetLastError(error);
    return false;
}

bool same_guid(const GUID &a, const GUID &b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// Only this machine is served; a name of another one cannot be reached.
bool is_local(PCSTR machine_name)
{
    return !machine_name || !*machine_name;
}

std::shared_ptr<DeviceInfoSet> find_set(HDEVINFO set)
{
    std::shared_ptr<DeviceInfoSet> found = find_handle_of<DeviceInfoSet>(set);
    if (!found)
        SetLastError(ERROR_INVALID_HANDLE);
    return found;
}

// The property as the registry holds it: its type and its bytes, NULs included.
struct PropertyValue {
    DWORD type = REG_SZ;
    std::string bytes;
};

PropertyValue text_value(const std::string &text)
{
    return {REG_SZ, text + '\0'};
}

PropertyValue multi_text_value(const std::vector<std::string> &texts)
{
    PropertyValue value{REG_MULTI_SZ, {}};
    for (const std::string &text : texts)
        value.bytes += text + '\0';
    value.bytes += '\0';
    return value;
}

// nullopt for a property the node does not have.
std::optional<PropertyValue> property_of(const UsbNode &node, DWORD property)
{
    switch (property) {
    case SPDRP_DEVICEDESC: return text_value(node.description);
    case SPDRP_HARDWAREID: return multi_text_value(node.hardware_ids);
    case SPDRP_COMPATIBLEIDS:
        if (node.compatible_ids.empty())
            return std::nullopt;
        return multi_text_value(node.compatible_ids);
    case SPDRP_MFG:
        if (node.manufacturer.empty())
            return std::nullopt;
        return text_value(node.manufacturer);
    default: return std::nullopt;
    }
}

} // namespace
} // namespace corvane::platform

BOOL WINAPI SetupDiClassGuidsFromNameExA(PCSTR ClassName, LPGUID ClassGuidList, DWORD ClassGuidListSize,
                                         PDWORD RequiredSize, PCSTR MachineName, PVOID Reserved)
{
    namespace p = corvane::platform;
    if (!ClassName || Reserved || (!ClassGuidList && ClassGuidListSize != 0))
        return p::fail(ERROR_INVALID_PARAMETER);
    if (!p::is_local(MachineName))
        return p::fail(ERROR_INVALID_COMPUTERNAME);
    // "USB" is the one setup class here; any other name is a class with no GUID.
    const DWORD found = p::same_id(ClassName, "USB") ? 1 : 0;
    if (RequiredSize)
        *RequiredSize = found;
    if (found > ClassGuidListSize)
        return p::fail(ERROR_INSUFFICIENT_BUFFER);
    if (found)
        ClassGuidList[0] = p::usb_setup_class;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

HDEVINFO WINAPI SetupDiGetClassDevsExA(const GUID *ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags,
                                       HDEVINFO DeviceInfoSet, PCSTR MachineName, PVOID Reserved)
{
    namespace p = corvane::platform;
    // Adding to an existing set is not offered: callers here always start a new one.
    if (DeviceInfoSet || Reserved || (!ClassGuid && !(Flags & DIGCF_ALLCLASSES))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!p::is_local(MachineName)) {
        SetLastError(ERROR_INVALID_COMPUTERNAME);
        return INVALID_HANDLE_VALUE;
    }
    if (Flags & DIGCF_DEVICEINTERFACE)
        return SetupDiGetClassDevsA(ClassGuid, Enumerator, hwndParent, Flags);

    // Every node here is a present USB node, so the USB class and all classes list the
    // same nodes and any other class, or an enumerator other than USB, lists none.
    const bool all_classes = Flags & DIGCF_ALLCLASSES;
    const bool lists_nodes =
        (all_classes || p::same_guid(*ClassGuid, p::usb_setup_class)) && (!Enumerator || p::same_id(Enumerator, "USB"));
    HANDLE set = nullptr;
    try {
        std::vector<p::UsbNode> nodes;
        if (lists_nodes)
            nodes = p::snapshot_usb_nodes();
        const GUID set_class = all_classes ? GUID{} : *ClassGuid;
        set = p::add_handle(std::make_shared<p::DeviceInfoSet>(set_class, std::move(nodes)));
    } catch (const std::bad_alloc &) {
    }
    if (!set) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return set;
}

BOOL WINAPI SetupDiGetDeviceInfoListDetailA(HDEVINFO DeviceInfoSet,
                                            PSP_DEVINFO_LIST_DETAIL_DATA_A DeviceInfoSetDetailData)
{
    namespace p = corvane::platform;
    std::shared_ptr<p::DeviceInfoSet> set = p::find_set(DeviceInfoSet);
    if (!set)
        return FALSE;
    if (!DeviceInfoSetDetailData || DeviceInfoSetDetailData->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA_A))
        return p::fail(ERROR_INVALID_USER_BUFFER);
    // A local set: no machine handle, no machine name.
    DeviceInfoSetDetailData->ClassGuid = set->class_guid;
    DeviceInfoSetDetailData->RemoteMachineHandle = nullptr;
    DeviceInfoSetDetailData->RemoteMachineName[0] = '\0';
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    namespace p = corvane::platform;
    std::shared_ptr<p::DeviceInfoSet> set = p::find_set(DeviceInfoSet);
    if (!set)
        return FALSE;
    const std::optional<size_t> position = set->node_position(DeviceInfoData);
    if (!position)
        return p::fail(ERROR_INVALID_PARAMETER);
    if (Property >= SPDRP_MAXIMUM_PROPERTY)
        return p::fail(ERROR_INVALID_REG_PROPERTY);
    if (!PropertyBuffer && PropertyBufferSize != 0)
        return p::fail(ERROR_INVALID_USER_BUFFER);

    std::optional<p::PropertyValue> value;
    try {
        value = p::property_of(set->nodes[*position], Property);
    } catch (const std::bad_alloc &) {
        return p::fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (!value)
        return p::fail(ERROR_INVALID_DATA);
    const DWORD size = static_cast<DWORD>(value->bytes.size());
    if (PropertyRegDataType)
        *PropertyRegDataType = value->type;
    if (RequiredSize)
        *RequiredSize = size;
    if (PropertyBufferSize < size)
        return p::fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(PropertyBuffer, value->bytes.data(), size);
    return TRUE;
}
