// The control and status requests: each packs its arguments, sends one driver request
// through FT_IoCtl and hands back what the driver returned. Values go to the driver
// as they are; their meaning (and their range) is the driver's business.
#include "device/c_boundary.h"
#include "device/handle_list.h"

using namespace corvane::device;

namespace {

FtdevStatus send(FtdevHandle handle, unsigned index, void *in, DWORD in_size, void *out, DWORD out_size)
{
    uint32_t returned = 0;
    return FT_IoCtl(handle, request_code(index), in, in_size, out, out_size, &returned, nullptr);
}

FtdevStatus send_bare(FtdevHandle handle, unsigned index)
{
    return send(handle, index, nullptr, 0, nullptr, 0);
}

// Request buffers are little-endian whatever the host.
void store_le16(uint8_t *bytes, uint16_t value)
{
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

void store_le32(uint8_t *bytes, uint32_t value)
{
    store_le16(bytes, static_cast<uint16_t>(value));
    store_le16(bytes + 2, static_cast<uint16_t>(value >> 16));
}

FtdevStatus send_u32(FtdevHandle handle, unsigned index, uint32_t value)
{
    uint8_t in[4];
    store_le32(in, value);
    return send(handle, index, in, sizeof in, nullptr, 0);
}

// A getter whose result the driver writes into the caller's variable. A null variable
// is refused rather than handed to the driver to write through.
FtdevStatus get_into(FtdevHandle handle, unsigned index, void *variable, DWORD size, bool variable_is_input)
{
    if (!is_open(handle))
        return FTDEV_INVALID_HANDLE;
    if (variable == nullptr)
        return FTDEV_INVALID_PARAMETER;
    return send(handle, index, variable_is_input ? variable : nullptr, variable_is_input ? size : 0, variable, size);
}

// Request indexes of this family.
enum : unsigned {
    cycle_port = 16,
    eeprom_read_word = 32,
    eeprom_write_word = 33,
    eeprom_erase = 34,
    event_notification = 35,
    event_status = 36,
    queue_and_event_status = 37,
    divisor = 38,
    baud_rate = 65,
    data_characteristics = 67,
    break_on = 68,
    break_off = 69,
    timeouts = 71,
    set_dtr = 73,
    clear_dtr = 74,
    set_rts = 76,
    clear_rts = 77,
    set_wait_mask = 81,
    wait_on_mask = 82,
    purge = 83,
    special_chars = 87,
    flow_control = 89,
    modem_status = 90,
    receive_queue = 91,
    set_latency_timer = 92,
    get_latency_timer = 93,
    set_bit_mode = 94,
    get_bit_mode = 95,
    usb_transfer_sizes = 96,
    stop_in_task = 103,
    restart_in_task = 104,
    reset_pipe_retry_count = 105,
    reset_port = 106,
    deadman_timeout = 107,
    packet_size = 113,
    extended_queue_status = 118,
    reset = 1,
};

} // namespace

namespace corvane::device {

FtdevStatus query_packet_size(FtdevHandle handle, uint16_t *size)
{
    return send(handle, packet_size, nullptr, 0, size, sizeof *size);
}

} // namespace corvane::device

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_ResetDevice(FtdevHandle handle)
{
    return guarded([&] { return send_bare(handle, reset); });
}

// The driver's refusal of a baud rate is reported as a bad rate; a handle that is not
// open stays status 1.
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetBaudRate(FtdevHandle handle, uint32_t rate)
{
    return guarded([&] {
        const FtdevStatus status = send_u32(handle, baud_rate, rate);
        return status == FTDEV_IO_ERROR ? FtdevStatus{FTDEV_INVALID_BAUD_RATE} : status;
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetDivisor(FtdevHandle handle, uint16_t value)
{
    return guarded([&] {
        uint8_t in[2];
        store_le16(in, value);
        return send(handle, divisor, in, sizeof in, nullptr, 0);
    });
}

// The driver takes the three values in the order stop bits, parity, word length.
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetDataCharacteristics(FtdevHandle handle, uint8_t word_length,
                                                                         uint8_t stop_bits, uint8_t parity)
{
    return guarded([&] {
        uint8_t in[3] = {stop_bits, parity, word_length};
        return send(handle, data_characteristics, in, sizeof in, nullptr, 0);
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetFlowControl(FtdevHandle handle, uint16_t flow, uint8_t xon_char,
                                                                 uint8_t xoff_char)
{
    return guarded([&] {
        uint8_t in[4];
        store_le16(in, flow);
        in[2] = xon_char;
        in[3] = xoff_char;
        return send(handle, flow_control, in, sizeof in, nullptr, 0);
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetDtr(FtdevHandle handle)
{
    return guarded([&] { return send_bare(handle, set_dtr); });
}
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_ClrDtr(FtdevHandle handle)
{
    return guarded([&] { return send_bare(handle, clear_dtr); });
}
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetRts(FtdevHandle handle)
{
    return guarded([&] { return send_bare(handle, set_rts); });
}
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_ClrRts(FtdevHandle handle)
{
    return guarded([&] { return send_bare(handle, clear_rts); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetModemStatus(FtdevHandle handle, uint32_t *status)
{
    return guarded([&] { return get_into(handle, modem_status, status, sizeof *status, true); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetChars(FtdevHandle handle, uint8_t event_char,
                                                           uint8_t event_char_enabled, uint8_t error_char,
                                                           uint8_t error_char_enabled)
{
    return guarded([&] {
        uint8_t in[4] = {event_char, event_char_enabled, error_char, error_char_enabled};
        return send(handle, special_chars, in, sizeof in, nullptr, 0);
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_Purge(FtdevHandle handle, uint32_t mask)
{
    return guarded([&] { return send_u32(handle, purge, mask); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetTimeouts(FtdevHandle handle, uint32_t read_timeout_ms,
                                                              uint32_t write_timeout_ms)
{
    return guarded([&] {
        uint8_t in[8];
        store_le32(in, read_timeout_ms);
        store_le32(in + 4, write_timeout_ms);
        return send(handle, timeouts, in, sizeof in, nullptr, 0);
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetQueueStatus(FtdevHandle handle, uint32_t *rx_bytes)
{
    return guarded([&] { return get_into(handle, receive_queue, rx_bytes, sizeof *rx_bytes, true); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetQueueStatusEx(FtdevHandle handle, uint32_t *rx_bytes)
{
    return guarded([&] { return get_into(handle, extended_queue_status, rx_bytes, sizeof *rx_bytes, true); });
}

// The driver keeps the handle value with the event mask so that it can tell whose
// notification fires; the record keeps the fields in this order, each at its natural
// size (pointers are 8 bytes on 64-bit builds).
struct EventNotificationRequest {
    FtdevHandle handle;
    uint32_t mask;
    void *parameter;
};

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetEventNotification(FtdevHandle handle, uint32_t mask,
                                                                       void *parameter)
{
    return guarded([&] {
        EventNotificationRequest in{handle, mask, parameter};
        return send(handle, event_notification, &in, sizeof in, nullptr, 0);
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetEventStatus(FtdevHandle handle, uint32_t *status)
{
    return guarded([&] { return get_into(handle, event_status, status, sizeof *status, true); });
}

// The three counts reach the caller only when the driver answered, so a failed call
// never leaves half-written outputs.
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetStatus(FtdevHandle handle, uint32_t *rx_bytes, uint32_t *tx_bytes,
                                                            uint32_t *event_status)
{
    return guarded([&]() -> FtdevStatus {
        if (!is_open(handle))
            return FTDEV_INVALID_HANDLE;
        if (rx_bytes == nullptr || tx_bytes == nullptr || event_status == nullptr)
            return FTDEV_INVALID_PARAMETER;
        uint32_t reply[3] = {};
        const FtdevStatus status = send(handle, queue_and_event_status, reply, sizeof reply, reply, sizeof reply);
        if (status == FTDEV_OK) {
            *rx_bytes = reply[0];
            *tx_bytes = reply[1];
            *event_status = reply[2];
        }
        return status;
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetBreakOn(FtdevHandle handle)
{
    return guarded([&] { return send_bare(handle, break_on); });
}
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetBreakOff(FtdevHandle handle)
{
    return guarded([&] { return send_bare(handle, break_off); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetWaitMask(FtdevHandle handle, uint32_t mask)
{
    return guarded([&] { return send_u32(handle, set_wait_mask, mask); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_WaitOnMask(FtdevHandle handle, uint32_t *mask)
{
    return guarded([&] { return get_into(handle, wait_on_mask, mask, sizeof *mask, false); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_ReadEE(FtdevHandle handle, uint32_t word_offset, uint16_t *value)
{
    return guarded([&]() -> FtdevStatus {
        if (!is_open(handle))
            return FTDEV_INVALID_HANDLE;
        if (value == nullptr)
            return FTDEV_INVALID_PARAMETER;
        uint8_t in[4];
        store_le32(in, word_offset);
        return send(handle, eeprom_read_word, in, sizeof in, value, sizeof *value);
    });
}

// Word addresses are 16 bits wide; the upper half of the offset is not sent.
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_WriteEE(FtdevHandle handle, uint32_t word_offset, uint16_t value)
{
    return guarded([&] {
        uint8_t in[4];
        store_le16(in, static_cast<uint16_t>(word_offset));
        store_le16(in + 2, value);
        return send(handle, eeprom_write_word, in, sizeof in, nullptr, 0);
    });
}

// The driver erases only when these guard bytes come with the request, so that a stray
// request 34 cannot wipe a configuration.
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_EraseEE(FtdevHandle handle)
{
    return guarded([&] {
        uint8_t in[4] = {0xAD, 0x0B, 0xEE, 0xAD};
        return send(handle, eeprom_erase, in, sizeof in, nullptr, 0);
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetLatencyTimer(FtdevHandle handle, uint8_t timer_ms)
{
    return guarded([&] { return send(handle, set_latency_timer, &timer_ms, 1, nullptr, 0); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetLatencyTimer(FtdevHandle handle, uint8_t *timer_ms)
{
    return guarded([&] { return get_into(handle, get_latency_timer, timer_ms, 1, false); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetBitMode(FtdevHandle handle, uint8_t mask, uint8_t mode)
{
    return guarded([&] {
        uint8_t in[2] = {mask, mode};
        return send(handle, set_bit_mode, in, sizeof in, nullptr, 0);
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_GetBitMode(FtdevHandle handle, uint8_t *mode)
{
    return guarded([&] { return get_into(handle, get_bit_mode, mode, 1, false); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetUSBParameters(FtdevHandle handle, uint32_t in_transfer_size,
                                                                   uint32_t out_transfer_size)
{
    return guarded([&] {
        uint8_t in[8];
        store_le32(in, in_transfer_size);
        store_le32(in + 4, out_transfer_size);
        return send(handle, usb_transfer_sizes, in, sizeof in, nullptr, 0);
    });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetDeadmanTimeout(FtdevHandle handle, uint32_t timeout_ms)
{
    return guarded([&] { return send_u32(handle, deadman_timeout, timeout_ms); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_StopInTask(FtdevHandle handle)
{
    return guarded([&] { return send_bare(handle, stop_in_task); });
}
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_RestartInTask(FtdevHandle handle)
{
    return guarded([&] { return send_bare(handle, restart_in_task); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_SetResetPipeRetryCount(FtdevHandle handle, uint32_t count)
{
    return guarded([&] { return send_u32(handle, reset_pipe_retry_count, count); });
}

extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_ResetPort(FtdevHandle handle)
{
    return guarded([&] { return send_bare(handle, reset_port); });
}
extern "C" FTDEV_EXPORT FtdevStatus FTDEV_CALL FT_CyclePort(FtdevHandle handle)
{
    return guarded([&] { return send_bare(handle, cycle_port); });
}
