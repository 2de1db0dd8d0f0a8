// The device list: a process-wide snapshot of the attached devices, one node per device
// in index order, built by briefly opening each device.
#include "device/c_boundary.h"
#include "device/enumeration.h"
#include "device/handle_list.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>

using namespace corvane::device;

// Callers copy nodes as raw records: 96 bytes of fields, then the handle, which makes the
// node 100 bytes on 32-bit builds and 104 on 64-bit ones (96 is already 8-aligned).
static_assert(offsetof(FtdevDeviceNode, flags) == 0 && offsetof(FtdevDeviceNode, type) == 4 &&
              offsetof(FtdevDeviceNode, id) == 8 && offsetof(FtdevDeviceNode, location_id) == 12);
static_assert(offsetof(FtdevDeviceNode, serial_number) == 16 && offsetof(FtdevDeviceNode, description) == 32 &&
              offsetof(FtdevDeviceNode, handle) == 96);
static_assert(sizeof(FtdevDeviceNode) == 96 + sizeof(FtdevHandle));
#if defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 4
static_assert(sizeof(FtdevDeviceNode) == 100);
#elif defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 8
static_assert(sizeof(FtdevDeviceNode) == 104);
#endif

namespace {

// Guarded by the device list lock. The count is also read without the lock for the
// quick bounds test of FT_GetDeviceInfoDetail, which is made again under the lock.
FtdevDeviceNode *list_nodes = nullptr;
std::atomic<uint32_t> list_count{0};

void clear_list()
{
    delete[] list_nodes;
    list_nodes = nullptr;
    list_count = 0;
}

uint32_t node_flags(uint32_t base, const HandleRecord &record)
{
    return base | (record.packet_size > 64 ? uint32_t{FTDEV_NODE_HIGH_SPEED} : 0u);
}

uint32_t location_of(FtdevHandle handle)
{
    uint32_t location = 0;
    uint32_t returned = 0;
    if (FT_IoCtl(handle, request_code(location_request), &location, sizeof location, &location, sizeof location,
                 &returned, nullptr) != FTDEV_OK)
        return 0;
    return location;
}

void fill_from_record(FtdevDeviceNode &node, uint32_t base_flags, const HandleRecord &record)
{
    node.flags = node_flags(base_flags, record);
    node.type = record.listed_device_type;
    node.id = record.id;
    std::memcpy(node.serial_number, record.serial_number, sizeof node.serial_number);
    std::memcpy(node.description, record.description, sizeof node.description);
}

// A device we could open: described from its fresh record, then closed again. The handle
// lock is held throughout so that no other thread's close can free the record under us.
void fill_free_device(FtdevDeviceNode &node, FtdevHandle handle)
{
    HandleLock lock;
    if (const HandleRecord *record = find_open(handle)) {
        fill_from_record(node, 0, *record);
        node.location_id = location_of(handle);
    }
    node.handle = nullptr;
    FT_Close(handle);
}

// A device that would not open: ours when a record of this process holds its instance,
// someone else's otherwise (listed open, type unknown, nothing more).
void fill_busy_device(FtdevDeviceNode &node, DEVINST instance)
{
    std::memset(&node, 0, sizeof node);
    HandleLock lock;
    if (const HandleRecord *record = find_by_instance(instance)) {
        fill_from_record(node, FTDEV_NODE_OPEN, *record);
        node.handle = record->self;
        node.location_id = location_of(record->self);
    } else {
        node.flags = FTDEV_NODE_OPEN;
        node.type = FTDEV_DEVICE_UNKNOWN;
    }
}

} // namespace

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_CreateDeviceInfoList(uint32_t *device_count)
{
    return guarded([&]() -> FtdevStatus {
        if (device_count == nullptr)
            return FTDEV_INVALID_PARAMETER;
        DeviceListLock list_lock;
        clear_list();
        *device_count = 0;

        PresentDevices present;
        if (present.missing())
            return FTDEV_DEVICE_NOT_FOUND;
        if (present.invalid())
            return FTDEV_OTHER_ERROR;
        const DWORD count = present.count();
        if (count == 0)
            return FTDEV_OK;

        auto *nodes = new (std::nothrow) FtdevDeviceNode[count]{};
        if (nodes == nullptr)
            return FTDEV_INSUFFICIENT_RESOURCES;
        for (DWORD index = 0; index < count; ++index) {
            FtdevHandle handle = nullptr;
            if (FT_Open(index, &handle) == FTDEV_OK) {
                fill_free_device(nodes[index], handle);
                continue;
            }
            DEVINST instance = 0;
            if (!present.instance_at(index, &instance)) {
                // Without the instance the device cannot be told apart from the others:
                // the whole list is given up rather than half a list handed out.
                delete[] nodes;
                return FTDEV_OK;
            }
            fill_busy_device(nodes[index], instance);
        }
        list_nodes = nodes;
        list_count = count;
        *device_count = count;
        return FTDEV_OK;
    });
}

// The destination must hold as many nodes as the last build reported; the count is
// only written.
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetDeviceInfoList(FtdevDeviceNode *nodes, uint32_t *device_count)
{
    return guarded([&]() -> FtdevStatus {
        if (device_count == nullptr)
            return FTDEV_INVALID_PARAMETER;
        DeviceListLock list_lock;
        const uint32_t count = list_count;
        if (nodes != nullptr && list_nodes != nullptr)
            std::memcpy(nodes, list_nodes, count * sizeof *nodes);
        *device_count = count;
        return FTDEV_OK;
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetDeviceInfoDetail(uint32_t index, uint32_t *flags, uint32_t *type,
                                                                      uint32_t *id, uint32_t *location_id,
                                                                      char *serial_number, char *description,
                                                                      FtdevHandle *handle)
{
    return guarded([&]() -> FtdevStatus {
        if (index >= list_count)
            return FTDEV_DEVICE_NOT_FOUND;
        DeviceListLock list_lock;
        // The list may have been rebuilt since the quick test.
        if (list_nodes == nullptr || index >= list_count)
            return FTDEV_DEVICE_NOT_FOUND;
        const FtdevDeviceNode &node = list_nodes[index];
        if (flags != nullptr)
            *flags = node.flags;
        if (type != nullptr)
            *type = node.type;
        if (id != nullptr)
            *id = node.id;
        if (serial_number != nullptr)
            std::memcpy(serial_number, node.serial_number, sizeof node.serial_number);
        if (description != nullptr)
            std::memcpy(description, node.description, sizeof node.description);
        if (handle != nullptr)
            *handle = node.handle;
        if (location_id != nullptr)
            *location_id = node.location_id;
        return FTDEV_OK;
    });
}
