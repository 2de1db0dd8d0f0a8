// SDRAM writes and reads through the command stream, as the host sends them.
#include "tests/unit/cartridge/cartridge_fixture.h"

namespace corvane::sim::testing {
namespace {

using SdramTransfer = CartridgeTest;

TEST_F(SdramTransfer, WriteStoresTheBlockAtTheWordAddress) {
    // 8 bytes to SDRAM offset 0x40000: 4 words at word address 0x20000.
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8};
    send(concat({{0x10, 0x0A, 0x00, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00}, data}));

    EXPECT_EQ(sdram(0x40000 - 2, 12), concat({{0, 0}, data, {0, 0}}));
    EXPECT_EQ(cartridge_->counters().commands, 1u);
    EXPECT_EQ(cartridge_->counters().skipped_bytes, 0u);
}

TEST_F(SdramTransfer, ReadAnswersWithExactlyTheRequestedBytes) {
    const Bytes data = pattern(0x1000, 3);
    send(concat({transfer_header(0x10, 0x800, 0x20000), data}));

    send({0x20, 0x0A, 0x00, 0x00, 0x08, 0x00, 0x00, 0x02, 0x00, 0x00});
    EXPECT_EQ(cartridge_->pending(), 0x1000u);
    Bytes answer;
    for (int piece = 0; piece < 8; ++piece) {
        Bytes part = receive(0x200);
        answer.insert(answer.end(), part.begin(), part.end());
    }
    EXPECT_EQ(answer, data);
    EXPECT_EQ(cartridge_->pending(), 0u);
    EXPECT_TRUE(receive(16).empty());
}

TEST_F(SdramTransfer, PacketsSplitAtEveryByteWorkAsWhole) {
    const Bytes data = pattern(0x40, 9);
    const Bytes stream = concat({transfer_header(0x10, 0x20, 0x80), data, {0, 0, 0},
                                 transfer_header(0x10, 1, 0x7F), {0xAB, 0xCD}, transfer_header(0x20, 0x21, 0x7F)});
    send(stream, 1);

    EXPECT_EQ(cartridge_->counters().commands, 3u);
    EXPECT_EQ(cartridge_->counters().zero_bytes, 3u);
    Bytes answer;
    while (cartridge_->pending())
        answer.push_back(receive(1).at(0));
    EXPECT_EQ(answer, concat({{0xAB, 0xCD}, data}));
}

// An odd chunk is announced with its byte count halved, yet carries every byte: the
// cartridge stores the announced words and passes over the last byte, whatever its value,
// without losing the packets that follow.
class OddChunk : public CartridgeTest, public ::testing::WithParamInterface<uint8_t> {};

TEST_P(OddChunk, LastByteIsPassedOverAndTheNextPacketsStillWork) {
    Bytes data = pattern(0x101, 5);
    data.back() = GetParam();
    send(concat({transfer_header(0x10, 0x80, 0x1000), data}));
    const Bytes next = pattern(6, 0x40);
    send(concat({transfer_header(0x10, 3, 0x2000), next}));
    send({0xD0, 0x04, 0x02, 0x00});
    send(transfer_header(0x20, 0x80, 0x1000));

    EXPECT_EQ(receive(0x100), Bytes(data.begin(), data.end() - 1));
    EXPECT_EQ(sdram(0x2000 + 0x100, 1), Bytes{0}) << "the stray byte must not reach SDRAM";
    EXPECT_EQ(sdram(0x4000, 6), next);
    EXPECT_EQ(cartridge_->save_type(), 2u);
    EXPECT_EQ(cartridge_->counters().commands, 4u);
    EXPECT_EQ(cartridge_->counters().skipped_bytes + cartridge_->counters().zero_bytes, 1u);
}

INSTANTIATE_TEST_SUITE_P(TrailingByteValues, OddChunk,
                         ::testing::Values(0x00, 0x5A, 0x10, 0x20, 0x70, 0x80, 0x90, 0xD0));

TEST_F(SdramTransfer, RoundTripAtTheEndOfMemory) {
    const Bytes data = pattern(0x80000, 11);
    const uint32_t last_chunk_words = (sdram_bytes - data.size()) / 2;
    send(concat({transfer_header(0x10, data.size() / 2, last_chunk_words), data}), 0x1F3);
    send(transfer_header(0x20, data.size() / 2, last_chunk_words));
    EXPECT_EQ(receive(data.size()), data);
    EXPECT_EQ(cartridge_->counters().dropped_bytes, 0u);
}

TEST_F(SdramTransfer, WritePastTheEndIsDroppedNotWrapped) {
    send(concat({transfer_header(0x10, 4, (sdram_bytes - 4) / 2), {1, 2, 3, 4, 5, 6, 7, 8}}));
    send(concat({transfer_header(0x10, 2, 0xFFFFFFFF), {9, 9, 9, 9}}));

    EXPECT_EQ(sdram(sdram_bytes - 4, 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(sdram(0, 8), Bytes(8, 0));
    EXPECT_EQ(cartridge_->counters().dropped_bytes, 8u);
    EXPECT_EQ(cartridge_->counters().commands, 2u);
}

TEST_F(SdramTransfer, ReadPastTheEndAnswersInFullWithFillerBytes) {
    send(concat({transfer_header(0x10, 2, (sdram_bytes - 4) / 2), {1, 2, 3, 4}}));
    send(transfer_header(0x20, 4, (sdram_bytes - 4) / 2));
    EXPECT_EQ(receive(8), (Bytes{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(cartridge_->counters().dropped_bytes, 4u);
}

TEST_F(SdramTransfer, WholeMemoryDumpIsProducedPieceByPiece) {
    send(concat({transfer_header(0x10, 2, 0), {0xC0, 0xFF, 0xEE, 0x11}}));
    send(transfer_header(0x20, sdram_bytes / 2, 0));
    EXPECT_EQ(cartridge_->pending(), sdram_bytes);

    Bytes piece(1 << 20);
    size_t total = 0;
    while (size_t got = cartridge_->give(piece.data(), piece.size())) {
        if (total == 0) {
            EXPECT_EQ(Bytes(piece.begin(), piece.begin() + 4), (Bytes{0xC0, 0xFF, 0xEE, 0x11}));
        }
        total += got;
    }
    EXPECT_EQ(total, sdram_bytes);
}

TEST_F(SdramTransfer, BytesAreRefusedWhileAnAnswerIsOwed) {
    send(concat({transfer_header(0x10, 2, 0), {1, 2, 3, 4}}));
    send(transfer_header(0x20, 2, 0));
    const Bytes overwrite = concat({transfer_header(0x10, 2, 0), {9, 9, 9, 9}});

    EXPECT_EQ(cartridge_->take(overwrite.data(), overwrite.size()), 0u);
    EXPECT_EQ(receive(2), (Bytes{1, 2}));
    EXPECT_EQ(cartridge_->take(overwrite.data(), overwrite.size()), 0u);
    EXPECT_EQ(receive(2), (Bytes{3, 4}));
    send(overwrite);
    EXPECT_EQ(sdram(0, 4), Bytes(4, 9));
}

TEST_F(SdramTransfer, TakeStopsRightAfterAReadHeaderInTheSameWrite) {
    const Bytes stream = concat({transfer_header(0x20, 1, 0), transfer_header(0x10, 1, 0), {7, 7}});
    EXPECT_EQ(cartridge_->take(stream.data(), stream.size()), 10u);
    EXPECT_EQ(receive(2), (Bytes{0, 0}));
    EXPECT_EQ(cartridge_->take(stream.data() + 10, stream.size() - 10), stream.size() - 10);
    EXPECT_EQ(sdram(0, 2), (Bytes{7, 7}));
}

TEST_F(SdramTransfer, EmptyTransfersNeedNoData) {
    send(concat({transfer_header(0x10, 0, 0), transfer_header(0x20, 0, 0), transfer_header(0x10, 1, 0), {5, 6}}));
    EXPECT_EQ(cartridge_->pending(), 0u);
    EXPECT_EQ(sdram(0, 2), (Bytes{5, 6}));
    EXPECT_EQ(cartridge_->counters().commands, 3u);
}

class FaultSwitches : public CartridgeTest {};

TEST_F(FaultSwitches, StalledCartridgeTakesAndGivesNothing) {
    send(concat({transfer_header(0x10, 1, 0), {1, 2}}));
    send(transfer_header(0x20, 1, 0));
    cartridge_->set_stalled(true);

    const Bytes more = transfer_header(0x10, 1, 0);
    uint8_t byte = 0;
    EXPECT_EQ(cartridge_->pending(), 0u);
    EXPECT_EQ(cartridge_->give(&byte, 1), 0u);
    EXPECT_EQ(cartridge_->take(more.data(), more.size()), 0u);

    cartridge_->set_stalled(false);
    EXPECT_EQ(receive(2), (Bytes{1, 2}));
}

TEST_F(FaultSwitches, PurgeForgetsTheOwedAnswerAndAHalfHeader) {
    send(transfer_header(0x20, 0x100, 0));
    cartridge_->purge();
    EXPECT_EQ(cartridge_->pending(), 0u);

    send({0x10, 0x0A, 0x00});
    cartridge_->purge();
    send(concat({transfer_header(0x10, 1, 0), {3, 4}}));
    EXPECT_EQ(sdram(0, 2), (Bytes{3, 4}));
}

TEST_F(FaultSwitches, PurgeEndsADataBlockHalfWay) {
    send(concat({transfer_header(0x10, 4, 0), {1, 2, 3}}));
    cartridge_->purge();
    send(concat({transfer_header(0x10, 1, 8), {5, 6}}));
    EXPECT_EQ(sdram(0, 4), (Bytes{1, 2, 3, 0}));
    EXPECT_EQ(sdram(16, 2), (Bytes{5, 6}));
}

} // namespace
} // namespace corvane::sim::testing
