// Finds the cartridge command packets in the byte stream the host writes to channel A.
//
// A packet starts with a known command code followed by that command's own length byte;
// anything else between packets is passed over and counted (zero bytes apart from the
// rest: the host pads the bootloader's program groups with them). A start that turns out
// wrong (a length or fixed byte that does not match) gives up only its first byte, and the
// bytes after it are looked at again, so the stream falls back into step at the next
// real packet.
#ifndef CORVANE_SIM_CARTRIDGE_FRAMER_H
#define CORVANE_SIM_CARTRIDGE_FRAMER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace corvane::sim {

enum class CartridgeCommand : uint8_t {
    sdram_write = 0x10,   // transfer header; 2 × length bytes follow, to SDRAM word address
    sdram_read = 0x20,    // transfer header; answered with 2 × length bytes of SDRAM
    config_write = 0x70,  // transfer header; length bytes follow, to the FPGA flash byte offset
    config_erase = 0x80,  // 80 04 BE EF
    flash_cycle = 0x90,   // one write cycle on the bootloader flash bus
    flash_program = 0x91, // the same, as the data cycle of a word program
    set_save_type = 0xD0, // D0 04 type 00
};

struct CartridgePacket {
    CartridgeCommand command = CartridgeCommand::sdram_write;
    uint32_t length = 0;  // transfer headers: in the command's unit
    uint32_t address = 0; // transfer headers: in the command's unit; bus cycles: byte address
    uint16_t data = 0;    // bus cycles
    uint8_t save_type = 0;
};

class CartridgeFramer {
public:
    static constexpr size_t longest_packet = 10;
    static constexpr uint8_t highest_save_type = 5;

    // Passes over the zero bytes at `data` while no packet is begun; returns how many.
    size_t skip_padding(const uint8_t *data, size_t size);

    // Takes one byte; returns the packet this byte completes.
    std::optional<CartridgePacket> feed(uint8_t byte);

    bool inside_packet() const { return collected_ > 0; }
    void reset() { collected_ = 0; }

    uint64_t zero_bytes() const { return zero_bytes_; }
    uint64_t skipped_bytes() const { return skipped_bytes_; }

private:
    enum class Verdict { incomplete, complete, rejected };

    Verdict judge() const;
    CartridgePacket decode() const;
    void reject();

    std::array<uint8_t, longest_packet> header_{};
    size_t collected_ = 0;
    uint64_t zero_bytes_ = 0;
    uint64_t skipped_bytes_ = 0;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_CARTRIDGE_FRAMER_H
