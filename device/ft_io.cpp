// The data path and the general request: FT_IoCtl, FT_Read, FT_Write, FT_Close.
#include "device/c_boundary.h"
#include "device/handle_list.h"

#include <cstdlib>

using namespace corvane::device;

namespace {
constexpr uint32_t alternate_function_base = 0x800;
}

// The caller may pass a code of either driver generation: only the function number in
// bits 2 to 13 counts, and the handle's table turns it into the code its driver knows.
// The other generation numbers its functions from 0x800, so that offset is set aside.
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_IoCtl(FtdevHandle handle, uint32_t request_code, void *in_buffer,
                                                        uint32_t in_size, void *out_buffer, uint32_t out_size,
                                                        uint32_t *bytes_returned, void *overlapped)
{
    return guarded([&]() -> FtdevStatus {
        HandleRecord *record = find_open(handle);
        if (record == nullptr)
            return FTDEV_INVALID_HANDLE;
        uint32_t index = (request_code >> 2) & 0xFFFu;
        if (index >= alternate_function_base)
            index -= alternate_function_base;
        // Bits 2 to 13 can name 4096 functions; past the tables there is no request.
        if (index >= request_count)
            return FTDEV_IO_ERROR;
        // The platform counts in its own DWORD (unsigned long on Windows, never the same
        // type as uint32_t there), written only when the request completes in the call;
        // a synchronous request needs it even when the caller does not want the count.
        DWORD returned = 0;
        const BOOL done = DeviceIoControl(record->driver_handle, record->request_table[index], in_buffer, in_size,
                                          out_buffer, out_size, &returned, static_cast<LPOVERLAPPED>(overlapped));
        if (bytes_returned != nullptr)
            *bytes_returned = returned;
        return done ? FTDEV_OK : FTDEV_IO_ERROR;
    });
}

// A read that fails after some bytes arrived still hands those bytes over: they are
// gone from the device and the caller would otherwise lose them.
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Read(FtdevHandle handle, void *buffer, uint32_t bytes_to_read,
                                                       uint32_t *bytes_read)
{
    return guarded([&]() -> FtdevStatus {
        HandleRecord *record = find_open(handle);
        if (record == nullptr)
            return FTDEV_INVALID_HANDLE;
        if (bytes_read == nullptr || (buffer == nullptr && bytes_to_read != 0))
            return FTDEV_INVALID_PARAMETER;
        DWORD moved = 0;
        const BOOL done = ReadFile(record->driver_handle, buffer, bytes_to_read, &moved, nullptr);
        *bytes_read = moved;
        return (done || moved != 0) ? FTDEV_OK : FTDEV_IO_ERROR;
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Write(FtdevHandle handle, const void *buffer, uint32_t bytes_to_write,
                                                        uint32_t *bytes_written)
{
    return guarded([&]() -> FtdevStatus {
        HandleRecord *record = find_open(handle);
        if (record == nullptr)
            return FTDEV_INVALID_HANDLE;
        if (bytes_written == nullptr || (buffer == nullptr && bytes_to_write != 0))
            return FTDEV_INVALID_PARAMETER;
        DWORD moved = 0;
        const BOOL done = WriteFile(record->driver_handle, buffer, bytes_to_write, &moved, nullptr);
        *bytes_written = moved;
        return (done || moved != 0) ? FTDEV_OK : FTDEV_IO_ERROR;
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Close(FtdevHandle handle)
{
    return guarded([&]() -> FtdevStatus {
        // The test is made under the lock, so two threads closing the same handle never
        // both get past it.
        HandleLock lock;
        HandleRecord *record = find_open(handle);
        if (record == nullptr)
            return FTDEV_INVALID_HANDLE;
        CloseHandle(record->driver_handle);
        std::free(record->path_block);
        record->path_block = nullptr;
        return remove_record(record);
    });
}
