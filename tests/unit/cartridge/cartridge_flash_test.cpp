// The bootloader's NOR flash driven by bus-cycle packets, and the FPGA configuration flash.
#include "tests/unit/cartridge/cartridge_fixture.h"

namespace corvane::sim::testing {
namespace {

// The 32 bytes that program one word, as the host lays them out.
Bytes program_group(uint32_t address, uint8_t high, uint8_t low) {
    return concat({{0x90, 0x08, 0x00, 0x00, 0xAA, 0xAA, 0x00, 0xAA},
                   {0x90, 0x08, 0x00, 0x00, 0x55, 0x54, 0x00, 0x55},
                   {0x90, 0x08, 0x00, 0x00, 0xAA, 0xAA, 0x00, 0xA0},
                   bus_cycle(address, static_cast<uint16_t>(high << 8 | low), 0x91)});
}

const Bytes chip_erase = concat({bus_cycle(0x17000000, 0x0000), bus_cycle(0xAAAA, 0x00AA), bus_cycle(0x5554, 0x0055),
                                 bus_cycle(0xAAAA, 0x0080), bus_cycle(0xAAAA, 0x00AA), bus_cycle(0x5554, 0x0055),
                                 bus_cycle(0xAAAA, 0x0010)});

using BootFlash = CartridgeTest;

TEST_F(BootFlash, ProgramGroupWritesTheWordHighByteFirst) {
    send(concat({{0x90, 0x08, 0x00, 0x00, 0xAA, 0xAA, 0x00, 0xAA},
                 {0x90, 0x08, 0x00, 0x00, 0x55, 0x54, 0x00, 0x55},
                 {0x90, 0x08, 0x00, 0x00, 0xAA, 0xAA, 0x00, 0xA0},
                 {0x91, 0x08, 0x00, 0x07, 0xFF, 0xFE, 0x12, 0x34}}));
    EXPECT_EQ(bootflash(0x7FFFC, 4), (Bytes{0xFF, 0xFF, 0x12, 0x34}));
    EXPECT_EQ(cartridge_->counters().commands, 4u);
}

TEST_F(BootFlash, ProgramCanOnlyClearBits) {
    send(program_group(0x10, 0x0F, 0x3C));
    send(program_group(0x10, 0xF0, 0xFF));
    EXPECT_EQ(bootflash(0x10, 2), (Bytes{0x00, 0x3C}));
}

TEST_F(BootFlash, ChipEraseSequenceErasesEverything) {
    send(program_group(0, 0x00, 0x00));
    send(program_group(0x7FFFE, 0x12, 0x34));
    send(chip_erase);
    EXPECT_EQ(bootflash(0, bootflash_bytes), Bytes(bootflash_bytes, 0xFF));
    // The first cycle goes to the flash controller, not past the end of the flash.
    EXPECT_EQ(cartridge_->counters().dropped_bytes, 0u);
}

// Program attempts whose command sequence is wrong somewhere; none may touch the array.
struct BrokenSequence {
    const char *name;
    Bytes cycles;
};

class BrokenProgram : public CartridgeTest, public ::testing::WithParamInterface<BrokenSequence> {};

TEST_P(BrokenProgram, LeavesTheFlashAsItWas) {
    send(GetParam().cycles);
    EXPECT_EQ(bootflash(0, 4), Bytes(4, 0xFF));
    // A correct sequence right after the broken one works.
    send(program_group(2, 0x00, 0x01));
    EXPECT_EQ(bootflash(0, 4), (Bytes{0xFF, 0xFF, 0x00, 0x01}));
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, BrokenProgram,
    ::testing::Values(
        BrokenSequence{"DataCycleAlone", bus_cycle(0, 0x0000, 0x91)},
        BrokenSequence{"FirstUnlockAtWrongAddress",
                       concat({bus_cycle(0xAAAC, 0xAA), bus_cycle(0x5554, 0x55), bus_cycle(0xAAAA, 0xA0),
                               bus_cycle(0, 0, 0x91)})},
        BrokenSequence{"SecondUnlockWithWrongData",
                       concat({bus_cycle(0xAAAA, 0xAA), bus_cycle(0x5554, 0x54), bus_cycle(0xAAAA, 0xA0),
                               bus_cycle(0, 0, 0x91)})},
        BrokenSequence{"UnlocksSwapped",
                       concat({bus_cycle(0x5554, 0x55), bus_cycle(0xAAAA, 0xAA), bus_cycle(0xAAAA, 0xA0),
                               bus_cycle(0, 0, 0x91)})},
        BrokenSequence{"CommandAtWrongAddress",
                       concat({bus_cycle(0xAAAA, 0xAA), bus_cycle(0x5554, 0x55), bus_cycle(0x5554, 0xA0),
                               bus_cycle(0, 0, 0x91)})},
        BrokenSequence{"ResetBeforeTheData",
                       concat({bus_cycle(0xAAAA, 0xAA), bus_cycle(0x5554, 0x55), bus_cycle(0xAAAA, 0xA0),
                               bus_cycle(0x17000000, 0), bus_cycle(0, 0, 0x91)})},
        BrokenSequence{"ResetCommandInTheUnlock",
                       concat({bus_cycle(0xAAAA, 0xAA), bus_cycle(0x1234, 0xF0), bus_cycle(0x5554, 0x55),
                               bus_cycle(0xAAAA, 0xA0), bus_cycle(0, 0, 0x91)})}),
    [](const ::testing::TestParamInfo<BrokenSequence> &info) { return std::string(info.param.name); });

TEST_F(BootFlash, IncompleteEraseSequencesEraseNothing) {
    send(program_group(0, 0x00, 0x00));
    for (size_t cut = 1; cut < 7; ++cut) {
        const Bytes cycles(chip_erase.begin(), chip_erase.begin() + static_cast<long>(cut * 8));
        // The last cycle given again as a stray cycle that does not continue the sequence.
        send(concat({cycles, bus_cycle(0x0100, 0x0010)}));
        EXPECT_EQ(bootflash(0, 2), (Bytes{0, 0})) << "after the first " << cut << " erase cycles";
    }
    send(concat({bus_cycle(0xAAAA, 0xAA), bus_cycle(0x5554, 0x55), bus_cycle(0xAAAA, 0x80),
                 bus_cycle(0xAAAA, 0xAA), bus_cycle(0x5554, 0x55), bus_cycle(0x0002, 0x10)}));
    EXPECT_EQ(bootflash(0, 2), (Bytes{0, 0})) << "erase confirmed at the wrong address";
}

TEST_F(BootFlash, OddByteAddressSelectsItsWord) {
    // An odd byte address selects the same 16-bit word.
    send(program_group(0x21, 0xAB, 0xCD));
    EXPECT_EQ(bootflash(0x20, 2), (Bytes{0xAB, 0xCD}));
}

TEST_F(BootFlash, CyclesBeyondTheFlashAreDroppedAndCounted) {
    send(concat({bus_cycle(0x80000, 0xAA), bus_cycle(0xFFFFFFFE, 0x55)}));
    send(program_group(0x80000, 0x00, 0x00));
    EXPECT_EQ(cartridge_->counters().dropped_bytes, 6u);
    EXPECT_EQ(bootflash(0, 4), Bytes(4, 0xFF));
}

TEST_F(BootFlash, BootloaderChunkWithItsZeroPaddingProgramsEveryWord) {
    // One chunk as the host sends it: 8,192 program groups, then 0x40000 zero bytes, in
    // pieces that cut through packets.
    const Bytes image = pattern(0x4000, 0x21);
    const uint32_t base = 0x7C000;
    Bytes chunk;
    for (size_t i = 0; i < image.size(); i += 2) {
        Bytes group = program_group(base + static_cast<uint32_t>(i), image[i], image[i + 1]);
        chunk.insert(chunk.end(), group.begin(), group.end());
    }
    chunk.resize(0x80000, 0);
    send(chip_erase);
    send(chunk, 4093);

    EXPECT_EQ(bootflash(base, image.size()), image);
    EXPECT_EQ(bootflash(0, 4), Bytes(4, 0xFF));
    const CartridgeCounters counters = cartridge_->counters();
    EXPECT_EQ(counters.zero_bytes, 0x40000u);
    EXPECT_EQ(counters.skipped_bytes, 0u);
    EXPECT_EQ(counters.dropped_bytes, 0u);
    EXPECT_EQ(counters.commands, 7u + 4 * 8192);
}

TEST_F(BootFlash, ResetCodeIsPlainDataInTheProgramCycle) {
    send(program_group(6, 0xF0, 0xF0));
    send(program_group(8, 0x00, 0xF0));
    EXPECT_EQ(bootflash(6, 4), (Bytes{0xF0, 0xF0, 0x00, 0xF0}));
}

using FpgaConfig = CartridgeTest;

TEST_F(FpgaConfig, EraseThenWriteAtByteOffset) {
    const Bytes data = pattern(0x400, 0x77);
    send({0x80, 0x04, 0xBE, 0xEF});
    send(concat({{0x70, 0x0A, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x08, 0x00}, data}), 100);

    EXPECT_EQ(fpga(0x800, 0x400), data);
    EXPECT_EQ(fpga(0x7FF, 1), Bytes{0xFF});
    EXPECT_EQ(fpga(0xC00, 1), Bytes{0xFF});
    EXPECT_EQ(cartridge_->counters().commands, 2u);
}

TEST_F(FpgaConfig, WritingOverOldContentsClearsBitsOnlyUntilErased) {
    send(concat({{0x70, 0x0A, 0, 0, 0, 2, 0, 0, 0, 0}, {0x0F, 0xF0}}));
    send(concat({{0x70, 0x0A, 0, 0, 0, 2, 0, 0, 0, 0}, {0x3C, 0x3C}}));
    EXPECT_EQ(fpga(0, 2), (Bytes{0x0C, 0x30}));
    send({0x80, 0x04, 0xBE, 0xEF});
    EXPECT_EQ(fpga(0, fpga_bytes), Bytes(fpga_bytes, 0xFF));
}

TEST_F(FpgaConfig, EraseWithoutItsFixedBytesDoesNothing) {
    send(concat({{0x70, 0x0A, 0, 0, 0, 1, 0, 0, 0, 0}, {0x00}}));
    send({0x80, 0x04, 0xBE, 0xEE});
    send({0x80, 0x04, 0xEF, 0xBE});
    EXPECT_EQ(fpga(0, 1), Bytes{0x00});
    EXPECT_EQ(cartridge_->counters().commands, 1u);
    EXPECT_GT(cartridge_->counters().skipped_bytes, 0u);
}

TEST_F(FpgaConfig, WriteAcrossTheEndKeepsWhatFitsAndDropsTheRest) {
    send(concat({{0x70, 0x0A, 0, 0, 0, 4, 0x00, 0x3F, 0xFF, 0xFE}, {1, 2, 3, 4}}));
    send(concat({{0x70, 0x0A, 0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFF}, {5, 6}}));
    EXPECT_EQ(fpga(fpga_bytes - 2, 2), (Bytes{1, 2}));
    EXPECT_EQ(fpga(0, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(cartridge_->counters().dropped_bytes, 4u);
}

} // namespace
} // namespace corvane::sim::testing
