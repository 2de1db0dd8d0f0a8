// The process-wide handle list and the two locks of the device library.
//
// Lock order: the device list lock, then the handle lock; never the other way round.
// Both are recursive for the thread that holds them (FT_Open holds the handle lock
// while it asks the device for its information through the exported functions).
#ifndef CORVANE_DEVICE_HANDLE_LIST_H
#define CORVANE_DEVICE_HANDLE_LIST_H

#include "device/handle_record.h"

namespace corvane::device {

// Holds the handle lock for its lifetime. Guards the handle list and every record's
// fields while a record might be closed by another thread.
class HandleLock {
public:
    HandleLock();
    ~HandleLock();
    HandleLock(const HandleLock &) = delete;
    HandleLock &operator=(const HandleLock &) = delete;
};

// Holds the device list lock for its lifetime (device_list.cpp's snapshot).
class DeviceListLock {
public:
    DeviceListLock();
    ~DeviceListLock();
    DeviceListLock(const DeviceListLock &) = delete;
    DeviceListLock &operator=(const DeviceListLock &) = delete;
};

// True when a record of the list has this address. Compares addresses only: a value
// that was never handed out is never read through. Takes the handle lock.
bool is_open(FtdevHandle handle);

// A new zero-filled record linked in at the head (the list runs newest first), or
// nullptr when memory runs out. The caller holds the handle lock.
HandleRecord *add_record();

// Unlinks and frees the record: FTDEV_OK, or FTDEV_DEVICE_NOT_FOUND when it is not in
// the list. The caller holds the handle lock.
FtdevStatus remove_record(HandleRecord *record);

// The newest record opened on this device instance, or nullptr. Instance 0 stands for
// "not known" and matches nothing. Takes the handle lock for the walk; a caller that
// reads the record afterwards holds the lock itself for as long as it uses it.
HandleRecord *find_by_instance(DEVINST instance);

// Request 113: the device's bulk packet size (defined with the control requests).
FtdevStatus query_packet_size(FtdevHandle handle, uint16_t *packet_size);

} // namespace corvane::device

#endif // CORVANE_DEVICE_HANDLE_LIST_H
