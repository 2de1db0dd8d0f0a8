// The data calls in the platform's file conventions: reads and writes (overlapped on a
// device opened with FILE_FLAG_OVERLAPPED), their results, cancelling them, and the
// thread's last error.
#include "device/ft_w32_boundary.h"

using namespace corvane::device;

// The count is cleared and passed on only when the caller gave one: an overlapped caller
// may pass none and take the count from FT_W32_GetOverlappedResult.
extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_ReadFile(FtdevHandle handle, void *buffer, uint32_t bytes_to_read,
                                                             uint32_t *bytes_read, struct _OVERLAPPED *overlapped)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        DWORD moved = 0;
        const BOOL done = ReadFile(record->driver_handle, buffer, bytes_to_read,
                                   bytes_read != nullptr ? &moved : nullptr, overlapped);
        if (bytes_read != nullptr)
            *bytes_read = moved;
        return done;
    });
}

extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_WriteFile(FtdevHandle handle, const void *buffer,
                                                              uint32_t bytes_to_write, uint32_t *bytes_written,
                                                              struct _OVERLAPPED *overlapped)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        DWORD moved = 0;
        const BOOL done = WriteFile(record->driver_handle, buffer, bytes_to_write,
                                    bytes_written != nullptr ? &moved : nullptr, overlapped);
        if (bytes_written != nullptr)
            *bytes_written = moved;
        return done;
    });
}

extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_GetOverlappedResult(FtdevHandle handle,
                                                                        struct _OVERLAPPED *overlapped,
                                                                        uint32_t *bytes_transferred, FtdevBool wait)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        DWORD moved = 0;
        const BOOL done = GetOverlappedResult(record->driver_handle, overlapped, &moved, wait);
        if (bytes_transferred != nullptr)
            *bytes_transferred = moved;
        return done;
    });
}

extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_CancelIo(FtdevHandle handle)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        return CancelIo(record->driver_handle);
    });
}

// Kept per thread by the platform, never per handle: the handle is not looked at.
extern "C" FTDEV_EXPORT uint32_t FTDEV_CALL FT_W32_GetLastError(FtdevHandle handle)
{
    return GetLastError();
}
