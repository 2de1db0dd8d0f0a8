// The entry point of the driver requests: decodes the I/O control code and answers each
// request index, in the driver itself or through the chip's vendor requests.
#include "driver/driver_version.h"
#include "driver/channel_file.h"
#include "driver/request_index.h"

namespace corvane::driver {

namespace {

// The request index of an I/O control code, or nothing when the code is of neither
// generation of the request tables.
std::optional<unsigned> decode_request(uint32_t code, bool alternate_only)
{
    for (uint32_t base : {primary_code_base, alternate_code_base}) {
        if (code < base || (code - base) % 4 != 0)
            continue;
        uint32_t index = (code - base) / 4;
        if (index >= request_index_count)
            continue;
        if (alternate_only && base == primary_code_base)
            return std::nullopt;
        return index;
    }
    return std::nullopt;
}

// A 32-bit answer the driver gives from its own knowledge.
uint32_t answer_u32(RequestBuffers &buffers, uint32_t value)
{
    if (buffers.out_size < 4)
        return ERROR_INVALID_PARAMETER;
    store_u32(buffers.out, value);
    buffers.returned = 4;
    return ERROR_SUCCESS;
}

// No channel is given a COM port here: the device library reports port 0 as "none".
constexpr uint32_t no_com_port = 0;

} // namespace

uint32_t ChannelFile::io_control(uint32_t code, const void *in, uint32_t in_size, void *out, uint32_t out_size,
                                 uint32_t *returned, const OverlappedCall *call)
{
    if (returned)
        *returned = 0;
    std::optional<unsigned> index = decode_request(code, identity_.alternate_codes_only);
    if (!index)
        return ERROR_INVALID_FUNCTION;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return ERROR_INVALID_HANDLE;
    }
    RequestBuffers buffers;
    buffers.in = static_cast<const uint8_t *>(in);
    buffers.in_size = in ? in_size : 0;
    buffers.out = static_cast<uint8_t *>(out);
    buffers.out_size = out ? out_size : 0;
    buffers.call = call;
    // Waits on the wait mask may last; the other requests complete before an overlapped
    // caller is told they are pending. A comm event wait says itself when it is registered.
    if (*index == request_wait_on_mask)
        mark_queued(call);
    uint32_t error = answer(*index, buffers);
    if (returned)
        *returned = error == ERROR_SUCCESS ? buffers.returned : 0;
    return error;
}

uint32_t ChannelFile::answer(unsigned index, RequestBuffers &buffers)
{
    switch (index) {
    case request_reset: return reset_channel();
    case request_cycle_port: return cycle_port();
    case request_eeprom_read: return read_eeprom_word(buffers);
    case request_eeprom_write: return write_eeprom_word(buffers);
    case request_eeprom_erase: return erase_eeprom(buffers);
    case request_event_notification: return set_event_notification(buffers);
    case request_event_status: return get_event_status(buffers);
    case request_status: return get_status(buffers);
    case request_divisor: return set_divisor(buffers);
    case request_serial_number: return get_text(buffers, serial_number());
    case request_description: return get_text(buffers, description());
    case request_location: return get_location(buffers);
    case request_baud_rate: return set_baud_rate(buffers);
    case request_data_characteristics: return set_data_characteristics(buffers);
    case request_break_on: return set_break(true);
    case request_break_off: return set_break(false);
    case request_timeouts: return set_timeouts(buffers);
    case request_get_comm_timeouts: return get_comm_timeouts(buffers);
    case request_set_dtr: return set_modem_line(0x0101);
    case request_clear_dtr: return set_modem_line(0x0100);
    case request_set_rts: return set_modem_line(0x0202);
    case request_clear_rts: return set_modem_line(0x0200);
    case request_set_wait_mask: return set_wait_mask(buffers);
    case request_wait_on_mask: return wait_on_mask(buffers);
    case request_purge: return purge(buffers);
    case request_special_characters: return set_special_characters(buffers);
    case request_flow_control: return set_flow_control(buffers);
    case request_modem_status: return get_modem_status(buffers);
    case request_receive_queue: return get_queue_bytes(buffers);
    case request_set_latency: return set_latency_timer(buffers);
    case request_get_latency: return get_latency_timer(buffers);
    case request_set_bit_mode: return set_bit_mode(buffers);
    case request_read_pins: return read_pins(buffers);
    case request_transfer_sizes: return set_transfer_sizes(buffers);
    case request_device_information: return get_device_information(buffers);
    case request_stop_reading: return stop_reading();
    case request_restart_reading: return restart_reading();
    case request_pipe_retry_count: return set_driver_word(buffers, pipe_retries_, 0);
    case request_reset_port: return reset_port();
    // A control transfer needs some time to be answered.
    case request_deadman_timeout: return set_driver_word(buffers, deadman_ms_, 1);
    case request_driver_version: return answer_u32(buffers, driver_version);
    case request_packet_size: return get_packet_size(buffers);
    case request_com_port_number: return answer_u32(buffers, no_com_port);
    case request_read_config: return read_config_byte(buffers);
    case request_write_config: return write_config_byte(buffers);
    case request_read_ecc: return read_ecc_word(buffers);
    case request_queue_status_ex: return get_queue_bytes(buffers);
    case request_set_comm_mask: return set_comm_mask(buffers);
    case request_wait_comm_event: return wait_comm_event(buffers);
    case request_comm_errors: return get_comm_errors(buffers);
    case request_set_comm_state: return set_comm_state(buffers);
    case request_get_comm_state: return get_comm_state(buffers);
    case request_get_comm_mask: return get_comm_mask(buffers);
    default: return ERROR_INVALID_FUNCTION;
    }
}

