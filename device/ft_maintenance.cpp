// Bus and driver maintenance: re-enumerating the USB root hubs, restarting the devices
// of a vendor and product, and the version and COM port queries.
//
// FT_Reload is the one function of the library that prints: a line per device it
// restarts, on standard output.
#include "device/c_boundary.h"
#include "device/handle_list.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace corvane::device;

namespace {

constexpr uint32_t library_version = 0x00030207; // 3.02.07

enum : unsigned {
    driver_version_request = 111,
    com_port_request = 114,
};

constexpr const char *root_hub_prefix = "USB\\ROOT_HUB";
constexpr const char *high_speed_root_hub = "USB\\ROOT_HUB20";

// The three outcomes of restarting one device, printed after its instance ID.
enum class Restart { done, needs_reboot, failed };

const char *restart_text(Restart outcome)
{
    switch (outcome) {
    case Restart::done: return "restarted";
    case Restart::needs_reboot: return "restart needs a reboot";
    default: return "restart failed";
    }
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equal_ignoring_case(const char *a, const char *b, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
        if (a[i] == '\0')
            return true;
    }
    return true;
}

// Owns a device information set of the setup classes; destroys it when it goes.
class DeviceSet {
public:
    DeviceSet(const GUID *setup_class, DWORD flags)
        : set_(SetupDiGetClassDevsExA(setup_class, nullptr, nullptr, flags, nullptr, nullptr, nullptr))
    {
        // The configuration manager is asked on the machine the set belongs to.
        SP_DEVINFO_LIST_DETAIL_DATA_A detail{};
        detail.cbSize = sizeof detail;
        if (usable() && SetupDiGetDeviceInfoListDetailA(set_, &detail))
            machine_ = detail.RemoteMachineHandle;
    }
    ~DeviceSet()
    {
        if (usable())
            SetupDiDestroyDeviceInfoList(set_);
    }
    DeviceSet(const DeviceSet &) = delete;
    DeviceSet &operator=(const DeviceSet &) = delete;

    bool usable() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
    HDEVINFO get() const { return set_; }
    HMACHINE machine() const { return machine_; }

    // The device at `index`; false at the end of the set or when the enumeration broke
    // off (the thread's last error tells which).
    bool device_at(DWORD index, SP_DEVINFO_DATA &device) const
    {
        device = SP_DEVINFO_DATA{};
        device.cbSize = sizeof device;
        return SetupDiEnumDeviceInfo(set_, index, &device) != FALSE;
    }

    // The device's instance ID, or "?" when it cannot be read whole.
    std::string instance_id(const SP_DEVINFO_DATA &device) const
    {
        char id[MAX_DEVICE_ID_LEN + 1] = {};
        if (CM_Get_Device_ID_ExA(device.DevInst, id, sizeof id, 0, machine_) != CR_SUCCESS)
            return "?";
        return id;
    }

private:
    HDEVINFO set_;
    HMACHINE machine_ = nullptr;
};

// ---- FT_Rescan ----

// The class GUIDs named "USB"; false when there are none or they cannot be had.
bool usb_class_guids(std::vector<GUID> &guids)
{
    guids.resize(16);
    for (;;) {
        DWORD required = 0;
        if (SetupDiClassGuidsFromNameExA("USB", guids.data(), static_cast<DWORD>(guids.size()), &required, nullptr,
                                         nullptr)) {
            guids.resize(required);
            return !guids.empty();
        }
        // The list may still grow between the two calls: ask again at the size it reports.
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= guids.size())
            return false;
        guids.resize(required);
    }
}

void reenumerate_root_hubs(const GUID &setup_class)
{
    DeviceSet set(&setup_class, DIGCF_PRESENT);
    if (!set.usable())
        return;
    SP_DEVINFO_DATA device;
    for (DWORD index = 0; set.device_at(index, device); ++index) {
        std::string id = set.instance_id(device);
        // "USB\ROOT_HUB20\..." begins with the same twelve characters.
        if (!equal_ignoring_case(id.c_str(), root_hub_prefix, 12))
            continue;
        DEVINST hub = 0;
        if (CM_Locate_DevNode_ExA(&hub, id.data(), CM_LOCATE_DEVNODE_NORMAL, set.machine()) == CR_SUCCESS)
            CM_Reenumerate_DevNode_Ex(hub, CM_REENUMERATE_NORMAL, set.machine());
    }
}

// ---- FT_Reload ----

// What a reload pass did, for FT_Reload's status.
struct PassOutcome {
    bool completed = false;  // the set was taken and enumerated to its end
    bool any_failed = false; // some matching device could not be restarted
};

// The IDs of one multi-string property; none when it cannot be read.
std::vector<std::string> read_ids(const DeviceSet &set, SP_DEVINFO_DATA &device, DWORD property)
{
    std::vector<char> buffer(8192);
    DWORD type = 0, required = 0;
    BOOL read =
        SetupDiGetDeviceRegistryPropertyA(set.get(), &device, property, &type, reinterpret_cast<PBYTE>(buffer.data()),
                                          static_cast<DWORD>(buffer.size()), &required);
    if (!read && GetLastError() == ERROR_INSUFFICIENT_BUFFER && type == REG_MULTI_SZ && required > buffer.size()) {
        buffer.resize(required);
        read = SetupDiGetDeviceRegistryPropertyA(set.get(), &device, property, &type,
                                                 reinterpret_cast<PBYTE>(buffer.data()),
                                                 static_cast<DWORD>(buffer.size()), &required);
    }
    std::vector<std::string> ids;
    if (!read)
        return ids;
    // Only the bytes the call wrote count, and a last string without its NUL ends there
    // rather than running on past the buffer.
    const size_t size = required < buffer.size() ? required : buffer.size();
    size_t start = 0;
    for (size_t at = 0; at <= size; ++at) {
        if (at < size && buffer[at] != '\0')
            continue;
        if (at == start)
            break; // the empty string that ends the list
        ids.emplace_back(buffer.data() + start, at - start);
        start = at + 1;
    }
    return ids;
}

