// The serial-port requests: the comm state goes to the chip as its baud rate, data
// characteristics, flow control and modem lines; time-outs, the comm event mask, the
// events seen and the errors seen are the driver's own.
#include "driver/baud_rate.h"
#include "driver/channel_file.h"

#include "win32/types.h"

#include <cstring>

namespace corvane::driver {

namespace ftdi = usb::ftdi;

namespace {

constexpr uint32_t power_on_baud_rate = 9600;
constexpr uint32_t known_comm_events =
    EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;
constexpr uint8_t line_errors = ftdi::line_overrun | ftdi::line_parity | ftdi::line_framing;

uint32_t comm_errors_of(uint8_t line)
{
    uint32_t errors = 0;
    if (line & ftdi::line_overrun)
        errors |= CE_OVERRUN;
    if (line & ftdi::line_parity)
        errors |= CE_RXPARITY;
    if (line & ftdi::line_framing)
        errors |= CE_FRAME;
    if (line & ftdi::line_break)
        errors |= CE_BREAK;
    return errors;
}

// The chip settings one DCB stands for, worked out before anything is sent so that a
// DCB the chip cannot follow changes nothing.
struct ChipSettings {
    uint32_t baud_rate = 0;
    uint8_t characteristics[3] = {}; // as request 67 takes them: stop bits, parity, word length
    uint8_t flow[4] = {};            // as request 89 takes them: mode (2 bytes), XON, XOFF
    std::optional<uint16_t> dtr;     // modem control value, when the DCB sets the line
    std::optional<uint16_t> rts;
    bool cts_flow = false, dsr_flow = false;
};

std::optional<ChipSettings> settings_of(const uint8_t *state, Family family)
{
    ChipSettings chip;
    chip.baud_rate = load_u32(state + dcb::baud_rate);
    const uint32_t flags = load_u32(state + dcb::flags);
    const uint8_t word_length = state[dcb::byte_size], parity = state[dcb::parity], stop = state[dcb::stop_bits];
    const uint32_t dtr = (flags >> dcb::dtr_control_shift) & 3, rts = (flags >> dcb::rts_control_shift) & 3;
    // The UARTs know 7 or 8 data bits, the five parities, and one or two stop bits (no
    // one and a half); RTS is never toggled around each byte sent.
    if (!choose_baud_divisor(family, chip.baud_rate) || (word_length != 7 && word_length != 8) ||
        parity > SPACEPARITY || (stop != ONESTOPBIT && stop != TWOSTOPBITS) || rts == dcb::control_toggle)
        return std::nullopt;
    chip.characteristics[0] = stop;
    chip.characteristics[1] = parity;
    chip.characteristics[2] = word_length;

    // The chip follows one kind of flow control at a time; hardware handshakes first.
    chip.cts_flow = (flags & dcb::out_cts_flow) || rts == dcb::control_handshake;
    chip.dsr_flow = !chip.cts_flow && ((flags & dcb::out_dsr_flow) || dtr == dcb::control_handshake);
    uint16_t mode = 0;
    if (chip.cts_flow)
        mode = ftdi::flow_rts_cts;
    else if (chip.dsr_flow)
        mode = ftdi::flow_dtr_dsr;
    else if (flags & (dcb::out_xon_xoff | dcb::in_xon_xoff))
        mode = ftdi::flow_xon_xoff;
    store_u16(chip.flow, mode);
    chip.flow[2] = state[dcb::xon_char];
    chip.flow[3] = state[dcb::xoff_char];

    // A line under handshake belongs to the chip's flow control.
    if (dtr == dcb::control_enable || dtr == dcb::control_disable)
        chip.dtr = dtr == dcb::control_enable ? 0x0101 : 0x0100;
    if (rts == dcb::control_enable || rts == dcb::control_disable)
        chip.rts = rts == dcb::control_enable ? 0x0202 : 0x0200;
    return chip;
}

void store_buffer(RequestBuffers &buffers, const uint8_t *bytes, uint32_t size)
{
    std::memcpy(buffers.out, bytes, size);
    buffers.returned = size;
}

} // namespace

CommState::CommState()
{
    store_u32(state.data() + dcb::length, comm_state_size);
    store_u32(state.data() + dcb::baud_rate, power_on_baud_rate);
    store_u32(state.data() + dcb::flags, dcb::binary);
    state[dcb::byte_size] = 8;
    state[dcb::xon_char] = 0x11;
    state[dcb::xoff_char] = 0x13;
}

void CommState::set_baud_rate(uint32_t baud)
{
    store_u32(state.data() + dcb::baud_rate, baud);
}

void CommState::set_characteristics(const uint8_t *bytes)
{
    state[dcb::stop_bits] = bytes[0];
    state[dcb::parity] = bytes[1];
    state[dcb::byte_size] = bytes[2];
}

uint16_t CommState::characteristics() const
{
    return static_cast<uint16_t>(state[dcb::byte_size] | state[dcb::parity] << 8 | state[dcb::stop_bits] << 11);
}

void CommState::set_flow(uint16_t mode, uint8_t xon, uint8_t xoff)
{
    constexpr uint32_t control_mask = 3;
    uint32_t flags = load_u32(state.data() + dcb::flags) &
                     ~(dcb::out_cts_flow | dcb::out_dsr_flow | dcb::out_xon_xoff | dcb::in_xon_xoff);
    uint32_t dtr = (flags >> dcb::dtr_control_shift) & control_mask;
    uint32_t rts = (flags >> dcb::rts_control_shift) & control_mask;
    cts_flow = mode == ftdi::flow_rts_cts;
    dsr_flow = mode == ftdi::flow_dtr_dsr;
    // A line that leaves the handshake is no longer driven by the chip's flow control;
    // the DCB has no "as it is", so it reads as off.
    if (cts_flow) {
        flags |= dcb::out_cts_flow;
        rts = dcb::control_handshake;
    } else if (rts == dcb::control_handshake) {
        rts = dcb::control_disable;
    }
    if (dsr_flow) {
        flags |= dcb::out_dsr_flow;
        dtr = dcb::control_handshake;
    } else if (dtr == dcb::control_handshake) {
        dtr = dcb::control_disable;
    }
    if (mode == ftdi::flow_xon_xoff)
        flags |= dcb::out_xon_xoff | dcb::in_xon_xoff;
    flags &= ~(control_mask << dcb::dtr_control_shift | control_mask << dcb::rts_control_shift);
    flags |= dtr << dcb::dtr_control_shift | rts << dcb::rts_control_shift;
    store_u32(state.data() + dcb::flags, flags);
    state[dcb::xon_char] = xon;
    state[dcb::xoff_char] = xoff;
}

void CommState::set_special_characters(uint8_t event, bool event_enabled, uint8_t error, bool error_enabled)
{
    state[dcb::event_char] = event;
    state[dcb::error_char] = error;
    event_char_enabled = event_enabled;
    uint32_t flags = load_u32(state.data() + dcb::flags) & ~dcb::error_char_enabled;
    store_u32(state.data() + dcb::flags, flags | (error_enabled ? dcb::error_char_enabled : 0));
}

uint32_t ChannelFile::set_comm_state(const RequestBuffers &buffers)
{
    if (buffers.in_size < comm_state_size)
        return ERROR_INVALID_PARAMETER;
    std::optional<ChipSettings> chip = settings_of(buffers.in, family_);
    if (!chip)
        return ERROR_INVALID_PARAMETER;

    RequestBuffers baud;
    uint8_t baud_bytes[4];
    store_u32(baud_bytes, chip->baud_rate);
    baud.in = baud_bytes;
    baud.in_size = sizeof baud_bytes;
    uint32_t error = set_baud_rate(baud);
    if (error == ERROR_SUCCESS) {
        RequestBuffers characteristics;
        characteristics.in = chip->characteristics;
        characteristics.in_size = sizeof chip->characteristics;
        error = set_data_characteristics(characteristics);
    }
    if (error == ERROR_SUCCESS) {
        RequestBuffers flow;
        flow.in = chip->flow;
        flow.in_size = sizeof chip->flow;
        error = set_flow_control(flow);
    }
    if (error == ERROR_SUCCESS) {
        // The DCB has no switch for the event character: it keeps the one last set.
        const bool error_char_enabled = load_u32(buffers.in + dcb::flags) & dcb::error_char_enabled;
        uint8_t characters[4] = {buffers.in[dcb::event_char], 0, buffers.in[dcb::error_char],
                                 static_cast<uint8_t>(error_char_enabled ? 1 : 0)};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            characters[1] = comm_.event_char_enabled ? 1 : 0;
        }
        RequestBuffers special;
        special.in = characters;
        special.in_size = sizeof characters;
        error = set_special_characters(special);
    }
    if (error == ERROR_SUCCESS && chip->dtr)
        error = set_modem_line(*chip->dtr);
    if (error == ERROR_SUCCESS && chip->rts)
        error = set_modem_line(*chip->rts);
    if (error != ERROR_SUCCESS)
        return error;

    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(comm_.state.data(), buffers.in, comm_state_size);
    // Only binary transfers exist, and the length is that of the record the driver keeps.
    store_u32(comm_.state.data() + dcb::length, comm_state_size);
    store_u32(comm_.state.data() + dcb::flags, load_u32(buffers.in + dcb::flags) | dcb::binary);
    comm_.cts_flow = chip->cts_flow;
    comm_.dsr_flow = chip->dsr_flow;
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::get_comm_state(RequestBuffers &buffers)
{
    if (buffers.out_size < comm_state_size)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    store_buffer(buffers, comm_.state.data(), comm_state_size);
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::get_comm_timeouts(RequestBuffers &buffers)
{
    if (buffers.out_size < comm_timeouts_size)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    store_u32(buffers.out, timeouts_.read_interval);
    store_u32(buffers.out + 4, timeouts_.read_multiplier);
    store_u32(buffers.out + 8, timeouts_.read_constant);
    store_u32(buffers.out + 12, timeouts_.write_multiplier);
    store_u32(buffers.out + 16, timeouts_.write_constant);
    buffers.returned = comm_timeouts_size;
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::set_comm_mask(const RequestBuffers &buffers)
{
    if (buffers.in_size < 4)
        return ERROR_INVALID_PARAMETER;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        comm_.mask = load_u32(buffers.in) & known_comm_events;
        comm_.events = 0;
        ++comm_.mask_serial;
    }
    // A wait in progress ends with no event when its mask is replaced.
    consumers_.notify_all();
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::get_comm_mask(RequestBuffers &buffers)
{
    if (buffers.out_size < 4)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    store_u32(buffers.out, comm_.mask);
    buffers.returned = 4;
    return ERROR_SUCCESS;
}

// Events seen while no wait was under way are kept for the next wait, which then
// returns at once, so that none is lost between two waits.
uint32_t ChannelFile::wait_comm_event(RequestBuffers &buffers)
{
    if (buffers.out_size < 4)
        return ERROR_INVALID_PARAMETER;
    std::unique_lock<std::mutex> lock(mutex_);
    // With no mask nothing could ever end the wait; a second wait has nowhere to report.
    if (comm_.mask == 0 || comm_.waiting)
        return ERROR_INVALID_PARAMETER;
    const uint64_t serial = comm_.mask_serial;
    comm_.waiting = true;
    // Registered under the lock: a mask set from now on ends this wait.
    mark_queued(buffers.call);
    consumers_.wait(lock, [&] {
        return comm_.events != 0 || closed_ || vanished_ || serial != comm_.mask_serial || is_cancelled(buffers.call);
    });
    comm_.waiting = false;
    if (closed_ || (is_cancelled(buffers.call) && comm_.events == 0))
        return ERROR_OPERATION_ABORTED;
    uint32_t events = serial == comm_.mask_serial ? comm_.events : 0;
    if (events == 0 && vanished_ && serial == comm_.mask_serial)
        return ERROR_DEVICE_NOT_CONNECTED;
    if (serial == comm_.mask_serial)
        comm_.events = 0;
    store_u32(buffers.out, events);
    buffers.returned = 4;
    return ERROR_SUCCESS;
}

// The errors word combines what the packets' line status showed since the last call with
// the line status the chip reports now, and is cleared by being read.
uint32_t ChannelFile::get_comm_errors(RequestBuffers &buffers)
{
    if (buffers.out_size < comm_errors_reply_size)
        return ERROR_INVALID_PARAMETER;
    uint8_t reply[2] = {};
    uint32_t error = vendor_in(ftdi::modem_status, 0, channel_index(), reply, sizeof reply);
    if (error != ERROR_SUCCESS)
        return error;
    const auto modem = static_cast<uint8_t>(reply[0] & ~ftdi::modem_reserved_mask);

    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t errors = comm_.errors | comm_errors_of(reply[1]);
    comm_.errors = 0;
    // Sending waits while the handshake line of the flow control is low.
    uint32_t holds = 0;
    if (comm_.cts_flow && !(modem & ftdi::modem_cts))
        holds |= 1u << 0;
    if (comm_.dsr_flow && !(modem & ftdi::modem_dsr))
        holds |= 1u << 1;
    store_u32(buffers.out, errors);
    store_u32(buffers.out + 4, holds);
    store_u32(buffers.out + 8, static_cast<uint32_t>(queue_.size()));
    store_u32(buffers.out + 12, 0); // writes are synchronous: nothing waits to go out
    buffers.returned = comm_errors_reply_size;
    return ERROR_SUCCESS;
}

void ChannelFile::note_comm_packet_locked(uint8_t modem, uint8_t line, const uint8_t *data, size_t size)
{
    uint32_t events = 0;
    if (line_state_known_) {
        const auto changed = static_cast<uint8_t>(modem ^ modem_status_);
        if (changed & ftdi::modem_cts)
            events |= EV_CTS;
        if (changed & ftdi::modem_dsr)
            events |= EV_DSR;
        if (changed & ftdi::modem_dcd)
            events |= EV_RLSD;
        if (changed & ftdi::modem_ri)
            events |= EV_RING;
    }
    // A break or an error lasts over many packets; it is one event when it begins.
    const uint8_t before = line_state_known_ ? line_status_ : 0;
    if ((line & ftdi::line_break) && !(before & ftdi::line_break))
        events |= EV_BREAK;
    if ((line & line_errors) & ~(before & line_errors))
        events |= EV_ERR;
    comm_.errors |= comm_errors_of(line);
    if (size > 0) {
        events |= EV_RXCHAR;
        if (std::memchr(data, comm_.state[dcb::event_char], size))
            events |= EV_RXFLAG;
    }
    comm_.events |= events & comm_.mask;
}

void ChannelFile::note_comm_sent()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!(comm_.mask & EV_TXEMPTY))
            return;
        comm_.events |= EV_TXEMPTY;
    }
    consumers_.notify_all();
}

} // namespace corvane::driver
