// GetOverlappedResult and CancelIo. Device files take no overlapped records yet (their
// reads, writes and requests refuse one with ERROR_NOT_SUPPORTED), so no operation can be
// outstanding: there is never a result to collect and nothing to cancel.
#include "platform/platform.h"
#include "platform/posix/device_file_object.h"
#include "platform/posix/handle_table.h"

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                BOOL bWait) {
    if (!corvane::platform::find_handle_of<corvane::platform::DeviceFileObject>(hFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpNumberOfBytesTransferred)
        *lpNumberOfBytesTransferred = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI CancelIo(HANDLE hFile) {
    if (!corvane::platform::find_handle_of<corvane::platform::DeviceFileObject>(hFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
