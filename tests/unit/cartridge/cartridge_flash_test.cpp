// The bootloader's NOR flash driven by bus-cycle packets, and the FPGA configuration flash.
#include "tests/unit/cartridge/cartridge_fixture.h"

namespace corvane::sim::testing {
namespace {

// The 32 bytes that program one word, as the host lays them out.
Bytes program_group(uint32_t address, uint8_t high, uint8_t low)
{
    return concat({{0x90, 0x08, 0x00, 0x00, 0xAA, 0xAA, 0x00, 0xAA},
                   {0x90, 0x08, 0x00, 0x00, 0x55, 0x54, 0x00, 0x55},
                   {0x90, 0x08, 0x00, 0x00, 0xAA, 0xAA, 0x00, 0xA0},
                   bus_cycle(address, static_cast<uint16_t>(high << 8 | low), 0x91)});
}

const Bytes chip_erase = concat({bus_cycle(0x17000000, 0x0000), bus_cycle(0xAAAA, 0x00AA), bus_cycle(0x5554, 0x0055),
                                 bus_cycle(0xAAAA, 0x0080), bus_cycle(0xAAAA, 0x00AA), bus_cycle(0x5554, 0x0055),
                                 bus_cycle(0xAAAA, 0x0010)});

using BootFlash = CartridgeTest;

TEST_F(BootFlash, ProgramGroupWritesTheWordHighByteFirstAndOnlyClearsBits)
{
    send(concat({{0x90, 0x08, 0x00, 0x00, 0xAA, 0xAA, 0x00, 0xAA},
                 {0x90, 0x08, 0x00, 0x00, 0x55, 0x54, 0x00, 0x55},
                 {0x90, 0x08, 0x00, 0x00, 0xAA, 0xAA, 0x00, 0xA0},
                 {0x91, 0x08, 0x00, 0x07, 0xFF, 0xFE, 0x12, 0x34}}));
    EXPECT_EQ(memory("bootflash.bin", 0x7FFFC, 4), (Bytes{0xFF, 0xFF, 0x12, 0x34}));

    send(program_group(0x7FFFE, 0xF0, 0xF0)); // 0xF0 is data here, not the reset command
    EXPECT_EQ(memory("bootflash.bin", 0x7FFFE, 2), (Bytes{0x10, 0x30}));
    send(program_group(0x11, 0x0F, 0x3C)); // an odd address selects its word
    EXPECT_EQ(memory("bootflash.bin", 0x10, 2), (Bytes{0x0F, 0x3C}));
}

TEST_F(BootFlash, ChipEraseSequenceErasesEverything)
{
    send(program_group(0, 0x00, 0x00));
    send(program_group(0x7FFFE, 0x12, 0x34));
    send(chip_erase);
    EXPECT_EQ(memory("bootflash.bin", 0, bootflash_bytes), Bytes(bootflash_bytes, 0xFF));
    // The first cycle goes to the flash controller, not past the end of the flash.
    EXPECT_EQ(cartridge_->counters().dropped_bytes, 0u);
}

TEST_F(BootFlash, IncompleteEraseSequencesEraseNothing)
{
    send(program_group(0, 0x00, 0x00));
    for (long cut = 1; cut < 7; ++cut) {
        // The sequence broken off by a cycle that does not continue it.
        send(concat({Bytes(chip_erase.begin(), chip_erase.begin() + cut * 8), bus_cycle(0x0100, 0x0010)}));
        EXPECT_EQ(memory("bootflash.bin", 0, 2), (Bytes{0, 0})) << "after the first " << cut << " erase cycles";
    }
}

// Program attempts whose command sequence is wrong somewhere: none may touch the array.
struct BrokenSequence {
    const char *name;
    Bytes cycles;
};

class BrokenProgram : public CartridgeTest, public ::testing::WithParamInterface<BrokenSequence> {};

TEST_P(BrokenProgram, LeavesTheFlashAsItWas)
{
    send(concat({GetParam().cycles, bus_cycle(0, 0x0000, 0x91)}));
    EXPECT_EQ(memory("bootflash.bin", 0, 4), Bytes(4, 0xFF));
    send(program_group(2, 0x00, 0x01)); // and a correct one right after works
    EXPECT_EQ(memory("bootflash.bin", 0, 4), (Bytes{0xFF, 0xFF, 0x00, 0x01}));
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, BrokenProgram,
    ::testing::Values(
        BrokenSequence{"DataCycleAlone", {}},
        BrokenSequence{"FirstUnlockAtWrongAddress",
                       concat({bus_cycle(0xAAAC, 0xAA), bus_cycle(0x5554, 0x55), bus_cycle(0xAAAA, 0xA0)})},
        BrokenSequence{"SecondUnlockWithWrongData",
                       concat({bus_cycle(0xAAAA, 0xAA), bus_cycle(0x5554, 0x54), bus_cycle(0xAAAA, 0xA0)})},
        BrokenSequence{"UnlocksSwapped",
                       concat({bus_cycle(0x5554, 0x55), bus_cycle(0xAAAA, 0xAA), bus_cycle(0xAAAA, 0xA0)})},
        BrokenSequence{"CommandAtWrongAddress",
                       concat({bus_cycle(0xAAAA, 0xAA), bus_cycle(0x5554, 0x55), bus_cycle(0x5554, 0xA0)})},
        BrokenSequence{"ControllerResetBeforeTheData", concat({bus_cycle(0xAAAA, 0xAA), bus_cycle(0x5554, 0x55),
                                                               bus_cycle(0xAAAA, 0xA0), bus_cycle(0x17000000, 0)})},
        BrokenSequence{"ResetCommandInTheUnlock", concat({bus_cycle(0xAAAA, 0xAA), bus_cycle(0x1234, 0xF0),
                                                          bus_cycle(0x5554, 0x55), bus_cycle(0xAAAA, 0xA0)})}),
    [](const ::testing::TestParamInfo<BrokenSequence> &info) { return std::string(info.param.name); });

TEST_F(BootFlash, BootloaderChunkWithItsZeroPaddingProgramsEveryWord)
{
    // One chunk as the host sends it: 8,192 program groups, then 0x40000 zero bytes, in
    // pieces that cut through packets; and a cycle beyond the flash, dropped.
    const Bytes image = pattern(0x4000, 0x21);
    const uint32_t base = 0x7C000;
    Bytes chunk;
    for (size_t i = 0; i < image.size(); i += 2) {
        Bytes group = program_group(base + static_cast<uint32_t>(i), image[i], image[i + 1]);
        chunk.insert(chunk.end(), group.begin(), group.end());
    }
    chunk.resize(0x80000, 0);
    send(concat({chip_erase, chunk, bus_cycle(0x80000, 0x00AA)}), 4093);

    EXPECT_EQ(memory("bootflash.bin", base, image.size()), image);
    EXPECT_EQ(memory("bootflash.bin", 0, 4), Bytes(4, 0xFF));
    const CartridgeCounters counters = cartridge_->counters();
    EXPECT_EQ(counters.zero_bytes, 0x40000u);
    EXPECT_EQ(counters.skipped_bytes, 0u);
    EXPECT_EQ(counters.dropped_bytes, 2u);
    EXPECT_EQ(counters.commands, 7u + 4 * 8192 + 1);
}

using FpgaConfig = CartridgeTest;

TEST_F(FpgaConfig, WritesClearBitsUntilErased)
{
    const Bytes data = pattern(0x400, 0x77);
    send({0x80, 0x04, 0xBE, 0xEF});
    send(concat({{0x70, 0x0A, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x08, 0x00}, data}), 100);
    EXPECT_EQ(memory("fpga.bin", 0x7FF, 0x402), concat({{0xFF}, data, {0xFF}}));

    send(concat({transfer_header(0x70, 2, 0x800), {0x0F, 0xF0}}));
    EXPECT_EQ(memory("fpga.bin", 0x800, 2),
              (Bytes{static_cast<uint8_t>(data[0] & 0x0F), static_cast<uint8_t>(data[1] & 0xF0)}));
    send({0x80, 0x04, 0xBE, 0xEF});
    EXPECT_EQ(memory("fpga.bin", 0, fpga_bytes), Bytes(fpga_bytes, 0xFF));
}

TEST_F(FpgaConfig, EraseWithoutItsFixedBytesDoesNothing)
{
    send(concat({transfer_header(0x70, 1, 0), {0x00}, {0x80, 0x04, 0xBE, 0xEE}, {0x80, 0x04, 0xEF, 0xBE}}));
    EXPECT_EQ(memory("fpga.bin", 0, 1), Bytes{0x00});
    EXPECT_EQ(cartridge_->counters().commands, 1u);
    EXPECT_EQ(cartridge_->counters().skipped_bytes, 8u);
}

TEST_F(FpgaConfig, WriteAcrossTheEndKeepsWhatFitsAndDropsTheRest)
{
    send(
        concat({transfer_header(0x70, 4, fpga_bytes - 2), {1, 2, 3, 4}, transfer_header(0x70, 2, 0xFFFFFFFF), {5, 6}}));
    EXPECT_EQ(memory("fpga.bin", fpga_bytes - 2, 2), (Bytes{1, 2}));
    EXPECT_EQ(memory("fpga.bin", 0, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(cartridge_->counters().dropped_bytes, 4u);
}

} // namespace
} // namespace corvane::sim::testing
