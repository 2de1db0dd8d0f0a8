// The requests that the chip answers: each becomes one or two vendor control transfers.
#include "driver/baud_rate.h"
#include "driver/errors.h"
#include "driver/channel_file.h"

namespace corvane::driver {

namespace ftdi = usb::ftdi;

namespace {

constexpr uint16_t break_bit = 1u << 14;
constexpr uint8_t erase_guard[4] = {0xAD, 0x0B, 0xEE, 0xAD};

} // namespace

// The dead-man time-out bounds every control transfer; 0 stands for a device that is gone.
unsigned ChannelFile::control_timeout_ms()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return vanished_ ? 0 : deadman_ms_;
}

uint32_t ChannelFile::vendor_out(uint8_t request, uint16_t value, uint16_t index)
{
    unsigned timeout = control_timeout_ms();
    if (timeout == 0)
        return ERROR_DEVICE_NOT_CONNECTED;
    std::lock_guard<std::mutex> link_lock(link_mutex_);
    if (!link_)
        return ERROR_INVALID_HANDLE;
    usb::ControlSetup setup{ftdi::request_out, request, value, index, 0};
    uint16_t transferred = 0;
    usb::Status status = link_->control(setup, nullptr, timeout, &transferred);
    if (status == usb::Status::no_device)
        mark_vanished();
    return win32_error(status);
}

uint32_t ChannelFile::vendor_in(uint8_t request, uint16_t value, uint16_t index, uint8_t *data, uint16_t length)
{
    unsigned timeout = control_timeout_ms();
    if (timeout == 0)
        return ERROR_DEVICE_NOT_CONNECTED;
    std::lock_guard<std::mutex> link_lock(link_mutex_);
    if (!link_)
        return ERROR_INVALID_HANDLE;
    usb::ControlSetup setup{ftdi::request_in, request, value, index, length};
    uint16_t transferred = 0;
    usb::Status status = link_->control(setup, data, timeout, &transferred);
    if (status == usb::Status::no_device)
        mark_vanished();
    if (status == usb::Status::ok && transferred != length)
        return ERROR_GEN_FAILURE; // a short answer is no answer
    return win32_error(status);
}

uint32_t ChannelFile::reset_channel()
{
    uint32_t error = vendor_out(ftdi::reset_purge, ftdi::reset_channel, channel_index());
    if (error == ERROR_SUCCESS)
        drop_received();
    return error;
}

uint32_t ChannelFile::set_baud_rate(const RequestBuffers &buffers)
{
    if (buffers.in_size < 4)
        return ERROR_INVALID_PARAMETER;
    std::optional<BaudDivisor> divisor = choose_baud_divisor(family_, load_u32(buffers.in));
    if (!divisor)
        return ERROR_INVALID_PARAMETER;
    BaudRequestFields fields =
        baud_request_fields(divisor->encoded, baud_index_carries_channel(family_, identity_.channels), channel_);
    uint32_t error = vendor_out(ftdi::baud_rate, fields.value, fields.index);
    if (error == ERROR_SUCCESS) {
        std::lock_guard<std::mutex> lock(mutex_);
        comm_.set_baud_rate(load_u32(buffers.in));
    }
    return error;
}

uint32_t ChannelFile::set_divisor(const RequestBuffers &buffers)
{
    if (buffers.in_size < 2)
        return ERROR_INVALID_PARAMETER;
    BaudRequestFields fields =
        baud_request_fields(load_u16(buffers.in), baud_index_carries_channel(family_, identity_.channels), channel_);
    uint32_t error = vendor_out(ftdi::baud_rate, fields.value, fields.index);
    if (error == ERROR_SUCCESS) {
        std::lock_guard<std::mutex> lock(mutex_);
        comm_.set_baud_rate(rate_of_divisor(load_u16(buffers.in)));
    }
    return error;
}

uint32_t ChannelFile::set_data_characteristics(const RequestBuffers &buffers)
{
    if (buffers.in_size < 3)
        return ERROR_INVALID_PARAMETER;
    uint8_t stop_bits = buffers.in[0], parity = buffers.in[1], word_length = buffers.in[2];
    // The UARTs know 7 or 8 data bits, parity none, odd, even, mark or space, and one
    // (code 0) or two (code 2) stop bits.
    if ((word_length != 7 && word_length != 8) || parity > 4 || (stop_bits != 0 && stop_bits != 2))
        return ERROR_INVALID_PARAMETER;
    auto value = static_cast<uint16_t>(word_length | parity << 8 | stop_bits << 11);
    uint32_t error = vendor_out(ftdi::data_characteristics, value, channel_index());
    if (error == ERROR_SUCCESS) {
        std::lock_guard<std::mutex> lock(mutex_);
        comm_.set_characteristics(buffers.in);
    }
    return error;
}

