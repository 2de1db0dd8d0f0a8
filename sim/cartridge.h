// The Corvane cartridge model: executes the cartridge command packets that arrive on
// channel A of a `corvane` chip, on memories kept in files of the state directory.
#ifndef CORVANE_SIM_CARTRIDGE_H
#define CORVANE_SIM_CARTRIDGE_H

#include "sim/channel_peer.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace corvane::sim {

struct CartridgeCounters {
    uint64_t skipped_bytes = 0;     // bytes that formed no command, passed over
    uint64_t dropped_bytes = 0;     // addressed beyond a memory's end, dropped
    uint64_t commands = 0;
    uint64_t zero_bytes = 0;        // zero bytes between packets (padding), passed over
};

class Cartridge : public ChannelPeer {
public:
    // Maps sdram.bin (64 MiB), bootflash.bin (512 KiB), fpga.bin (4 MiB) and reads
    // savetype in `state_dir`, creating missing files. A file of the wrong size is refused
    // (nullptr, the reason in `error`), never resized.
    static std::unique_ptr<Cartridge> open(const std::filesystem::path &state_dir, std::string &error);

    // Fault switch: a stalled cartridge takes and gives no bytes.
    virtual void set_stalled(bool stalled) = 0;
    virtual CartridgeCounters counters() const = 0;

    // The last save type the host set (also in the file `savetype`); none before the first.
    virtual std::optional<unsigned> save_type() const = 0;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_CARTRIDGE_H
