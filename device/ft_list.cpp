// Asking devices who they are: FT_GetDeviceInfo on an open device, FT_ListDevices over
// all attached ones.
#include "device/c_boundary.h"
#include "device/enumeration.h"
#include "device/handle_list.h"

#include <cstring>

using namespace corvane::device;

namespace {

constexpr unsigned device_information_request = 102;
constexpr uint32_t information_unanswered = FTDEV_NOT_SUPPORTED;

// The reply of the device information request, sent and received in place.
struct DeviceInformation {
    uint32_t status; // set before the request; the driver clears it when it answers
    uint32_t chip_code;
    uint32_t id;
    uint32_t reserved;
    char serial_number[16];
    char description[64];
};
static_assert(sizeof(DeviceInformation) == 96);

uint32_t device_type_of(uint32_t chip_code)
{
    struct Chip {
        uint32_t code;
        uint32_t type;
    };
    static constexpr Chip chips[] = {
        {0x40360011, FTDEV_DEVICE_232B},  {0x40360010, FTDEV_DEVICE_232AM}, {0x40383720, FTDEV_DEVICE_LEGACY},
        {0x40360100, FTDEV_DEVICE_2232},  {0x40360012, FTDEV_DEVICE_232R},  {0x40360101, FTDEV_DEVICE_2232H},
        {0x40360110, FTDEV_DEVICE_4232H}, {0x40360140, FTDEV_DEVICE_232H},  {0x40360150, FTDEV_DEVICE_X_SERIES},
    };
    for (const Chip &chip : chips)
        if (chip.code == chip_code)
            return chip.type;
    return FTDEV_DEVICE_UNKNOWN;
}

// A text field of a driver reply into a caller's buffer of the same size, always ended:
// a field the driver filled to the brim loses its last byte rather than running on.
template <size_t Size>
void copy_text(char *destination, const char (&field)[Size])
{
    const size_t length = strnlen(field, Size - 1);
    std::memcpy(destination, field, length);
    destination[length] = '\0';
}

// A text property as FT_ListDevices hands it out: the bytes the driver returned and one
// zero byte, never more than the 64 bytes a caller's buffer holds.
void copy_property_text(char *destination, const PropertyReply &reply)
{
    const size_t length = reply.returned < sizeof reply.bytes ? reply.returned : sizeof reply.bytes - 1;
    std::memcpy(destination, reply.bytes, length);
    destination[length] = '\0';
}

uint32_t property_location(const PropertyReply &reply)
{
    uint32_t location;
    std::memcpy(&location, reply.bytes, sizeof location);
    return location;
}

enum class ListMode { count_only, by_index, all };

} // namespace

// A handle that is not open is refused with status 1 like everywhere else; 17 stays for a
// device that does not answer.
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetDeviceInfo(FtdevHandle handle, uint32_t *type, uint32_t *id,
                                                                char *serial_number, char *description,
                                                                uint32_t *reserved)
{
    return guarded([&]() -> FtdevStatus {
        if (!is_open(handle))
            return FTDEV_INVALID_HANDLE;
        DeviceInformation information{};
        information.status = information_unanswered;
        uint32_t returned = 0;
        const FtdevStatus status = FT_IoCtl(handle, request_code(device_information_request), &information,
                                            sizeof information, &information, sizeof information, &returned, nullptr);
        if (status != FTDEV_OK)
            return information_unanswered;
        if (information.status != 0)
            return information.status;
        if (type != nullptr)
            *type = device_type_of(information.chip_code);
        if (id != nullptr)
            *id = information.id;
        if (serial_number != nullptr)
            copy_text(serial_number, information.serial_number);
        if (description != nullptr)
            copy_text(description, information.description);
        if (reserved != nullptr)
            *reserved = information.reserved;
        return FTDEV_OK;
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_ListDevices(void *first, void *second, uint32_t flags)
{
    return guarded([&]() -> FtdevStatus {
        DWORD count = 0;
        FtdevStatus status = count_devices(&count);
        if (status != FTDEV_OK)
            return status;

        ListMode mode;
        switch (flags & FTDEV_LIST_MODE_MASK) {
        case FTDEV_LIST_COUNT_ONLY: mode = ListMode::count_only; break;
        case FTDEV_LIST_BY_INDEX: mode = ListMode::by_index; break;
        case FTDEV_LIST_ALL: mode = ListMode::all; break;
        default: return FTDEV_INVALID_PARAMETER;
        }
        if (mode == ListMode::count_only) {
            if (first == nullptr)
                return FTDEV_INVALID_PARAMETER;
            *static_cast<uint32_t *>(first) = count;
            return FTDEV_OK;
        }
        if (second == nullptr || (mode == ListMode::all && first == nullptr))
            return FTDEV_INVALID_PARAMETER;
        if (mode == ListMode::all)
            *static_cast<uint32_t *>(second) = count;

        const unsigned request = (flags & FTDEV_OPEN_BY_DESCRIPTION) ? description_request
                                 : (flags & FTDEV_OPEN_BY_LOCATION)  ? location_request
                                                                     : serial_number_request;
        const bool wants_location = request == location_request;
        const DWORD wanted_index = static_cast<DWORD>(reinterpret_cast<uintptr_t>(first));
        // Mode all: the caller's array of text buffers (ended by a null pointer, after which
        // nothing more is copied) or of locations, and the next entry to fill.
        auto *const texts = static_cast<char **>(first);
        auto *const locations = static_cast<uint32_t *>(first);
        DWORD next = 0;

        status = FTDEV_DEVICE_NOT_FOUND;
        for (DWORD index = 0; index < count; ++index) {
            if (mode == ListMode::by_index && index != wanted_index)
                continue;
            FtdevHandle handle = nullptr;
            status = FT_Open(index, &handle);
            if (status != FTDEV_OK) {
                // A device held open somewhere still takes its place in the array, empty.
                if (mode == ListMode::all) {
                    if (wants_location)
                        locations[next++] = 0;
                    else if (texts[next] != nullptr)
                        texts[next++][0] = '\0';
                }
                continue;
            }
            PropertyReply reply;
            status = read_property(handle, request, &reply);
            if (status == FTDEV_OK) {
                if (mode == ListMode::by_index) {
                    if (wants_location)
                        *static_cast<uint32_t *>(second) = property_location(reply);
                    else
                        copy_property_text(static_cast<char *>(second), reply);
                    FT_Close(handle);
                    return FTDEV_OK;
                }
                if (wants_location)
                    locations[next++] = property_location(reply);
                else if (texts[next] != nullptr)
                    copy_property_text(texts[next++], reply);
            }
            FT_Close(handle);
        }
        return status;
    });
}
