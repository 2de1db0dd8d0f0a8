// The in-process virtual bus every unit test drives: the chips of a few --chip
// descriptions in a fresh state folder, installed as the platform's test transport for
// the fixture's lifetime.
#ifndef CORVANE_TESTS_SUPPORT_INPROC_BUS_H
#define CORVANE_TESTS_SUPPORT_INPROC_BUS_H

#include "sim/chip_model.h"
#include "sim/virtual_bus.h"
#include "usb/transport.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane::sim {
class BusModel;
} // namespace corvane::sim

namespace corvane::testing {

struct RecordedControl {
    usb::ControlSetup setup;
    std::vector<uint8_t> data;
};

class InprocBus {
public:
    // `chips` are --chip descriptions, e.g. {"ft232r,serial=A1", "ft2232h"}. A description
    // that does not parse, or a bus that cannot be built, throws std::runtime_error.
    explicit InprocBus(const std::vector<std::string> &chips);
    ~InprocBus();
    InprocBus(const InprocBus &) = delete;
    InprocBus &operator=(const InprocBus &) = delete;

    sim::VirtualBus &bus();
    const std::filesystem::path &state_dir() const;

    // Every control request the device received, in order (data as sent or as answered).
    std::vector<RecordedControl> control_log(size_t device_index);
    void clear_control_log(size_t device_index);

    // The chip's EEPROM words as they stand; set_eeprom_words overwrites them all (the
    // size must match; FT-X write protection does not apply). Re-enumerate afterwards
    // (bus().reenumerate, or set_plugged false and true) for the identity to follow.
    std::vector<uint16_t> eeprom_words(size_t device_index);
    void set_eeprom_words(size_t device_index, const std::vector<uint16_t> &words);

    // Sets the CTS/DSR/RI/DCD bits of a channel's modem status (channel 1 = A); the next
    // bulk IN returns a packet at once, as the chip does when a line changes.
    void set_modem_lines(size_t device_index, unsigned channel, uint8_t modem_status);

    // Further hooks.
    // FT232R: the word read at `address` (0x40 to 0x7F) outside the 64 image words.
    void set_factory_word(size_t device_index, uint16_t address, uint16_t value);
    // FT232H and FT-X: the error-correction word the chip reports.
    void set_error_correction_word(size_t device_index, uint16_t value);
    // A channel's UART and bit-mode settings as the chip's vendor requests left them.
    sim::ChannelSettings channel_settings(size_t device_index, unsigned channel);
    // The device's bus id (its position as text) for bus() calls.
    static std::string device_id(size_t device_index) { return std::to_string(device_index); }

private:
    sim::BusModel &model();

    std::filesystem::path state_dir_;
    std::unique_ptr<sim::BusModel> bus_;
};

} // namespace corvane::testing

#endif // CORVANE_TESTS_SUPPORT_INPROC_BUS_H
