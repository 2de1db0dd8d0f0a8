// The cartridge command packets: a command byte, the packet's own length, big-endian
// arguments. Builders only; sending is the caller's (link.h).
#ifndef CORVANE_LOADER_PACKETS_H
#define CORVANE_LOADER_PACKETS_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace corvane::loader {

constexpr uint8_t CMD_SDRAM_WRITE = 0x10;  // words; the chunk follows from the host
constexpr uint8_t CMD_SDRAM_READ = 0x20;   // words; the cartridge answers with the chunk
constexpr uint8_t CMD_CONFIG_WRITE = 0x70; // bytes; the chunk follows from the host
constexpr uint8_t CMD_CONFIG_ERASE = 0x80;
constexpr uint8_t CMD_FLASH_CYCLE = 0x90;   // one 16-bit write on the bootloader flash bus
constexpr uint8_t CMD_FLASH_PROGRAM = 0x91; // the data cycle of a word program
constexpr uint8_t CMD_SET_SAVE_TYPE = 0xD0;

constexpr size_t TRANSFER_HEADER_SIZE = 10;
constexpr size_t BUS_CYCLE_SIZE = 8;
constexpr size_t SHORT_PACKET_SIZE = 4;
constexpr size_t PROGRAM_GROUP_SIZE = 4 * BUS_CYCLE_SIZE;

// A packet built in a zeroed 32-byte buffer; only `size` bytes go to the device.
struct Packet {
    std::array<uint8_t, 32> bytes{};
    size_t size = 0;
};

void store_be32(uint8_t *out, uint32_t value);

// `length` and `address` already in the command's unit (words for 0x10 and 0x20).
Packet transfer_header(uint8_t command, uint32_t address, uint32_t length);
Packet bus_cycle(uint8_t command, uint32_t flash_address, uint16_t data);
Packet save_type_packet(uint8_t save_type);
Packet config_erase_packet();

// The 32 bytes that program one flash word: three unlock and command cycles, then the
// data cycle carrying the word's two bytes in file order.
void write_program_group(uint8_t *out, uint32_t flash_address, uint8_t first_byte, uint8_t second_byte);

} // namespace corvane::loader

#endif // CORVANE_LOADER_PACKETS_H
