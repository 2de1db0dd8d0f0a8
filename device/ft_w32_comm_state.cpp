// The line settings in the platform's serial-port conventions: comm state, time-outs,
// queue sizes, purge, break, escape functions and the modem status. Each sends one
// request through the record's request table and returns the platform's BOOL.
#include "device/ft_w32_boundary.h"

#include <cstddef>
#include <cstring>

using namespace corvane::device;

// The records pass to the driver as the platform lays them out; they hold no pointers, so
// they are the same on 32- and 64-bit builds.
static_assert(offsetof(DCB, BaudRate) == 4 && offsetof(DCB, wReserved) == 12 && offsetof(DCB, XonLim) == 14 &&
              offsetof(DCB, XoffLim) == 16 && offsetof(DCB, ByteSize) == 18 && offsetof(DCB, Parity) == 19 &&
              offsetof(DCB, StopBits) == 20 && offsetof(DCB, XonChar) == 21 && offsetof(DCB, XoffChar) == 22 &&
              offsetof(DCB, ErrorChar) == 23 && offsetof(DCB, EofChar) == 24 && offsetof(DCB, EvtChar) == 25 &&
              offsetof(DCB, wReserved1) == 26 && sizeof(DCB) == 28);
static_assert(offsetof(COMMTIMEOUTS, ReadTotalTimeoutConstant) == 8 &&
              offsetof(COMMTIMEOUTS, WriteTotalTimeoutConstant) == 16 && sizeof(COMMTIMEOUTS) == 20);
static_assert(offsetof(COMSTAT, cbInQue) == 4 && offsetof(COMSTAT, cbOutQue) == 8 && sizeof(COMSTAT) == 12);

namespace {

FtdevBool send_bare(FtdevHandle handle, unsigned index)
{
    const HandleRecord *record = open_record(handle);
    if (record == nullptr)
        return FALSE;
    return send_comm(record, index, nullptr, 0, nullptr, 0);
}

// The request of an escape function, or 0 for one that drives no line.
unsigned escape_request(uint32_t function)
{
    switch (function) {
    case SETRTS: return comm_set_rts;
    case CLRRTS: return comm_clear_rts;
    case SETDTR: return comm_set_dtr;
    case CLRDTR: return comm_clear_dtr;
    case SETBREAK: return comm_break_on;
    case CLRBREAK: return comm_break_off;
    default: return 0;
    }
}

} // namespace

// The driver keeps its own queues: the sizes are not used.
extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_SetupComm(FtdevHandle handle, uint32_t input_queue_size,
                                                              uint32_t output_queue_size)
{
    return guarded_bool([&]() -> FtdevBool { return open_record(handle) != nullptr; });
}

extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_SetCommBreak(FtdevHandle handle)
{
    return guarded_bool([&] { return send_bare(handle, comm_break_on); });
}

extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_ClearCommBreak(FtdevHandle handle)
{
    return guarded_bool([&] { return send_bare(handle, comm_break_off); });
}

// The XON/XOFF codes (1, 2) and the device reset code (7) have no request here: telling
// the caller that a line was driven when none was would hide it, so they fail with
// ERROR_INVALID_PARAMETER, as an unknown code does.
extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_EscapeCommFunction(FtdevHandle handle, uint32_t function)
{
    return guarded_bool([&]() -> FtdevBool {
        if (open_record(handle) == nullptr)
            return FALSE;
        const unsigned request = escape_request(function);
        if (request == 0)
            return fail_with(ERROR_INVALID_PARAMETER);
        return send_bare(handle, request);
    });
}

extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_GetCommModemStatus(FtdevHandle handle, uint32_t *modem_status)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        return send_comm(record, comm_modem_status, nullptr, 0, modem_status, sizeof *modem_status);
    });
}

// The reply goes into a copy, so that a refused request leaves the caller's DCB as it was.
extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_GetCommState(FtdevHandle handle, struct _DCB *state)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        if (state == nullptr)
            return fail_with(ERROR_INVALID_PARAMETER);
        DCB copy;
        std::memcpy(&copy, state, sizeof copy);
        if (!send_comm(record, comm_get_state, nullptr, 0, &copy, sizeof copy))
            return FALSE;
        std::memcpy(state, &copy, sizeof copy);
        return TRUE;
    });
}

extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_SetCommState(FtdevHandle handle, const struct _DCB *state)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        return send_comm(record, comm_set_state, const_cast<DCB *>(state), sizeof(DCB), nullptr, 0);
    });
}

extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_GetCommTimeouts(FtdevHandle handle, struct _COMMTIMEOUTS *timeouts)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        return send_comm(record, comm_get_timeouts, nullptr, 0, timeouts, sizeof(COMMTIMEOUTS));
    });
}

extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_SetCommTimeouts(FtdevHandle handle,
                                                                    const struct _COMMTIMEOUTS *timeouts)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        return send_comm(record, comm_set_timeouts, const_cast<COMMTIMEOUTS *>(timeouts), sizeof(COMMTIMEOUTS), nullptr,
                         0);
    });
}

// The platform's four purge flags fold into the driver's two buffers.
extern "C" FTDEV_EXPORT FtdevBool FTDEV_CALL FT_W32_PurgeComm(FtdevHandle handle, uint32_t flags)
{
    return guarded_bool([&]() -> FtdevBool {
        const HandleRecord *record = open_record(handle);
        if (record == nullptr)
            return FALSE;
        uint32_t mask = 0;
        if (flags & (PURGE_RXABORT | PURGE_RXCLEAR))
            mask |= FTDEV_PURGE_RX;
        if (flags & (PURGE_TXABORT | PURGE_TXCLEAR))
            mask |= FTDEV_PURGE_TX;
        uint8_t in[4] = {static_cast<uint8_t>(mask), 0, 0, 0};
        return send_comm(record, comm_purge, in, sizeof in, nullptr, 0);
    });
}