// Break is a bit of the data characteristics request, so the chip is sent the
// characteristics it already has along with it.
uint32_t ChannelFile::set_break(bool on)
{
    uint16_t value;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        value = on ? comm_.characteristics() | break_bit : comm_.characteristics();
    }
    return vendor_out(ftdi::data_characteristics, value, channel_index());
}

uint32_t ChannelFile::set_flow_control(const RequestBuffers &buffers)
{
    if (buffers.in_size < 4)
        return ERROR_INVALID_PARAMETER;
    uint16_t mode = load_u16(buffers.in);
    if (mode != 0 && mode != ftdi::flow_rts_cts && mode != ftdi::flow_dtr_dsr && mode != ftdi::flow_xon_xoff)
        return ERROR_INVALID_PARAMETER;
    auto value = static_cast<uint16_t>(buffers.in[2] | buffers.in[3] << 8);
    uint32_t error = vendor_out(ftdi::flow_control, value, static_cast<uint16_t>(mode | channel_index()));
    if (error == ERROR_SUCCESS) {
        std::lock_guard<std::mutex> lock(mutex_);
        comm_.set_flow(mode, buffers.in[2], buffers.in[3]);
    }
    return error;
}

uint32_t ChannelFile::set_modem_line(uint16_t value)
{
    return vendor_out(ftdi::modem_control, value, channel_index());
}

