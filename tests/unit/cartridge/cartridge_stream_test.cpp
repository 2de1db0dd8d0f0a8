// The framing of the command stream: padding, noise, and delivery in arbitrary pieces.
#include "tests/unit/cartridge/cartridge_fixture.h"

#include <random>

namespace corvane::sim::testing {
namespace {

class StreamNoise : public CartridgeTest {};

TEST_F(StreamNoise, ZeroAndStrayBytesArePassedOverAndCounted) {
    send(concat({Bytes(0x40000, 0), {0x33, 0x0A, 0xFF}, transfer_header(0x10, 1, 0), {1, 2},
                 {0x10, 0x08}, Bytes(5, 0), {0xD0, 0x04, 0x09, 0x00}}));

    const CartridgeCounters counters = cartridge_->counters();
    EXPECT_EQ(counters.zero_bytes, 0x40000u + 5 + 1);
    // 33 0A FF; 10 (wrong length) 08; D0 (save type 9 refused) 04 09.
    EXPECT_EQ(counters.skipped_bytes, 3u + 2 + 3);
    EXPECT_EQ(counters.commands, 1u);
    EXPECT_EQ(sdram(0, 2), (Bytes{1, 2}));
    EXPECT_EQ(cartridge_->save_type(), std::nullopt);
}

TEST_F(StreamNoise, AFalseStartGivesUpOnlyItsFirstByte) {
    // 0x20 with a wrong length byte, then a real write header that begins right after it.
    send(concat({{0x20}, transfer_header(0x10, 1, 0), {0x44, 0x55}}));
    EXPECT_EQ(sdram(0, 2), (Bytes{0x44, 0x55}));
    EXPECT_EQ(cartridge_->counters().skipped_bytes, 1u);
    EXPECT_EQ(cartridge_->pending(), 0u);
}

// A random mix of every command, padding and noise, cut at random places, must leave the
// memories and counters exactly as the same stream delivered in one piece does.
Bytes random_stream(std::mt19937 &random) {
    auto below = [&random](uint32_t limit) { return static_cast<uint32_t>(random() % limit); };
    const Bytes noise = {0x33, 0x0A, 0x08, 0x04, 0xFF, 0xBE, 0x55};
    Bytes stream;
    for (int item = 0; item < 400; ++item) {
        Bytes part;
        switch (below(8)) {
        case 0: {
            const uint32_t words = below(40);
            part = transfer_header(0x10, words, below(0x4000));
            for (uint32_t i = 0; i < 2 * words; ++i)
                part.push_back(static_cast<uint8_t>(random()));
            break;
        }
        case 1: {
            const uint32_t bytes = below(50);
            part = transfer_header(0x70, bytes, below(0x1000));
            for (uint32_t i = 0; i < bytes; ++i)
                part.push_back(static_cast<uint8_t>(random()));
            break;
        }
        case 2:
            part = concat({bus_cycle(0xAAAA, 0xAA), bus_cycle(0x5554, 0x55), bus_cycle(0xAAAA, 0xA0),
                           bus_cycle(2 * below(0x800), static_cast<uint16_t>(random()), 0x91)});
            break;
        case 3:
            part = bus_cycle(below(2) ? 0xAAAA : 0x5554, below(2) ? 0xAA : 0x55);
            break;
        case 4:
            part = {0xD0, 0x04, static_cast<uint8_t>(below(7)), 0x00};
            break;
        case 5:
            part = below(10) ? Bytes{0x80, 0x04, 0xBE, 0xEE} : Bytes{0x80, 0x04, 0xBE, 0xEF};
            break;
        case 6:
            part.assign(below(300), 0);
            break;
        default:
            part.assign(1 + below(5), noise[below(static_cast<uint32_t>(noise.size()))]);
            break;
        }
        stream.insert(stream.end(), part.begin(), part.end());
    }
    return stream;
}

class SplitDelivery : public ::testing::TestWithParam<unsigned> {};

TEST_P(SplitDelivery, RandomPiecesActLikeOneWrite) {
    std::mt19937 random(GetParam());
    const Bytes stream = random_stream(random);

    StateDirectory whole_state, split_state;
    std::string error;
    std::unique_ptr<Cartridge> whole = Cartridge::open(whole_state.path(), error);
    std::unique_ptr<Cartridge> split = Cartridge::open(split_state.path(), error);
    ASSERT_TRUE(whole && split) << error;

    ASSERT_EQ(whole->take(stream.data(), stream.size()), stream.size());
    for (size_t sent = 0; sent < stream.size();) {
        size_t piece = std::min<size_t>(1 + random() % 23, stream.size() - sent);
        ASSERT_EQ(split->take(stream.data() + sent, piece), piece);
        sent += piece;
    }

    const CartridgeCounters a = whole->counters(), b = split->counters();
    EXPECT_GT(a.commands, 100u);
    EXPECT_EQ(a.commands, b.commands);
    EXPECT_EQ(a.skipped_bytes, b.skipped_bytes);
    EXPECT_EQ(a.zero_bytes, b.zero_bytes);
    EXPECT_EQ(a.dropped_bytes, b.dropped_bytes);
    EXPECT_EQ(whole->save_type(), split->save_type());
    for (const char *file : {"sdram.bin", "bootflash.bin", "fpga.bin"})
        EXPECT_EQ(read_file(whole_state.path() / file, 0, 0x8000), read_file(split_state.path() / file, 0, 0x8000))
            << file;
}

INSTANTIATE_TEST_SUITE_P(Seeds, SplitDelivery, ::testing::Values(1u, 2u, 3u, 4u));

} // namespace
} // namespace corvane::sim::testing
