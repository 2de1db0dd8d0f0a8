// The FTDI chips' USB protocol, in one place: the driver stand-in and the chip model
// both speak from this table, so a correction found on hardware is one line here.
// Values marked "unconfirmed" are the commonly known ones that no maker document states.
#ifndef CORVANE_WIRE_FTDI_PROTOCOL_H
#define CORVANE_WIRE_FTDI_PROTOCOL_H

#include <cstdint>

namespace corvane::usb::ftdi {

constexpr uint16_t vendor_id = 0x0403;

constexpr uint8_t request_out = 0x40; // bmRequestType: vendor, device, host to device
constexpr uint8_t request_in = 0xC0;  // bmRequestType: vendor, device, device to host

// bRequest values (unconfirmed bit layouts; see the comments).
enum Request : uint8_t {
    reset_purge = 0x00,          // wValue 0 reset channel, 1 and 2 purge one buffer each
    modem_control = 0x01,        // bit 0 DTR, bit 1 RTS, bits 8/9 select which to change
    flow_control = 0x02,         // wValue XON | XOFF << 8; wIndex channel | mode << 8
    baud_rate = 0x03,            // divisor bits 0-15 in wValue, bits 16+ in wIndex
    data_characteristics = 0x04, // bits 0-7 data bits, 8-10 parity, 11-12 stop bits, 14 break
    modem_status = 0x05,         // 2 bytes in: modem status, line status
    event_char = 0x06,           // char | enable << 8
    error_char = 0x07,           // char | enable << 8
    set_latency = 0x09,          // milliseconds 1 to 255
    get_latency = 0x0A,          // 1 byte in
    set_bit_mode = 0x0B,         // mask | mode << 8
    read_pins = 0x0C,            // 1 byte in
    read_eeprom = 0x90,          // wIndex word address; 2 bytes in, little-endian
    write_eeprom = 0x91,         // wValue the word, wIndex the word address
    erase_eeprom = 0x92,
    // Served only by the chip models of sim/ (DeviceIdentity::virtual_model); the driver
    // never sends these to a real chip. They stand for the EEPROM configuration byte and
    // error-correction word that the H series and FT-X keep outside the word space.
    model_read_config = 0xE0,  // wIndex byte address; 1 byte in
    model_write_config = 0xE1, // wValue the byte, wIndex byte address
    model_read_ecc = 0xE2,     // 2 bytes in
};

// wValue of reset_purge. Which purge value clears which buffer is not documented; the
// model treats both as "one of the two buffers" and never relies on the difference.
constexpr uint16_t reset_channel = 0;
constexpr uint16_t purge_rx = 1;
constexpr uint16_t purge_tx = 2;

// wIndex high byte of flow_control.
constexpr uint16_t flow_rts_cts = 0x0100;
constexpr uint16_t flow_dtr_dsr = 0x0200;
constexpr uint16_t flow_xon_xoff = 0x0400;

// Modem status byte (first status byte of every IN packet); bits 0-3 are reserved.
constexpr uint8_t modem_cts = 0x10;
constexpr uint8_t modem_dsr = 0x20;
constexpr uint8_t modem_ri = 0x40;
constexpr uint8_t modem_dcd = 0x80;
constexpr uint8_t modem_reserved_mask = 0x0F;

// Line status byte (second status byte).
constexpr uint8_t line_overrun = 0x02;
constexpr uint8_t line_parity = 0x04;
constexpr uint8_t line_framing = 0x08;
constexpr uint8_t line_break = 0x10;
constexpr uint8_t line_tx_holding_empty = 0x20;
constexpr uint8_t line_tx_empty = 0x40;

constexpr unsigned status_bytes = 2; // at the start of every bulk IN packet
constexpr uint8_t default_latency_ms = 16;

// Chip families by bcdDevice (unconfirmed).
enum class Family { am, bm, ft2232c, ft232r, ft2232h, ft4232h, ft232h, ftx, unknown };

struct ChipIdentity {
    uint16_t bcd_device;
    Family family;
    uint16_t default_product_id;
    bool high_speed;
    uint8_t channels;
    uint32_t chip_code; // what the driver reports in the device information reply
};

inline constexpr ChipIdentity chip_identities[] = {
    {0x0200, Family::am, 0x6001, false, 1, 0x40360010},      {0x0400, Family::bm, 0x6001, false, 1, 0x40360011},
    {0x0500, Family::ft2232c, 0x6010, false, 2, 0x40360100}, {0x0600, Family::ft232r, 0x6001, false, 1, 0x40360012},
    {0x0700, Family::ft2232h, 0x6010, true, 2, 0x40360101},  {0x0800, Family::ft4232h, 0x6011, true, 4, 0x40360110},
    {0x0900, Family::ft232h, 0x6014, true, 1, 0x40360140},   {0x1000, Family::ftx, 0x6015, false, 1, 0x40360150},
};

// A chip code outside the device library's table, so that an unknown chip lists as type 3.
constexpr uint32_t unknown_chip_code = 0x40360000;

inline constexpr const ChipIdentity *find_chip(uint16_t bcd_device)
{
    for (const ChipIdentity &chip : chip_identities)
        if (chip.bcd_device == bcd_device)
            return &chip;
    return nullptr;
}

} // namespace corvane::usb::ftdi

#endif // CORVANE_WIRE_FTDI_PROTOCOL_H
