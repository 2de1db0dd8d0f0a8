// One virtual FTDI chip on the virtual bus: its identity, its channels with their UART
// state and the peer behind each (a loopback plug, or the cartridge), its EEPROM, and the
// claims clients hold on its channels.
//
// One lock per chip guards all of it; bulk transfers wait on the chip's condition
// variable, which releases the lock while they wait.
#ifndef CORVANE_SIM_CHIP_MODEL_H
#define CORVANE_SIM_CHIP_MODEL_H

#include "sim/byte_ring.h"
#include "sim/channel_peer.h"
#include "sim/chip_kind.h"
#include "sim/eeprom_part.h"
#include "sim/usb_timing.h"
#include "sim/virtual_bus.h"
#include "wire/usb_types.h"

#include <array>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace corvane::sim {

using ClientId = VirtualBus::ClientId;

// A control request as the chip received it, with its data as sent or as answered.
struct ControlRecord {
    usb::ControlSetup setup;
    std::vector<uint8_t> data;
};

// The UART and bit-mode settings of one channel, as the vendor requests left them.
struct ChannelSettings {
    uint32_t baud_divisor = 0;
    uint16_t data_characteristics = 8; // 8 data bits, no parity, one stop bit, no break
    uint16_t flow_mode = 0;            // wIndex high byte of the flow control request, shifted
    uint8_t xon = 0x11, xoff = 0x13;
    bool dtr = false, rts = false;
    uint8_t event_char = 0x0E;
    bool event_enabled = false;
    uint8_t error_char = 0;
    bool error_enabled = false;
    uint8_t latency_ms = 16;
    uint8_t bit_mask = 0, bit_mode = 0;
    uint8_t pin_latch = 0; // last byte written in a bit-bang mode
};

// Everything the bus decides for a chip before building it.
struct ChipPlacement {
    ChipDescription chip;
    std::string id;        // bus position as decimal text
    std::string serial;    // the --chip serial or the position's default
    uint32_t location = 0; // low hexadecimal digit 0
};

class ChipModel {
public:
    static std::unique_ptr<ChipModel> create(const ChipPlacement &placement, const std::filesystem::path &state_dir,
                                             std::string &error);
    ~ChipModel();

    const std::string &id() const { return placement_.id; }
    // The identity as last read from the EEPROM; nullopt while unplugged.
    std::optional<usb::DeviceIdentity> listed_identity();

    usb::Status claim(ClientId client, unsigned channel);
    void release(ClientId client, unsigned channel);
    void release_all(ClientId client);

    usb::Status control(ClientId client, unsigned channel, const usb::ControlSetup &setup, uint8_t *data,
                        uint16_t *transferred);
    usb::Status bulk_out(ClientId client, unsigned channel, const uint8_t *data, size_t size, unsigned timeout_ms,
                         size_t *transferred);
    usb::Status bulk_in(ClientId client, unsigned channel, uint8_t *buffer, size_t size, unsigned timeout_ms,
                        size_t *transferred);
    void end_waiting_in(ClientId client, unsigned channel);
    usb::Status reset_device(ClientId client);
    usb::Status reenumerate(ClientId client);
    void set_plugged(bool plugged);
    void set_stalled(bool stalled);
    void cut_next_transfer(size_t bytes);

    // Test hooks.
    void set_control_logging(bool enabled);
    std::vector<ControlRecord> control_log();
    void clear_control_log();
    std::vector<uint16_t> eeprom_words();
    bool set_eeprom_words(const std::vector<uint16_t> &words);
    bool set_factory_word(uint16_t address, uint16_t value);
    bool set_modem_lines(unsigned channel, uint8_t modem_status);
    std::optional<ChannelSettings> channel_settings(unsigned channel);
    void set_error_correction_word(uint16_t value);

private:
    // A bulk_in waiting for the peer's bytes. A write into a pass-through peer that holds
    // nothing fills it directly, sparing the copy through the peer's buffer.
    struct WaitingIn {
        ClientId client; // a claim that ended leaves its read to no later owner's bytes
        uint8_t *buffer;
        size_t size;
        size_t filled = 0;
        bool served = false;
    };
    struct Channel {
        ChannelSettings settings;
        std::unique_ptr<ChannelPeer> peer;
        bool loopback = true;       // the plug wires RTS to CTS, DTR to DSR and DCD
        uint8_t modem_lines = 0;    // CTS, DSR, RI, DCD bits of the modem status
        bool modem_changed = false; // a packet is due at once
        bool emptied = false;       // reset or purged: a packet is due at once
        uint8_t line_errors = 0;
        uint64_t reads_ended = 0; // end_waiting_in calls: a read that sees it move ends
        ClientId owner = 0;
        WaitingIn *waiting_in = nullptr;
        // The chip's buffer towards a peer that refuses bytes while it is busy (the
        // cartridge answering a read): bytes it holds complete the host's write and go to
        // the peer once it takes them. None under the timing model, which keeps its own,
        // nor before a loopback plug, whose ring already stands for the chip's buffers.
        std::optional<ByteRing> held_out;
    };
    struct Reply {
        usb::Status status;
        uint16_t length = 0;
    };

    explicit ChipModel(const ChipPlacement &placement);
    bool owns(ClientId client, unsigned channel) const;
    bool owns_any(ClientId client) const;
    void read_identity();
    void end_claims();
    void power_on_channels();
    uint8_t modem_status_byte(const Channel &channel) const;
    uint8_t line_status_byte(const Channel &channel) const;
    void set_lines(Channel &channel, uint8_t lines);
    size_t fill_packets(Channel &channel, uint8_t *buffer, size_t size, size_t data_limit);
    size_t hand_to_waiting_in(Channel &channel, const uint8_t *data, size_t size);
    size_t take_out(Channel &channel, const uint8_t *data, size_t size);
    void pass_held_out(Channel &channel);
    void latch_pins(Channel &channel, const uint8_t *data, size_t size);
    void log_control(const usb::ControlSetup &setup, const uint8_t *data, uint16_t length);

    // Transfers under the USB timing model (chip_timed_transfers.cpp), with the lock held.
    usb::Status timed_bulk_in(std::unique_lock<std::mutex> &guard, ClientId client, unsigned channel_number,
                              uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred);
    usb::Status timed_bulk_out(std::unique_lock<std::mutex> &guard, ClientId client, unsigned channel_number,
                               const uint8_t *data, size_t size, unsigned timeout_ms, size_t *transferred);
    void advance_timed(unsigned channel_number);

    // Vendor requests (chip_requests.cpp), with the lock held.
    Reply answer(const usb::ControlSetup &setup, uint8_t *data);
    Channel *addressed_channel(uint16_t index);
    Reply answer_channel_request(Channel &channel, const usb::ControlSetup &setup, uint8_t *data);
    Reply answer_eeprom_request(const usb::ControlSetup &setup, uint8_t *data);
    Reply answer_model_request(const usb::ControlSetup &setup, uint8_t *data);

    ChipPlacement placement_;
    const ChipProfile &profile_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Channel> channels_;
    std::unique_ptr<EepromPart> eeprom_;
    usb::DeviceIdentity identity_;
    bool plugged_ = true;
    bool stalled_ = false;
    std::optional<size_t> cut_; // armed by cut_next_transfer, spent by the transfer it cuts
    std::array<uint8_t, 256> config_bytes_{};
    uint16_t error_correction_word_ = 0;
    bool logging_ = false;
    std::deque<ControlRecord> control_log_;
    std::unique_ptr<UsbTiming> timing_; // none: transfers complete as soon as they can
};

} // namespace corvane::sim

#endif // CORVANE_SIM_CHIP_MODEL_H
