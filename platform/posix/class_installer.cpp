// The class installer of the USB nodes: class-install parameters, the property-change
// request that restarts a device, and the install parameters that report its outcome.
#include "platform/platform.h"
#include "platform/posix/device_info_set.h"

#include <cstring>

namespace corvane::platform {
namespace {

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

// The node a call names, or the set itself when it names none. False when `data` names
// something that is not a node of the set.
bool resolve(const DeviceInfoSet &set, const SP_DEVINFO_DATA *data, std::optional<size_t> &position)
{
    position = data ? set.node_position(data) : std::nullopt;
    return !data || position.has_value();
}

bool valid_property_change(const SP_PROPCHANGE_PARAMS &params)
{
    const bool known_change = params.StateChange >= DICS_ENABLE && params.StateChange <= DICS_STOP;
    const bool known_scope = params.Scope == DICS_FLAG_GLOBAL || params.Scope == DICS_FLAG_CONFIGSPECIFIC ||
                             params.Scope == DICS_FLAG_CONFIGGENERAL;
    return known_change && known_scope;
}

DWORD restart_error(usb::Status status)
{
    switch (status) {
    case usb::Status::no_device: return ERROR_NO_SUCH_DEVINST;
    case usb::Status::not_supported: return ERROR_NOT_SUPPORTED;
    default: return ERROR_GEN_FAILURE;
    }
}

} // namespace
} // namespace corvane::platform

BOOL WINAPI SetupDiSetClassInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                          PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize)
{
    namespace p = corvane::platform;
    std::shared_ptr<p::DeviceInfoSet> set = p::find_set(DeviceInfoSet);
    if (!set)
        return FALSE;
    std::optional<size_t> position;
    if (!p::resolve(*set, DeviceInfoData, position))
        return p::fail(ERROR_INVALID_PARAMETER);

    std::optional<SP_PROPCHANGE_PARAMS> params;
    if (!ClassInstallParams) {
        if (ClassInstallParamsSize != 0)
            return p::fail(ERROR_INVALID_PARAMETER);
    } else {
        if (ClassInstallParamsSize < sizeof(SP_CLASSINSTALL_HEADER) ||
            ClassInstallParams->cbSize != sizeof(SP_CLASSINSTALL_HEADER))
            return p::fail(ERROR_INVALID_USER_BUFFER);
        // The property change is the one install function with parameters served here.
        if (ClassInstallParams->InstallFunction != DIF_PROPERTYCHANGE ||
            ClassInstallParamsSize != sizeof(SP_PROPCHANGE_PARAMS))
            return p::fail(ERROR_INVALID_PARAMETER);
        params.emplace();
        std::memcpy(&*params, ClassInstallParams, sizeof(SP_PROPCHANGE_PARAMS));
        if (!p::valid_property_change(*params))
            return p::fail(ERROR_INVALID_PARAMETER);
    }
    set->with_install_state(position, [&](p::InstallState &state) {
        state.property_change = params;
        if (params)
            state.flags |= DI_CLASSINSTALLPARAMS;
        else
            state.flags &= ~DI_CLASSINSTALLPARAMS;
    });
    return TRUE;
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      PSP_DEVINFO_DATA DeviceInfoData)
{
    namespace p = corvane::platform;
    std::shared_ptr<p::DeviceInfoSet> set = p::find_set(DeviceInfoSet);
    if (!set)
        return FALSE;
    if (InstallFunction != DIF_PROPERTYCHANGE)
        return p::fail(ERROR_NOT_SUPPORTED);
    const std::optional<size_t> position = set->node_position(DeviceInfoData);
    if (!position)
        return p::fail(ERROR_INVALID_PARAMETER);
    const std::optional<SP_PROPCHANGE_PARAMS> params =
        set->with_install_state(position, [](p::InstallState &state) { return state.property_change; });
    if (!params)
        return p::fail(ERROR_NO_CLASSINSTALL_PARAMS);

    switch (params->StateChange) {
    case DICS_ENABLE:
    case DICS_START: return TRUE; // every node here is present and started
    case DICS_PROPCHANGE: break;
    default: return p::fail(ERROR_NOT_SUPPORTED); // nodes here cannot be left stopped
    }

    const corvane::usb::Status status = p::restart_usb_node(set->nodes[*position]);
    if (status == corvane::usb::Status::busy) {
        // A device in use is not pulled from under its user: the change waits for the
        // device to be restarted later, as Windows says when a stop is vetoed.
        set->with_install_state(position, [](p::InstallState &state) { state.flags |= DI_NEEDRESTART; });
        return TRUE;
    }
    if (status != corvane::usb::Status::ok)
        return p::fail(p::restart_error(status));
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams)
{
    namespace p = corvane::platform;
    std::shared_ptr<p::DeviceInfoSet> set = p::find_set(DeviceInfoSet);
    if (!set)
        return FALSE;
    std::optional<size_t> position;
    if (!p::resolve(*set, DeviceInfoData, position))
        return p::fail(ERROR_INVALID_PARAMETER);
    if (!DeviceInstallParams || DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A))
        return p::fail(ERROR_INVALID_USER_BUFFER);
    const DWORD flags = set->with_install_state(position, [](p::InstallState &state) { return state.flags; });
    std::memset(reinterpret_cast<char *>(DeviceInstallParams) + sizeof(DWORD), 0,
                sizeof(SP_DEVINSTALL_PARAMS_A) - sizeof(DWORD));
    DeviceInstallParams->Flags = flags;
    return TRUE;
}
