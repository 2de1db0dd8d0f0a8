// What the COM-style functions share: the C boundary in their result convention, the
// handle check, and one comm request straight through the record's request table.
#ifndef CORVANE_DEVICE_FT_W32_BOUNDARY_H
#define CORVANE_DEVICE_FT_W32_BOUNDARY_H

#include "device/handle_list.h"

#include <new>

namespace corvane::device {

// Runs the body of a COM-style function that returns a BOOL: an exception that escapes
// it becomes FALSE with a last error instead of ending the caller.
template <typename Body>
FtdevBool guarded_bool(Body &&body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        SetLastError(ERROR_GEN_FAILURE);
    }
    return FALSE;
}

// The record of an open device handle, or nullptr with ERROR_INVALID_HANDLE as the last
// error: a closed handle fails the way a closed file handle does.
inline HandleRecord *open_record(FtdevHandle handle)
{
    HandleRecord *record = find_open(handle);
    if (record == nullptr)
        SetLastError(ERROR_INVALID_HANDLE);
    return record;
}

inline FtdevBool fail_with(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// One request to the driver by its index in the record's table, with the caller's
// overlapped record when there is one; the platform's BOOL and last error unchanged.
inline FtdevBool send_comm(const HandleRecord *record, unsigned index, void *in, DWORD in_size, void *out,
                           DWORD out_size, LPOVERLAPPED overlapped = nullptr)
{
    DWORD returned = 0;
    return DeviceIoControl(record->driver_handle, record->request_table[index], in, in_size, out, out_size, &returned,
                           overlapped);
}

// Request indexes of the COM-style calls.
enum : unsigned {
    comm_break_on = 68,
    comm_break_off = 69,
    comm_set_timeouts = 71,
    comm_get_timeouts = 72,
    comm_set_dtr = 73,
    comm_clear_dtr = 74,
    comm_set_rts = 76,
    comm_clear_rts = 77,
    comm_purge = 83,
    comm_modem_status = 90,
    comm_set_mask = 97,
    comm_wait_event = 98,
    comm_errors = 99,
    comm_set_state = 100,
    comm_get_state = 101,
    comm_get_mask = 112,
};

} // namespace corvane::device

#endif // CORVANE_DEVICE_FT_W32_BOUNDARY_H
