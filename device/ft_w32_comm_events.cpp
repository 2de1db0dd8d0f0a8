// Comm events and errors in the platform's serial-port conventions: the event mask, the
// wait for an event (overlapped on a device opened with FILE_FLAG_OVERLAPPED), and the
// errors word with the line's COMSTAT.
#include "device/ft_w32_boundary.h"

#include <cstring>

using namespace corvane::device;

extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_SetCommMask(FtdevHandle handle, uint32_t mask)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        // Request buffers are little-endian whatever the host.
        uint8_t in[4] = {static_cast<uint8_t>(mask), static_cast<uint8_t>(mask >> 8), static_cast<uint8_t>(mask >> 16),
                         static_cast<uint8_t>(mask >> 24)};
        return send_comm(record, comm_set_mask, in, sizeof in, nullptr, 0);
    });
}

extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_GetCommMask(FtdevHandle handle, uint32_t *mask)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        return send_comm(record, comm_get_mask, nullptr, 0, mask, sizeof *mask);
    });
}

// An overlapped wait writes the events into the caller's variable when it completes;
// the caller keeps the variable alive until then.
extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_WaitCommEvent(FtdevHandle handle, uint32_t *events,
                                                                  struct _OVERLAPPED *overlapped)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        return send_comm(record, comm_wait_event, nullptr, 0, events, sizeof *events, overlapped);
    });
}

// The reply (the errors word, then the COMSTAT) reaches the caller only when the request
// succeeded; either output may be null.
extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_ClearCommError(FtdevHandle handle, uint32_t *errors,
                                                                   struct _COMSTAT *status)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        uint8_t scratch[sizeof(uint32_t) + sizeof(COMSTAT)] = {};
        if (!send_comm(record, comm_errors, scratch, sizeof scratch, scratch, sizeof scratch))
            return FALSE;
        if (errors != nullptr)
            std::memcpy(errors, scratch, sizeof *errors);
        if (status != nullptr)
            std::memcpy(status, scratch + sizeof(uint32_t), sizeof(COMSTAT));
        return TRUE;
    });
}
