#include "loader/packets.h"

namespace corvane::loader {

namespace {

// The parallel-NOR command addresses 0x5555 and 0x2AAA, as the flash's byte addresses.
constexpr uint32_t UNLOCK_ADDRESS_1 = 0xAAAA;
constexpr uint32_t UNLOCK_ADDRESS_2 = 0x5554;

void fill_bus_cycle(uint8_t *out, uint8_t command, uint32_t flash_address, uint8_t high, uint8_t low)
{
    out[0] = command;
    out[1] = BUS_CYCLE_SIZE;
    store_be32(out + 2, flash_address);
    out[6] = high;
    out[7] = low;
}

} // namespace

void store_be32(uint8_t *out, uint32_t value)
{
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

Packet transfer_header(uint8_t command, uint32_t address, uint32_t length)
{
    Packet packet;
    packet.bytes[0] = command;
    packet.bytes[1] = TRANSFER_HEADER_SIZE;
    store_be32(&packet.bytes[2], length); // the length stands before the address
    store_be32(&packet.bytes[6], address);
    packet.size = TRANSFER_HEADER_SIZE;
    return packet;
}

Packet bus_cycle(uint8_t command, uint32_t flash_address, uint16_t data)
{
    Packet packet;
    fill_bus_cycle(packet.bytes.data(), command, flash_address, static_cast<uint8_t>(data >> 8),
                   static_cast<uint8_t>(data));
    packet.size = BUS_CYCLE_SIZE;
    return packet;
}

Packet save_type_packet(uint8_t save_type)
{
    Packet packet;
    packet.bytes[0] = CMD_SET_SAVE_TYPE;
    packet.bytes[1] = SHORT_PACKET_SIZE;
    packet.bytes[2] = save_type;
    packet.size = SHORT_PACKET_SIZE;
    return packet;
}

Packet config_erase_packet()
{
    Packet packet;
    packet.bytes[0] = CMD_CONFIG_ERASE;
    packet.bytes[1] = SHORT_PACKET_SIZE;
    packet.bytes[2] = 0xBE;
    packet.bytes[3] = 0xEF;
    packet.size = SHORT_PACKET_SIZE;
    return packet;
}

void write_program_group(uint8_t *out, uint32_t flash_address, uint8_t first_byte, uint8_t second_byte)
{
    fill_bus_cycle(out, CMD_FLASH_CYCLE, UNLOCK_ADDRESS_1, 0x00, 0xAA);
    fill_bus_cycle(out + BUS_CYCLE_SIZE, CMD_FLASH_CYCLE, UNLOCK_ADDRESS_2, 0x00, 0x55);
    fill_bus_cycle(out + 2 * BUS_CYCLE_SIZE, CMD_FLASH_CYCLE, UNLOCK_ADDRESS_1, 0x00, 0xA0);
    fill_bus_cycle(out + 3 * BUS_CYCLE_SIZE, CMD_FLASH_PROGRAM, flash_address, first_byte, second_byte);
}

} // namespace corvane::loader