uint32_t ChannelFile::set_timeouts(const RequestBuffers &buffers)
{
    constexpr uint32_t short_form = 8, long_form = 20;
    if (buffers.in_size < short_form)
        return ERROR_INVALID_PARAMETER;
    Timeouts timeouts;
    if (buffers.in_size >= long_form) {
        timeouts.read_interval = load_u32(buffers.in);
        timeouts.read_multiplier = load_u32(buffers.in + 4);
        timeouts.read_constant = load_u32(buffers.in + 8);
        timeouts.write_multiplier = load_u32(buffers.in + 12);
        timeouts.write_constant = load_u32(buffers.in + 16);
    } else {
        timeouts.read_constant = load_u32(buffers.in);
        timeouts.write_constant = load_u32(buffers.in + 4);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    timeouts_ = timeouts;
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::set_transfer_sizes(const RequestBuffers &buffers)
{
    if (buffers.in_size < 8)
        return ERROR_INVALID_PARAMETER;
    uint32_t in_size = load_u32(buffers.in);
    uint32_t out_size = load_u32(buffers.in + 4);
    // Whole full-speed packets, and no more than the buffer the task allocated at open.
    if (in_size < 64 || in_size > largest_in_transfer || in_size % 64 != 0)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    in_transfer_size_ = in_size;
    out_transfer_size_ = out_size;
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::set_driver_word(const RequestBuffers &buffers, uint32_t &setting, uint32_t minimum)
{
    if (buffers.in_size < 4)
        return ERROR_INVALID_PARAMETER;
    uint32_t value = load_u32(buffers.in);
    if (value < minimum)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    setting = value;
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::get_queue_bytes(RequestBuffers &buffers)
{
    if (buffers.out_size < 4)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    store_u32(buffers.out, static_cast<uint32_t>(queue_.size()));
    buffers.returned = 4;
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::stop_reading()
{
    std::unique_lock<std::mutex> lock(mutex_);
    task_stop_requested_ = true;
    // Once this returns no bulk IN is in flight, so a purge that follows leaves nothing
    // on its way into the queue.
    task_.wait(lock, [this] { return !task_in_transfer_ || closed_; });
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::restart_reading()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (vanished_)
            return ERROR_DEVICE_NOT_CONNECTED;
        task_stop_requested_ = false;
        task_error_ = 0;
    }
    task_.notify_all();
    return ERROR_SUCCESS;
}

} // namespace corvane::driver
