// SDRAM writes and reads through the command stream, and the fault switches.
#include "tests/unit/cartridge/cartridge_fixture.h"

namespace corvane::sim::testing {
namespace {

using SdramTransfer = CartridgeTest;

TEST_F(SdramTransfer, WriteStoresTheBlockAtTheWordAddress)
{
    // 8 bytes to SDRAM offset 0x40000: 4 words at word address 0x20000.
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8};
    send(concat({{0x10, 0x0A, 0x00, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00}, data}));
    EXPECT_EQ(memory("sdram.bin", 0x40000 - 2, 12), concat({{0, 0}, data, {0, 0}}));

    // 0x1000 bytes read back from 0x40000.
    send({0x20, 0x0A, 0x00, 0x00, 0x08, 0x00, 0x00, 0x02, 0x00, 0x00});
    EXPECT_EQ(cartridge_->pending(), 0x1000u);
    EXPECT_EQ(receive(0x2000), concat({data, Bytes(0x1000 - 8, 0)}));
    EXPECT_EQ(cartridge_->counters().commands, 2u);
}

// An odd chunk announced with its byte count rounded down still carries every byte: the
// last one, whatever its value, is passed over and the packets after it still work.
class OddChunk : public CartridgeTest, public ::testing::WithParamInterface<uint8_t> {};

TEST_P(OddChunk, LastByteIsPassedOverAndTheNextPacketsStillWork)
{
    Bytes data = pattern(0x101, 5);
    data.back() = GetParam();
    const Bytes next = pattern(6, 0x40);
    send(concat({transfer_header(0x10, 0x80, 0x1000),
                 data,
                 transfer_header(0x10, 3, 0x2000),
                 next,
                 {0xD0, 0x04, 0x02, 0x00},
                 transfer_header(0x20, 0x81, 0x1000)}));

    EXPECT_EQ(receive(0x102), concat({Bytes(data.begin(), data.end() - 1), {0, 0}}));
    EXPECT_EQ(memory("sdram.bin", 0x4000, 6), next);
    EXPECT_EQ(cartridge_->save_type(), 2u);
    EXPECT_EQ(cartridge_->counters().commands, 4u);
    EXPECT_EQ(cartridge_->counters().skipped_bytes + cartridge_->counters().zero_bytes, 1u);
}

INSTANTIATE_TEST_SUITE_P(TrailingByteValues, OddChunk,
                         ::testing::Values(0x00, 0x5A, 0x10, 0x20, 0x70, 0x80, 0x90, 0xD0));

TEST_F(SdramTransfer, EndOfMemoryIsNeverWrappedInto)
{
    const Bytes data = pattern(0x80000, 11);
    const uint32_t last_chunk = (sdram_bytes - data.size()) / 2;
    send(concat({transfer_header(0x10, 0x40000, last_chunk), data}), 0x1F3);
    send(transfer_header(0x20, 0x40000, last_chunk));
    EXPECT_EQ(receive(data.size()), data);
    EXPECT_EQ(cartridge_->counters().dropped_bytes, 0u);

    // Across the end: what fits is written, the rest dropped; a read answers in full.
    send(concat({transfer_header(0x10, 4, (sdram_bytes - 4) / 2), {1, 2, 3, 4, 5, 6, 7, 8}}));
    send(concat({transfer_header(0x10, 2, 0xFFFFFFFF), {9, 9, 9, 9}}));
    send(transfer_header(0x20, 4, (sdram_bytes - 4) / 2));
    EXPECT_EQ(receive(8), (Bytes{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(memory("sdram.bin", 0, 8), Bytes(8, 0));
    EXPECT_EQ(cartridge_->counters().dropped_bytes, 4u + 4 + 4);
}

TEST_F(SdramTransfer, WholeMemoryDumpIsProducedPieceByPiece)
{
    send(concat({transfer_header(0x10, 2, 0), {0xC0, 0xFF, 0xEE, 0x11}}));
    send(transfer_header(0x20, sdram_bytes / 2, 0));
    EXPECT_EQ(cartridge_->pending(), sdram_bytes);
    EXPECT_EQ(receive(4), (Bytes{0xC0, 0xFF, 0xEE, 0x11}));
    Bytes piece(1 << 20);
    size_t total = 4;
    while (size_t got = cartridge_->give(piece.data(), piece.size()))
        total += got;
    EXPECT_EQ(total, sdram_bytes);
}

TEST_F(SdramTransfer, BytesAfterAReadHeaderWaitUntilTheAnswerIsTaken)
{
    send(concat({transfer_header(0x10, 2, 0), {1, 2, 3, 4}}));
    const Bytes stream = concat({transfer_header(0x20, 2, 0), transfer_header(0x10, 2, 0), {9, 9, 9, 9}});
    EXPECT_EQ(cartridge_->take(stream.data(), stream.size()), 10u);
    EXPECT_EQ(cartridge_->take(stream.data() + 10, stream.size() - 10), 0u);
    EXPECT_EQ(receive(2), (Bytes{1, 2}));
    EXPECT_EQ(cartridge_->take(stream.data() + 10, stream.size() - 10), 0u);
    EXPECT_EQ(receive(2), (Bytes{3, 4}));
    EXPECT_EQ(cartridge_->take(stream.data() + 10, stream.size() - 10), stream.size() - 10);
    EXPECT_EQ(memory("sdram.bin", 0, 4), Bytes(4, 9));
}

TEST_F(SdramTransfer, EmptyTransfersNeedNoData)
{
    send(concat({transfer_header(0x10, 0, 0), transfer_header(0x20, 0, 0), transfer_header(0x10, 1, 0), {5, 6}}));
    EXPECT_EQ(cartridge_->pending(), 0u);
    EXPECT_EQ(memory("sdram.bin", 0, 2), (Bytes{5, 6}));
    EXPECT_EQ(cartridge_->counters().commands, 3u);
}

using FaultSwitches = CartridgeTest;

TEST_F(FaultSwitches, StalledCartridgeTakesAndGivesNothing)
{
    send(concat({transfer_header(0x10, 1, 0), {1, 2}, transfer_header(0x20, 1, 0)}));
    cartridge_->set_stalled(true);
    const Bytes more = transfer_header(0x10, 1, 0);
    uint8_t byte = 0;
    EXPECT_EQ(cartridge_->pending(), 0u);
    EXPECT_EQ(cartridge_->give(&byte, 1), 0u);
    EXPECT_EQ(cartridge_->take(more.data(), more.size()), 0u);

    cartridge_->set_stalled(false);
    EXPECT_EQ(receive(2), (Bytes{1, 2}));
}

TEST_F(FaultSwitches, PurgeForgetsEverythingInFlight)
{
    send(transfer_header(0x20, 0x100, 0));
    cartridge_->purge();
    EXPECT_EQ(cartridge_->pending(), 0u);

    send({0x10, 0x0A, 0x00}); // half a header
    cartridge_->purge();
    send(concat({transfer_header(0x10, 4, 0), {1, 2, 3}})); // half a block
    cartridge_->purge();
    send(concat({transfer_header(0x10, 1, 8), {5, 6}}));
    EXPECT_EQ(memory("sdram.bin", 0, 4), (Bytes{1, 2, 3, 0}));
    EXPECT_EQ(memory("sdram.bin", 16, 2), (Bytes{5, 6}));
}

} // namespace
} // namespace corvane::sim::testing
