// Opening devices: FT_Open by index, FT_OpenEx by serial number, description or location.
#include "device/c_boundary.h"
#include "device/enumeration.h"
#include "device/handle_list.h"

#include <cstdlib>
#include <cstring>

using namespace corvane::device;

namespace {

// The device's interface path, in a heap block the record owns until close: a size word
// set to what the interface class expects, then the NUL-terminated path.
FtdevStatus fetch_path_block(const PresentDevices &present, DWORD index, SP_DEVICE_INTERFACE_DETAIL_DATA_A **block_out)
{
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = sizeof interface_data;
    if (!SetupDiEnumDeviceInterfaces(present.set(), nullptr, &device_interface_class, index, &interface_data))
        return FTDEV_DEVICE_NOT_FOUND;
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(present.set(), &interface_data, nullptr, 0, &required, nullptr);
    if (required <= sizeof(DWORD))
        return FTDEV_DEVICE_NOT_FOUND;
    auto *block = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(std::calloc(1, required));
    if (block == nullptr)
        return FTDEV_INSUFFICIENT_RESOURCES;
    // The fixed part's size as this build's SetupAPI counts it: 5 bytes where its records
    // are packed (32-bit Windows), 8 on 64-bit Windows, which refuses a 5.
    block->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(present.set(), &interface_data, block, required, nullptr, nullptr)) {
        std::free(block);
        return FTDEV_DEVICE_NOT_FOUND;
    }
    // The path is used as a C string: never let it run past the block.
    reinterpret_cast<char *>(block)[required - 1] = '\0';
    *block_out = block;
    return FTDEV_OK;
}

// The device's identity as the open records it. A device that answers the information
// request under neither table still opens; it is then recorded as a chip the library does
// not know (type 3) with id 0 and empty texts, so the EEPROM library falls back to its
// generic layout and the device list shows it plainly.
void identify(HandleRecord *record)
{
    uint32_t type = FTDEV_DEVICE_UNKNOWN;
    uint32_t id = 0;
    char serial_number[16] = {};
    char description[64] = {};
    if (FT_GetDeviceInfo(record, &type, &id, serial_number, description, nullptr) != FTDEV_OK) {
        // This driver answers only the other generation of codes.
        record->request_table = alternate_requests;
        FT_GetDeviceInfo(record, &type, &id, serial_number, description, nullptr);
    }
    record->device_type = type;
    record->listed_device_type = type;
    record->id = id;
    std::memcpy(record->serial_number, serial_number, sizeof serial_number);
    std::memcpy(record->description, description, sizeof description);
    record->self = record;
}

} // namespace

namespace corvane::device {

FtdevStatus open_device(DWORD index, const CreateParameters &parameters, FtdevHandle *handle)
{
    HandleLock lock;
    PresentDevices present;
    if (!present.usable())
        return FTDEV_DEVICE_NOT_FOUND;

    SP_DEVICE_INTERFACE_DETAIL_DATA_A *path_block = nullptr;
    const FtdevStatus path_status = fetch_path_block(present, index, &path_block);
    if (path_status != FTDEV_OK)
        return path_status;
    DEVINST instance = 0;
    if (!present.instance_at(index, &instance))
        instance = 0;

    HANDLE driver_handle =
        CreateFileA(path_block->DevicePath, parameters.access, parameters.share_mode, parameters.security,
                    parameters.disposition, parameters.flags, parameters.template_file);
    if (driver_handle == INVALID_HANDLE_VALUE || driver_handle == nullptr) {
        std::free(path_block);
        return FTDEV_DEVICE_NOT_OPENED;
    }

    HandleRecord *record = add_record();
    if (record == nullptr) {
        CloseHandle(driver_handle);
        std::free(path_block);
        return FTDEV_INSUFFICIENT_RESOURCES;
    }
    record->driver_handle = driver_handle;
    record->open_flags = parameters.flags;
    record->path_block = path_block;
    record->device_instance = instance;
    record->request_table = primary_requests;

    identify(record);
    uint16_t packet_size = 0;
    if (query_packet_size(record, &packet_size) == FTDEV_OK)
        record->packet_size = packet_size;

    *handle = record;
    return FTDEV_OK;
}

} // namespace corvane::device

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Open(uint32_t device_index, FtdevHandle *handle)
{
    return guarded([&]() -> FtdevStatus {
        if (handle == nullptr)
            return FTDEV_INVALID_PARAMETER;
        return open_device(device_index, CreateParameters{}, handle);
    });
}

// The first device whose property equals the value stays open. The caller's handle
// variable is written only then: devices opened and closed on the way never leave a
// dead handle value behind for the caller to use.
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_OpenEx(void *value, uint32_t flags, FtdevHandle *handle)
{
    return guarded([&]() -> FtdevStatus {
        unsigned request;
        if (flags & FTDEV_OPEN_BY_SERIAL_NUMBER)
            request = serial_number_request;
        else if (flags & FTDEV_OPEN_BY_DESCRIPTION)
            request = description_request;
        else if (flags & FTDEV_OPEN_BY_LOCATION)
            request = location_request;
        else
            return FTDEV_INVALID_PARAMETER;
        if (handle == nullptr || (request != location_request && value == nullptr))
            return FTDEV_INVALID_PARAMETER;

        DWORD count = 0;
        FtdevStatus status = count_devices(&count);
        if (status != FTDEV_OK)
            return status;
        status = FTDEV_DEVICE_NOT_FOUND;
        FtdevHandle found = nullptr;
        for (DWORD index = 0; index < count && found == nullptr; ++index) {
            FtdevHandle candidate = nullptr;
            status = FT_Open(index, &candidate);
            if (status != FTDEV_OK)
                continue;
            PropertyReply reply;
            if (read_property(candidate, request, &reply) == FTDEV_OK && property_matches(reply, request, value)) {
                found = candidate;
            } else {
                FT_Close(candidate);
                status = FTDEV_DEVICE_NOT_FOUND;
            }
        }
        if (found == nullptr)
            return status;

        // The EEPROM library chooses its layout by this field; the listed type stays as
        // the open found it.
        uint32_t type = 0;
        if (FT_GetDeviceInfo(found, &type, nullptr, nullptr, nullptr, nullptr) == FTDEV_OK) {
            HandleLock lock;
            if (HandleRecord *record = find_open(found))
                record->device_type = type;
        }
        *handle = found;
        return FTDEV_OK;
    });
}
