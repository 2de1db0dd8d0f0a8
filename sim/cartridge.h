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
    uint64_t skipped_bytes = 0; // bytes that formed no command, passed over
    uint64_t dropped_bytes = 0; // addressed beyond a memory's end, dropped
    uint64_t commands = 0;
    uint64_t zero_bytes = 0; // zero bytes between packets (padding), passed over
};

// How the model answers the host:
// - SDRAM (sdram.bin): a 0x10 block is exactly 2 × its word count of bytes; a byte the host
//   sends beyond that (an odd chunk announced with the count rounded down) forms no
//   command and is passed over. A 0x20 read is answered with exactly 2 × its word count of
//   bytes, read from the memory as the host takes them; while any of them is owed, take()
//   accepts nothing more. Bytes beyond the end are never wrapped: written ones are dropped,
//   read ones come back as 0xFF; both are counted as dropped.
// - Boot flash (bootflash.bin): each word is stored high byte first, as the host sends it,
//   so the file reads like the image it was programmed from. A cycle to 0x17000000 goes to
//   the flash controller and resets the flash to reading its array.
// - FPGA flash (fpga.bin): a write clears bits only (the AND of old and new) until erased.
// - A packet whose length byte, erase pattern (BE EF), save type (0 to 5) or reserved byte
//   is wrong forms no command; its first byte is skipped and the rest looked at again.
// - purge() forgets a half-received packet, the rest of a data block and an owed answer.
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