uint32_t ChannelFile::get_modem_status(RequestBuffers &buffers)
{
    if (buffers.out_size < 4)
        return ERROR_INVALID_PARAMETER;
    uint8_t reply[2] = {};
    uint32_t error = vendor_in(ftdi::modem_status, 0, channel_index(), reply, sizeof reply);
    if (error != ERROR_SUCCESS)
        return error;
    store_u32(buffers.out,
              static_cast<uint32_t>(reply[0] & ~ftdi::modem_reserved_mask) | static_cast<uint32_t>(reply[1]) << 8);
    buffers.returned = 4;
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::set_special_characters(const RequestBuffers &buffers)
{
    if (buffers.in_size < 4)
        return ERROR_INVALID_PARAMETER;
    auto event = static_cast<uint16_t>(buffers.in[0] | (buffers.in[1] ? 0x100 : 0));
    auto error_char = static_cast<uint16_t>(buffers.in[2] | (buffers.in[3] ? 0x100 : 0));
    uint32_t error = vendor_out(ftdi::event_char, event, channel_index());
    if (error == ERROR_SUCCESS)
        error = vendor_out(ftdi::error_char, error_char, channel_index());
    if (error == ERROR_SUCCESS) {
        std::lock_guard<std::mutex> lock(mutex_);
        comm_.set_special_characters(buffers.in[0], buffers.in[1] != 0, buffers.in[2], buffers.in[3] != 0);
    }
    return error;
}

uint32_t ChannelFile::purge(const RequestBuffers &buffers)
{
    constexpr uint32_t purge_receive = 1, purge_transmit = 2;
    if (buffers.in_size < 4)
        return ERROR_INVALID_PARAMETER;
    uint32_t mask = load_u32(buffers.in);
    if (mask & ~(purge_receive | purge_transmit))
        return ERROR_INVALID_PARAMETER;
    if (mask & purge_receive) {
        uint32_t error = vendor_out(ftdi::reset_purge, ftdi::purge_rx, channel_index());
        if (error != ERROR_SUCCESS)
            return error;
        drop_received();
    }
    if (mask & purge_transmit)
        return vendor_out(ftdi::reset_purge, ftdi::purge_tx, channel_index());
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::set_latency_timer(const RequestBuffers &buffers)
{
    if (buffers.in_size < 1)
        return ERROR_INVALID_PARAMETER;
    uint8_t timer = buffers.in[0];
    if (!has_latency_timer(family_))
        return timer == ftdi::default_latency_ms ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    if (timer == 0)
        return ERROR_INVALID_PARAMETER; // the timer runs from 1 to 255 ms
    return vendor_out(ftdi::set_latency, timer, channel_index());
}

uint32_t ChannelFile::get_latency_timer(RequestBuffers &buffers)
{
    if (buffers.out_size < 1)
        return ERROR_INVALID_PARAMETER;
    if (!has_latency_timer(family_)) {
        buffers.out[0] = ftdi::default_latency_ms;
        buffers.returned = 1;
        return ERROR_SUCCESS;
    }
    uint32_t error = vendor_in(ftdi::get_latency, 0, channel_index(), buffers.out, 1);
    if (error == ERROR_SUCCESS)
        buffers.returned = 1;
    return error;
}

uint32_t ChannelFile::set_bit_mode(const RequestBuffers &buffers)
{
    if (buffers.in_size < 2)
        return ERROR_INVALID_PARAMETER;
    if (!has_bit_modes(family_))
        return ERROR_NOT_SUPPORTED;
    auto value = static_cast<uint16_t>(buffers.in[0] | buffers.in[1] << 8);
    return vendor_out(ftdi::set_bit_mode, value, channel_index());
}

uint32_t ChannelFile::read_pins(RequestBuffers &buffers)
{
    if (buffers.out_size < 1)
        return ERROR_INVALID_PARAMETER;
    if (!has_bit_modes(family_))
        return ERROR_NOT_SUPPORTED;
    uint32_t error = vendor_in(ftdi::read_pins, 0, channel_index(), buffers.out, 1);
    if (error == ERROR_SUCCESS)
        buffers.returned = 1;
    return error;
}

uint32_t ChannelFile::read_eeprom_word(RequestBuffers &buffers)
{
    if (buffers.in_size < 4 || buffers.out_size < 2)
        return ERROR_INVALID_PARAMETER;
    uint32_t address = load_u32(buffers.in);
    if (address > 0xFFFF)
        return ERROR_INVALID_PARAMETER; // the request carries a 16-bit word address
    uint8_t reply[2] = {};
    uint32_t error = vendor_in(ftdi::read_eeprom, 0, static_cast<uint16_t>(address), reply, sizeof reply);
    if (error != ERROR_SUCCESS)
        return error;
    buffers.out[0] = reply[0];
    buffers.out[1] = reply[1];
    buffers.returned = 2;
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::write_eeprom_word(const RequestBuffers &buffers)
{
    if (buffers.in_size < 4)
        return ERROR_INVALID_PARAMETER;
    uint16_t address = load_u16(buffers.in);
    auto value = static_cast<uint16_t>(buffers.in[2] | buffers.in[3] << 8);
    return vendor_out(ftdi::write_eeprom, value, address);
}

// The guard keeps a stray request from wiping the chip's configuration.
uint32_t ChannelFile::erase_eeprom(const RequestBuffers &buffers)
{
    if (buffers.in_size < sizeof erase_guard)
        return ERROR_INVALID_PARAMETER;
    for (size_t i = 0; i < sizeof erase_guard; ++i)
        if (buffers.in[i] != erase_guard[i])
            return ERROR_INVALID_PARAMETER;
    return vendor_out(ftdi::erase_eeprom, 0, 0);
}

// The configuration byte and error-correction word have no public vendor request on real
// chips; only the chip models of the simulator answer them, and a real chip is never
// sent an undocumented request.
uint32_t ChannelFile::read_config_byte(RequestBuffers &buffers)
{
    if (!identity_.virtual_model)
        return ERROR_NOT_SUPPORTED;
    if (buffers.in_size < 1 || buffers.out_size < 1)
        return ERROR_INVALID_PARAMETER;
    uint32_t error = vendor_in(ftdi::model_read_config, 0, buffers.in[0], buffers.out, 1);
    if (error == ERROR_SUCCESS)
        buffers.returned = 1;
    return error;
}

uint32_t ChannelFile::write_config_byte(const RequestBuffers &buffers)
{
    if (!identity_.virtual_model)
        return ERROR_NOT_SUPPORTED;
    if (buffers.in_size < 2)
        return ERROR_INVALID_PARAMETER;
    return vendor_out(ftdi::model_write_config, buffers.in[1], buffers.in[0]);
}

uint32_t ChannelFile::read_ecc_word(RequestBuffers &buffers)
{
    if (!identity_.virtual_model)
        return ERROR_NOT_SUPPORTED;
    if (buffers.in_size < 1 || buffers.out_size < 2)
        return ERROR_INVALID_PARAMETER;
    uint32_t error = vendor_in(ftdi::model_read_ecc, buffers.in[0], 0, buffers.out, 2);
    if (error == ERROR_SUCCESS)
        buffers.returned = 2;
    return error;
}

uint32_t ChannelFile::reset_port()
{
    std::lock_guard<std::mutex> link_lock(link_mutex_);
    if (!link_)
        return ERROR_INVALID_HANDLE;
    usb::Status status = link_->reset_device();
    if (status == usb::Status::no_device)
        mark_vanished();
    return win32_error(status);
}

uint32_t ChannelFile::cycle_port()
{
    std::lock_guard<std::mutex> link_lock(link_mutex_);
    if (!link_)
        return ERROR_INVALID_HANDLE;
    usb::Status status = link_->reenumerate();
    // The device leaves the bus either way it answers: this channel is gone.
    if (status == usb::Status::ok || status == usb::Status::no_device)
        mark_vanished();
    return win32_error(status);
}

} // namespace corvane::driver
