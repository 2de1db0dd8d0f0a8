// The serial-port requests of the driver: comm state, comm time-outs, the comm event mask
// and its wait, comm errors and status. The records travel in the platform's layouts
// (DCB, COMMTIMEOUTS, COMSTAT) and are read and written here byte by byte, little-endian.
#ifndef CORVANE_DRIVER_COMM_REQUESTS_H
#define CORVANE_DRIVER_COMM_REQUESTS_H

#include <array>
#include <cstdint>

namespace corvane::driver {

enum CommRequestIndex : unsigned {
    request_get_comm_timeouts = 72,
    request_set_comm_mask = 97,
    request_wait_comm_event = 98,
    request_comm_errors = 99,
    request_set_comm_state = 100,
    request_get_comm_state = 101,
    request_get_comm_mask = 112,
};

constexpr uint32_t comm_state_size = 28;    // DCB
constexpr uint32_t comm_timeouts_size = 20; // COMMTIMEOUTS
constexpr uint32_t comm_status_size = 12;   // COMSTAT
constexpr uint32_t comm_errors_reply_size = 4 + comm_status_size;

// Byte offsets of the DCB fields the driver reads.
namespace dcb {
constexpr unsigned length = 0;
constexpr unsigned baud_rate = 4;
constexpr unsigned flags = 8; // the bit fields, in one 32-bit word
constexpr unsigned byte_size = 18;
constexpr unsigned parity = 19;
constexpr unsigned stop_bits = 20;
constexpr unsigned xon_char = 21;
constexpr unsigned xoff_char = 22;
constexpr unsigned error_char = 23;
constexpr unsigned event_char = 25;

// Bits of the flags word.
constexpr uint32_t binary = 1u << 0;
constexpr uint32_t parity_check = 1u << 1;
constexpr uint32_t out_cts_flow = 1u << 2;
constexpr uint32_t out_dsr_flow = 1u << 3;
constexpr unsigned dtr_control_shift = 4; // 2 bits
constexpr uint32_t out_xon_xoff = 1u << 8;
constexpr uint32_t in_xon_xoff = 1u << 9;
constexpr uint32_t error_char_enabled = 1u << 10;
constexpr unsigned rts_control_shift = 12; // 2 bits
constexpr uint32_t control_disable = 0, control_enable = 1, control_handshake = 2, control_toggle = 3;
} // namespace dcb

// What the comm requests keep per open channel; guarded by the channel's lock.
struct CommState {
    // The line settings as one DCB, whichever request set them last: the comm state as
    // the caller sent it (with the length and binary fields made right), then the baud
    // rate, data characteristics, flow control and special characters of the requests of
    // their own. Starts as the chip after power-on: 9600 baud, 8 data bits, no parity,
    // one stop bit, no flow control, DTR and RTS off.
    std::array<uint8_t, comm_state_size> state{};
    bool event_char_enabled = false; // the DCB has no place for it
    uint32_t mask = 0;               // comm events asked for
    uint32_t events = 0;             // comm events seen since the last wait took them
    uint64_t mask_serial = 0;        // advanced by every new mask: a wait under the old one ends
    bool waiting = false;            // one comm event wait at a time, as on a serial port
    uint32_t errors = 0;             // CE_* bits seen since the last read of the errors
    bool cts_flow = false;           // the flow control of the comm state, for the COMSTAT holds
    bool dsr_flow = false;

    CommState();

    void set_baud_rate(uint32_t baud);
    // The three bytes of the data characteristics request: stop bits, parity, word length.
    void set_characteristics(const uint8_t *bytes);
    // The wValue of the data characteristics request for these settings, break off.
    uint16_t characteristics() const;
    // The mode (the flow control request's wIndex high byte) and the XON and XOFF characters.
    void set_flow(uint16_t mode, uint8_t xon, uint8_t xoff);
    void set_special_characters(uint8_t event, bool event_enabled, uint8_t error, bool error_enabled);
};

} // namespace corvane::driver

#endif // CORVANE_DRIVER_COMM_REQUESTS_H
