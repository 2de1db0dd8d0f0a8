// The vendor requests a virtual chip answers on its default pipe. A request the chip does
// not know, one in the wrong direction, one naming a channel the chip does not have, or
// one whose value the chip cannot take is answered with a STALL, as a chip refuses it.
#include "sim/chip_model.h"

#include <algorithm>

namespace corvane::sim {
namespace {

namespace ftdi = usb::ftdi;
using Request = ftdi::Request;

constexpr uint16_t break_bit = 0x4000;
constexpr uint8_t bit_mode_async_bitbang = 0x01;
constexpr uint8_t bit_mode_sync_bitbang = 0x04;

bool is_in_request(uint8_t request)
{
    switch (request) {
    case Request::modem_status:
    case Request::get_latency:
    case Request::read_pins:
    case Request::read_eeprom:
    case Request::model_read_config:
    case Request::model_read_ecc: return true;
    default: return false;
    }
}

// Data characteristics the chips' UARTs have: 7 or 8 data bits, parity none, odd, even,
// mark or space, one or two stop bits.
bool valid_characteristics(uint16_t value)
{
    unsigned data_bits = value & 0xFF;
    unsigned parity = (value >> 8) & 0x7;
    unsigned stop_bits = (value >> 11) & 0x3;
    return (data_bits == 7 || data_bits == 8) && parity <= 4 && (stop_bits == 0 || stop_bits == 2);
}

} // namespace

// wIndex's low byte names the channel (1 = A). A single-channel chip also takes 0.
ChipModel::Channel *ChipModel::addressed_channel(uint16_t index)
{
    unsigned number = index & 0xFF;
    if (number == 0 && channels_.size() == 1)
        number = 1;
    if (number < 1 || number > channels_.size())
        return nullptr;
    return &channels_[number - 1];
}

ChipModel::Reply ChipModel::answer(const usb::ControlSetup &setup, uint8_t *data)
{
    const bool in = is_in_request(setup.request);
    if (setup.request_type != (in ? ftdi::request_in : ftdi::request_out))
        return {usb::Status::stall};

    switch (setup.request) {
    case Request::read_eeprom:
    case Request::write_eeprom:
    case Request::erase_eeprom: return answer_eeprom_request(setup, data);
    case Request::model_read_config:
    case Request::model_write_config:
    case Request::model_read_ecc: return answer_model_request(setup, data);
    case Request::baud_rate: {
        // The single-channel chips before the H series carry divisor bits 16 and up in
        // the whole of wIndex; the others keep the channel in its low byte.
        const bool indexed = channels_.size() > 1 || profile_.identity->high_speed;
        Channel *channel = indexed ? addressed_channel(setup.index) : &channels_[0];
        if (!channel)
            return {usb::Status::stall};
        uint32_t high = indexed ? setup.index >> 8 : setup.index;
        channel->settings.baud_divisor = setup.value | high << 16;
        return {usb::Status::ok};
    }
    default: break;
    }
    Channel *channel = addressed_channel(setup.index);
    if (!channel)
        return {usb::Status::stall};
    return answer_channel_request(*channel, setup, data);
}

ChipModel::Reply ChipModel::answer_channel_request(Channel &channel, const usb::ControlSetup &setup, uint8_t *data)
{
    ChannelSettings &settings = channel.settings;
    const uint16_t value = setup.value;
    switch (setup.request) {
    case Request::reset_purge:
        // Which purge value clears which buffer is not documented; the loopback's one ring
        // holds the bytes of both buffers, so either purge empties it.
        if (value > ftdi::purge_tx)
            return {usb::Status::stall};
        channel.peer->purge();
        if (channel.held_out)
            channel.held_out->clear();
        if (value == ftdi::reset_channel)
            channel.line_errors = 0;
        changed_.notify_all();
        return {usb::Status::ok};
    case Request::modem_control:
        if (value & 0x0100)
            settings.dtr = value & 0x01;
        if (value & 0x0200)
            settings.rts = value & 0x02;
        if (channel.loopback) {
            uint8_t lines = static_cast<uint8_t>(channel.modem_lines & ftdi::modem_ri);
            if (settings.rts)
                lines |= ftdi::modem_cts;
            if (settings.dtr)
                lines |= ftdi::modem_dsr | ftdi::modem_dcd;
            set_lines(channel, lines);
        }
        return {usb::Status::ok};
    case Request::flow_control: {
        uint16_t mode = setup.index & 0xFF00;
        if (mode != 0 && mode != ftdi::flow_rts_cts && mode != ftdi::flow_dtr_dsr && mode != ftdi::flow_xon_xoff)
            return {usb::Status::stall};
        settings.flow_mode = mode;
        settings.xon = static_cast<uint8_t>(value);
        settings.xoff = static_cast<uint8_t>(value >> 8);
        return {usb::Status::ok};
    }
    case Request::data_characteristics:
        if (!valid_characteristics(value))
            return {usb::Status::stall};
        if ((value ^ settings.data_characteristics) & break_bit)
            changed_.notify_all();
        settings.data_characteristics = value;
        return {usb::Status::ok};
    case Request::modem_status: {
        const uint8_t reply[2] = {modem_status_byte(channel), line_status_byte(channel)};
        uint16_t length = std::min<uint16_t>(setup.length, 2);
        std::copy(reply, reply + length, data);
        return {usb::Status::ok, length};
    }
    case Request::event_char:
    case Request::error_char: {
        if (value > 0x1FF)
            return {usb::Status::stall};
        bool event = setup.request == Request::event_char;
        (event ? settings.event_char : settings.error_char) = static_cast<uint8_t>(value);
        (event ? settings.event_enabled : settings.error_enabled) = value & 0x100;
        return {usb::Status::ok};
    }
    case Request::set_latency:
        if (value < 1 || value > 255)
            return {usb::Status::stall};
        settings.latency_ms = static_cast<uint8_t>(value);
        return {usb::Status::ok};
    case Request::get_latency:
        if (setup.length == 0)
            return {usb::Status::ok, 0};
        data[0] = settings.latency_ms;
        return {usb::Status::ok, 1};
    case Request::set_bit_mode:
        settings.bit_mask = static_cast<uint8_t>(value);
        settings.bit_mode = static_cast<uint8_t>(value >> 8);
        return {usb::Status::ok};
    case Request::read_pins: {
        if (setup.length == 0)
            return {usb::Status::ok, 0};
        // Outputs read what they drive; inputs are pulled high.
        uint8_t outputs = 0;
        if (settings.bit_mode == bit_mode_async_bitbang || settings.bit_mode == bit_mode_sync_bitbang)
            outputs = settings.bit_mask;
        data[0] = static_cast<uint8_t>((settings.pin_latch & outputs) | static_cast<uint8_t>(~outputs));
        return {usb::Status::ok, 1};
    }
    default: return {usb::Status::stall};
    }
}

ChipModel::Reply ChipModel::answer_eeprom_request(const usb::ControlSetup &setup, uint8_t *data)
{
    switch (setup.request) {
    case Request::read_eeprom: {
        uint16_t word = eeprom_->read(setup.index);
        const uint8_t reply[2] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
        uint16_t length = std::min<uint16_t>(setup.length, 2);
        std::copy(reply, reply + length, data);
        return {usb::Status::ok, length};
    }
    case Request::write_eeprom:
        return {eeprom_->write(setup.index, setup.value) ? usb::Status::ok : usb::Status::stall};
    default: eeprom_->erase(); return {usb::Status::ok};
    }
}

// The configuration bytes and error-correction word that the FT232H and FT-X keep beside
// their EEPROM words; only the models serve them.
ChipModel::Reply ChipModel::answer_model_request(const usb::ControlSetup &setup, uint8_t *data)
{
    const ftdi::Family family = profile_.identity->family;
    if (family != ftdi::Family::ft232h && family != ftdi::Family::ftx)
        return {usb::Status::stall};
    switch (setup.request) {
    case Request::model_read_config:
        if (setup.index >= config_bytes_.size())
            return {usb::Status::stall};
        if (setup.length == 0)
            return {usb::Status::ok, 0};
        data[0] = config_bytes_[setup.index];
        return {usb::Status::ok, 1};
    case Request::model_write_config:
        if (setup.index >= config_bytes_.size() || setup.value > 0xFF)
            return {usb::Status::stall};
        config_bytes_[setup.index] = static_cast<uint8_t>(setup.value);
        return {usb::Status::ok};
    default: {
        const uint8_t reply[2] = {static_cast<uint8_t>(error_correction_word_),
                                  static_cast<uint8_t>(error_correction_word_ >> 8)};
        uint16_t length = std::min<uint16_t>(setup.length, 2);
        std::copy(reply, reply + length, data);
        return {usb::Status::ok, length};
    }
    }
}

} // namespace corvane::sim
