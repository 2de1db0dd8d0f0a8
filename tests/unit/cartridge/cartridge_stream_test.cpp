// The framing of the command stream: padding, noise, and delivery in arbitrary pieces.
#include "tests/unit/cartridge/cartridge_fixture.h"

#include <random>

namespace corvane::sim::testing {
namespace {

using StreamNoise = CartridgeTest;

TEST_F(StreamNoise, ZeroAndStrayBytesArePassedOverAndCounted)
{
    send(concat({Bytes(0x40000, 0),
                 {0x33, 0x0A, 0xFF},
                 transfer_header(0x10, 1, 0),
                 {1, 2},
                 {0x10, 0x08},
                 Bytes(5, 0),
                 {0xD0, 0x04, 0x09, 0x00},
                 {0x20},
                 transfer_header(0x10, 1, 1),
                 {3, 4}}));

    const CartridgeCounters counters = cartridge_->counters();
    EXPECT_EQ(counters.zero_bytes, 0x40000u + 5 + 1);
    // 33 0A FF; 10 (wrong length) 08; D0 (type 9) 04 09; 20 (its length byte is a command).
    EXPECT_EQ(counters.skipped_bytes, 3u + 2 + 3 + 1);
    EXPECT_EQ(counters.commands, 2u);
    EXPECT_EQ(memory("sdram.bin", 0, 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(cartridge_->save_type(), std::nullopt);
}

// A random mix of every command, padding and noise.
Bytes random_stream(std::mt19937 &random)
{
    auto below = [&random](uint32_t limit) { return static_cast<uint32_t>(random() % limit); };
    auto with_data = [&random](Bytes header, uint32_t size) {
        for (uint32_t i = 0; i < size; ++i)
            header.push_back(static_cast<uint8_t>(random()));
        return header;
    };
    const Bytes noise = {0x33, 0x0A, 0x08, 0x04, 0xFF, 0xBE, 0x55};
    Bytes stream;
    for (int item = 0; item < 400; ++item) {
        const uint32_t size = below(50);
        Bytes part;
        switch (below(8)) {
        case 0: part = with_data(transfer_header(0x10, size, below(0x4000)), 2 * size); break;
        case 1: part = with_data(transfer_header(0x70, size, below(0x1000)), size); break;
        case 2:
            part = concat({bus_cycle(0xAAAA, 0xAA), bus_cycle(0x5554, 0x55), bus_cycle(0xAAAA, 0xA0),
                           bus_cycle(2 * below(0x800), static_cast<uint16_t>(random()), 0x91)});
            break;
        case 3: part = bus_cycle(below(2) ? 0xAAAA : 0x5554, below(2) ? 0xAA : 0x55); break;
        case 4: part = {0xD0, 0x04, static_cast<uint8_t>(below(7)), 0x00}; break;
        case 5: part = {0x80, 0x04, 0xBE, static_cast<uint8_t>(below(10) ? 0xEE : 0xEF)}; break;
        case 6: part.assign(size * 5, 0); break;
        default: part.assign(1 + size % 5, noise[below(static_cast<uint32_t>(noise.size()))]); break;
        }
        stream.insert(stream.end(), part.begin(), part.end());
    }
    return stream;
}

// Cut at random places, the stream must leave the memories and counters exactly as the
// same stream taken in one piece does.
class SplitDelivery : public ::testing::TestWithParam<unsigned> {};

TEST_P(SplitDelivery, RandomPiecesActLikeOneWrite)
{
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
    EXPECT_EQ(std::tie(a.commands, a.skipped_bytes, a.zero_bytes, a.dropped_bytes),
              std::tie(b.commands, b.skipped_bytes, b.zero_bytes, b.dropped_bytes));
    EXPECT_EQ(whole->save_type(), split->save_type());
    for (const char *file : {"sdram.bin", "bootflash.bin", "fpga.bin"})
        EXPECT_EQ(read_file(whole_state.path() / file, 0, 0x8000), read_file(split_state.path() / file, 0, 0x8000))
            << file;
}

INSTANTIATE_TEST_SUITE_P(Seeds, SplitDelivery, ::testing::Values(1u, 2u, 3u, 4u));

} // namespace
} // namespace corvane::sim::testing
