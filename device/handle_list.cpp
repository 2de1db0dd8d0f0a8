#include "device/handle_list.h"

#include <new>

namespace corvane::device {
namespace {

HandleRecord *list_head = nullptr;

// Created on first use and never destroyed: a record may outlive every static object,
// since a handle that is not closed stays open until the process ends.
HANDLE handle_mutex()
{
    static const HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    return mutex;
}

HANDLE device_list_mutex()
{
    static const HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    return mutex;
}

HandleRecord *find_locked(const void *address)
{
    for (HandleRecord *record = list_head; record != nullptr; record = record->next)
        if (record == address)
            return record;
    return nullptr;
}

} // namespace

HandleLock::HandleLock()
{
    WaitForSingleObject(handle_mutex(), INFINITE);
}
HandleLock::~HandleLock()
{
    ReleaseMutex(handle_mutex());
}

DeviceListLock::DeviceListLock()
{
    WaitForSingleObject(device_list_mutex(), INFINITE);
}
DeviceListLock::~DeviceListLock()
{
    ReleaseMutex(device_list_mutex());
}

bool is_open(FtdevHandle handle)
{
    HandleLock lock;
    return find_locked(handle) != nullptr;
}

HandleRecord *find_open(FtdevHandle handle)
{
    HandleLock lock;
    return find_locked(handle);
}

HandleRecord *add_record()
{
    HandleRecord *record = new (std::nothrow) HandleRecord{};
    if (record == nullptr)
        return nullptr;
    record->next = list_head;
    list_head = record;
    return record;
}

FtdevStatus remove_record(HandleRecord *record)
{
    for (HandleRecord **link = &list_head; *link != nullptr; link = &(*link)->next) {
        if (*link == record) {
            *link = record->next;
            delete record;
            return FTDEV_OK;
        }
    }
    return FTDEV_DEVICE_NOT_FOUND;
}

HandleRecord *find_by_instance(DEVINST instance)
{
    if (instance == 0)
        return nullptr;
    HandleLock lock;
    for (HandleRecord *record = list_head; record != nullptr; record = record->next)
        if (record->device_instance == instance)
            return record;
    return nullptr;
}

} // namespace corvane::device
