#include "device/enumeration.h"

#include <cstring>

namespace corvane::device {

const GUID device_interface_class = {0x219D0508, 0x57A8, 0x4FF5, {0x97, 0xA1, 0xBD, 0x86, 0x58, 0x7C, 0x6C, 0x7E}};

PresentDevices::PresentDevices()
    : set_(SetupDiGetClassDevsA(&device_interface_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE))
{}

PresentDevices::~PresentDevices()
{
    if (usable())
        SetupDiDestroyDeviceInfoList(set_);
}

DWORD PresentDevices::count() const
{
    if (!usable())
        return 0;
    DWORD index = 0;
    for (;; ++index) {
        SP_DEVICE_INTERFACE_DATA interface_data{};
        interface_data.cbSize = sizeof interface_data;
        if (!SetupDiEnumDeviceInterfaces(set_, nullptr, &device_interface_class, index, &interface_data))
            return index;
    }
}

bool PresentDevices::instance_at(DWORD index, DEVINST *instance) const
{
    if (!usable())
        return false;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    if (!SetupDiEnumDeviceInfo(set_, index, &info))
        return false;
    *instance = info.DevInst;
    return true;
}

FtdevStatus count_devices(DWORD *count)
{
    PresentDevices present;
    // An invalid list holds no devices either; only the device list reports it apart.
    if (!present.usable())
        return FTDEV_DEVICE_NOT_FOUND;
    *count = present.count();
    return FTDEV_OK;
}

FtdevStatus read_property(FtdevHandle handle, unsigned request_index, PropertyReply *reply)
{
    std::memset(reply->bytes, 0, sizeof reply->bytes);
    reply->returned = 0;
    return FT_IoCtl(handle, request_code(request_index), reply->bytes, sizeof reply->bytes, reply->bytes,
                    sizeof reply->bytes, &reply->returned, nullptr);
}

bool property_matches(const PropertyReply &reply, unsigned request_index, const void *value)
{
    if (request_index == location_request) {
        uint32_t location;
        std::memcpy(&location, reply.bytes, sizeof location);
        return location == static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
    }
    // The caller's text is read only as far as it agrees with the reply, so a long text
    // is never read beyond its first difference.
    const auto *text = static_cast<const unsigned char *>(value);
    for (size_t i = 0; i < sizeof reply.bytes; ++i) {
        if (reply.bytes[i] != text[i])
            return false;
        if (text[i] == '\0')
            return true;
    }
    return false; // the reply filled all 64 bytes without ending: it cannot equal a text
}

} // namespace corvane::device
