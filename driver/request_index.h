// The request indexes of the request tables that the driver answers, by name.
#ifndef CORVANE_DRIVER_REQUEST_INDEX_H
#define CORVANE_DRIVER_REQUEST_INDEX_H

#include <cstdint>

namespace corvane::driver {

enum RequestIndex : unsigned {
    request_reset = 1,
    request_cycle_port = 16,
    request_eeprom_read = 32,
    request_eeprom_write = 33,
    request_eeprom_erase = 34,
    request_event_notification = 35,
    request_event_status = 36,
    request_status = 37,
    request_divisor = 38,
    request_serial_number = 39,
    request_description = 40,
    request_location = 41,
    request_baud_rate = 65,
    request_data_characteristics = 67,
    request_break_on = 68,
    request_break_off = 69,
    request_timeouts = 71,
    request_set_dtr = 73,
    request_clear_dtr = 74,
    request_set_rts = 76,
    request_clear_rts = 77,
    request_set_wait_mask = 81,
    request_wait_on_mask = 82,
    request_purge = 83,
    request_special_characters = 87,
    request_flow_control = 89,
    request_modem_status = 90,
    request_receive_queue = 91,
    request_set_latency = 92,
    request_get_latency = 93,
    request_set_bit_mode = 94,
    request_read_pins = 95,
    request_transfer_sizes = 96,
    request_device_information = 102,
    request_stop_reading = 103,
    request_restart_reading = 104,
    request_pipe_retry_count = 105,
    request_reset_port = 106,
    request_deadman_timeout = 107,
    request_driver_version = 111,
    request_packet_size = 113,
    request_com_port_number = 114,
    request_read_config = 115,
    request_write_config = 116,
    request_read_ecc = 117,
    request_queue_status_ex = 118,
};

// Where a request code's generation starts: function i or 0x800 + i of device type 0x22,
// buffered, any access.
constexpr uint32_t primary_code_base = 0x00220000u;
constexpr uint32_t alternate_code_base = 0x00222000u;
constexpr unsigned request_index_count = 119;

} // namespace corvane::driver

#endif // CORVANE_DRIVER_REQUEST_INDEX_H
