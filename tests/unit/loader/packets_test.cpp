#include "loader/packets.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvane::loader {
namespace {

std::vector<uint8_t> bytes_of(const Packet &packet)
{
    return {packet.bytes.begin(), packet.bytes.begin() + static_cast<long>(packet.size)};
}

TEST(Packets, WorkedByteSequences)
{
    using Bytes = std::vector<uint8_t>;
    EXPECT_EQ(bytes_of(transfer_header(CMD_SDRAM_WRITE, 0, 0x80000 / 2)),
              (Bytes{0x10, 0x0A, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(bytes_of(transfer_header(CMD_SDRAM_READ, 0x40000 / 2, 0x1000 / 2)),
              (Bytes{0x20, 0x0A, 0x00, 0x00, 0x08, 0x00, 0x00, 0x02, 0x00, 0x00}));
    EXPECT_EQ(bytes_of(transfer_header(CMD_CONFIG_WRITE, 0x800, 0x400)),
              (Bytes{0x70, 0x0A, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x08, 0x00}));
    EXPECT_EQ(bytes_of(save_type_packet(3)), (Bytes{0xD0, 0x04, 0x03, 0x00}));
    EXPECT_EQ(bytes_of(config_erase_packet()), (Bytes{0x80, 0x04, 0xBE, 0xEF}));
    EXPECT_EQ(bytes_of(bus_cycle(CMD_FLASH_CYCLE, 0xAAAA, 0x00AA)),
              (Bytes{0x90, 0x08, 0x00, 0x00, 0xAA, 0xAA, 0x00, 0xAA}));
    EXPECT_EQ(bytes_of(transfer_header(CMD_SDRAM_WRITE, 0x80000000u, 0xFEDCBA98u)),
              (Bytes{0x10, 0x0A, 0xFE, 0xDC, 0xBA, 0x98, 0x80, 0x00, 0x00, 0x00}));
}

TEST(Packets, BufferBeyondThePacketStaysZero)
{
    Packet header = transfer_header(CMD_SDRAM_WRITE, 0xFFFFFFFF, 0xFFFFFFFF);
    for (size_t index = header.size; index < header.bytes.size(); ++index)
        EXPECT_EQ(header.bytes[index], 0) << index;
}

TEST(Packets, ProgramGroupUnlocksThenWritesTheWordInFileOrder)
{
    uint8_t group[PROGRAM_GROUP_SIZE + 1];
    group[PROGRAM_GROUP_SIZE] = 0x5A;
    write_program_group(group, 0x7FFFE, 0x12, 0x34);
    const std::vector<uint8_t> expected = {
        0x90, 0x08, 0x00, 0x00, 0xAA, 0xAA, 0x00, 0xAA, 0x90, 0x08, 0x00, 0x00, 0x55, 0x54, 0x00, 0x55,
        0x90, 0x08, 0x00, 0x00, 0xAA, 0xAA, 0x00, 0xA0, 0x91, 0x08, 0x00, 0x07, 0xFF, 0xFE, 0x12, 0x34,
    };
    EXPECT_EQ(std::vector<uint8_t>(group, group + PROGRAM_GROUP_SIZE), expected);
    EXPECT_EQ(group[PROGRAM_GROUP_SIZE], 0x5A);
}

} // namespace
} // namespace corvane::loader