bool matches(const DeviceSet &set, SP_DEVINFO_DATA &device, const std::string &pattern)
{
    for (DWORD property : {DWORD{SPDRP_HARDWAREID}, DWORD{SPDRP_COMPATIBLEIDS}})
        for (const std::string &id : read_ids(set, device, property))
            if (id.size() == pattern.size() && equal_ignoring_case(id.c_str(), pattern.c_str(), id.size()))
                return true;
    return false;
}

// Asks the class installer to restart the device.
Restart restart(const DeviceSet &set, SP_DEVINFO_DATA &device)
{
    SP_PROPCHANGE_PARAMS change{};
    change.ClassInstallHeader.cbSize = sizeof change.ClassInstallHeader;
    change.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    change.StateChange = DICS_PROPCHANGE;
    change.Scope = DICS_FLAG_CONFIGSPECIFIC;
    change.HwProfile = 0;
    if (!SetupDiSetClassInstallParamsA(set.get(), &device, &change.ClassInstallHeader, sizeof change) ||
        !SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set.get(), &device))
        return Restart::failed;
    SP_DEVINSTALL_PARAMS_A install{};
    install.cbSize = sizeof install;
    if (SetupDiGetDeviceInstallParamsA(set.get(), &device, &install) &&
        (install.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0)
        return Restart::needs_reboot;
    return Restart::done;
}

PassOutcome reload_pass(const std::string &pattern)
{
    PassOutcome outcome;
    DeviceSet set(nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (!set.usable())
        return outcome;
    SP_DEVINFO_DATA device;
    DWORD index = 0;
    for (; set.device_at(index, device); ++index) {
        if (!matches(set, device, pattern))
            continue;
        // Read before the restart: a device that comes back under a new identity is
        // known by a new instance ID, and the line names the one that was restarted.
        const std::string id = set.instance_id(device);
        const Restart restarted = restart(set, device);
        if (restarted == Restart::failed)
            outcome.any_failed = true;
        std::printf("%-60s: %s\n", id.c_str(), restart_text(restarted));
        std::fflush(stdout);
    }
    outcome.completed = GetLastError() == ERROR_NO_MORE_ITEMS;
    return outcome;
}

std::string device_pattern(uint16_t vendor_id, uint16_t product_id)
{
    char pattern[32];
    std::snprintf(pattern, sizeof pattern, "USB\\VID_%04X&PID_%04X", static_cast<unsigned>(vendor_id),
                  static_cast<unsigned>(product_id));
    return pattern;
}

// A getter whose answer the driver writes into the caller's 32-bit variable.
FtdevStatus get_u32(FtdevHandle handle, unsigned index, void *variable)
{
    if (!is_open(handle))
        return FTDEV_INVALID_HANDLE;
    if (variable == nullptr)
        return FTDEV_INVALID_PARAMETER;
    uint32_t returned = 0;
    return FT_IoCtl(handle, request_code(index), nullptr, 0, variable, 4, &returned, nullptr);
}

} // namespace

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Rescan(void)
{
    return guarded([]() -> FtdevStatus {
        std::vector<GUID> classes;
        try {
            if (!usb_class_guids(classes))
                return FTDEV_OTHER_ERROR;
        } catch (const std::bad_alloc &) {
            return FTDEV_OTHER_ERROR;
        }
        for (const GUID &setup_class : classes)
            reenumerate_root_hubs(setup_class);
        return FTDEV_OK;
    });
}

// A pass that could not take or walk its set returns FTDEV_OTHER_ERROR, and one in which
// a matching device could not be restarted FTDEV_IO_ERROR, so that a caller that does
// not see the console still learns of it. A restart that waits for a reboot was
// accepted: its line says so and the status stays FTDEV_OK.
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Reload(uint32_t vendor_id, uint32_t product_id)
{
    return guarded([&]() -> FtdevStatus {
        const auto vendor = static_cast<uint16_t>(vendor_id);
        const auto product = static_cast<uint16_t>(product_id);
        std::vector<PassOutcome> passes;
        if (vendor == 0 && product == 0) {
            passes.push_back(reload_pass(root_hub_prefix));
            passes.push_back(reload_pass(high_speed_root_hub));
        } else {
            passes.push_back(reload_pass(device_pattern(vendor, product)));
        }
        FtdevStatus status = FTDEV_OK;
        for (const PassOutcome &pass : passes) {
            if (!pass.completed)
                return FTDEV_OTHER_ERROR;
            if (pass.any_failed)
                status = FTDEV_IO_ERROR;
        }
        return status;
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetDriverVersion(FtdevHandle handle, uint32_t *version)
{
    return guarded([&] { return get_u32(handle, driver_version_request, version); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetLibraryVersion(uint32_t *version)
{
    if (version == nullptr)
        return FTDEV_INVALID_PARAMETER;
    *version = library_version;
    return FTDEV_OK;
}

// Port 0 is the driver's way of saying the channel has no COM port.
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetComPortNumber(FtdevHandle handle, int32_t *port_number)
{
    return guarded([&]() -> FtdevStatus {
        const FtdevStatus status = get_u32(handle, com_port_request, port_number);
        if (port_number != nullptr && status != FTDEV_INVALID_HANDLE && *port_number == 0)
            *port_number = -1;
        return status;
    });
}
