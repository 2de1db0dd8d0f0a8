// A bus of virtual USB devices: the FTDI chip models and the Corvane cartridge.
//
// The same bus serves the in-process transport (usb/vbus/inproc.cpp, unit tests) and
// corvane-sim (sim/server/main.cpp and its socket server). Clients are the processes or test
// transports that use the bus; a channel is claimed by at most one client at a time, and
// every claim of a client ends when the client is removed, however its connection ended.
//
// All members are safe to call from several threads at once. bulk_in and bulk_out block
// up to their time-out; they never hold the bus lock while they wait.
#ifndef CORVANE_SIM_VIRTUAL_BUS_H
#define CORVANE_SIM_VIRTUAL_BUS_H

#include "wire/usb_types.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::sim {

enum class ChipKind { corvane, ft232b, ft232r, ft2232, ft2232h, ft4232h, ft232h, ftx };

// One --chip option: KIND[,key=value]... with keys serial=, description=, location= (hex),
// eeprom= (0, 64, 128 or 256 words; chips with an external EEPROM only), fifo= (MB/s of
// the chip's FIFO under the USB timing model, or none).
struct ChipDescription {
    ChipKind kind = ChipKind::corvane;
    std::string serial;               // empty: a default unique per bus position
    std::string description;          // empty: the kind's default
    std::optional<uint32_t> location; // empty: from the bus position
    std::optional<unsigned> eeprom_words;
    bool alternate_codes_only = false; // test setting (key alt=1)
    std::optional<double> fifo_mbps;   // empty: the kind's default; 0: no FIFO limit
    bool usb_timing = false;           // transfers take the time USB 2.0 gives them
};

// Parses one --chip description. On failure returns nullopt and says why in `error`.
std::optional<ChipDescription> parse_chip_description(std::string_view text, std::string &error);

class VirtualBus {
public:
    using ClientId = uint64_t;

    // Builds the devices in bus order. Their memories (EEPROM words, and the cartridge's
    // SDRAM, flashes and save type) live in files of `state_dir`, created when missing
    // and kept across restarts. nullptr with a reason in `error` when that fails.
    static std::unique_ptr<VirtualBus> create(const std::vector<ChipDescription> &chips,
                                              const std::filesystem::path &state_dir, std::string &error);
    virtual ~VirtualBus() = default;

    virtual ClientId add_client() = 0;
    virtual void remove_client(ClientId client) = 0; // ends every claim of the client

    virtual std::vector<usb::DeviceIdentity> list() = 0;

    virtual usb::Status claim(ClientId client, const std::string &id, unsigned channel) = 0;
    virtual void release(ClientId client, const std::string &id, unsigned channel) = 0;

    // Transfers on a channel the client has claimed (Status::no_device otherwise, and
    // after the device was unplugged or re-enumerated since the claim).
    virtual usb::Status control(ClientId client, const std::string &id, unsigned channel,
                                const usb::ControlSetup &setup, uint8_t *data, unsigned timeout_ms,
                                uint16_t *transferred) = 0;
    virtual usb::Status bulk_out(ClientId client, const std::string &id, unsigned channel, const uint8_t *data,
                                 size_t size, unsigned timeout_ms, size_t *transferred) = 0;
    virtual usb::Status bulk_in(ClientId client, const std::string &id, unsigned channel, uint8_t *buffer, size_t size,
                                unsigned timeout_ms, size_t *transferred) = 0;
    // Ends the bulk_in calls of the channel that are waiting now: each returns at once with
    // Status::timeout and nothing, even if bytes come meanwhile. Later calls wait as ever.
    // A host that gives up its queued reads (after a purge) leaves the chip's next bytes
    // to the reads it queues afterwards.
    virtual void end_waiting_in(ClientId client, const std::string &id, unsigned channel) = 0;
    virtual usb::Status reset_device(ClientId client, const std::string &id) = 0;
    // Unplug and plug in again: claims on the device end, it re-reads its identity from
    // its EEPROM and is listed again under the same id.
    virtual usb::Status reenumerate(ClientId client, const std::string &id) = 0;

    // Fault switches for tests.
    virtual usb::Status set_plugged(const std::string &id, bool plugged) = 0;
    virtual usb::Status set_stalled(const std::string &id, bool stalled) = 0; // stops taking and giving bytes
    // Once: the next bulk transfer of the device, on any channel, that would move more than
    // `bytes` data bytes (OUT or IN, whichever comes first) moves only `bytes` and ends short.
    // An OUT transfer then ends at once with Status::timeout and the partial count, an IN
    // transfer with `bytes` data bytes (status bytes not counted). Transfers of no more than
    // `bytes` pass unchanged and leave the cut armed. Setting it again replaces the count.
    virtual usb::Status cut_next_transfer(const std::string &id, size_t bytes) = 0;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_VIRTUAL_BUS_H
