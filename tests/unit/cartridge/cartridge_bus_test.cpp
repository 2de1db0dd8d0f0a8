// The cartridge behind channel A of a virtual corvane chip, reached over the in-process bus.
#include "tests/unit/cartridge/cartridge_fixture.h"

#include "support/inproc_bus.h"

namespace corvane::sim::testing {
namespace {

TEST(CartridgeOnTheBus, ChannelACarriesAnSdramRoundTrip)
{
    corvane::testing::InprocBus inproc({"corvane"});
    VirtualBus &bus = inproc.bus();
    const std::string id = corvane::testing::InprocBus::device_id(0);
    const VirtualBus::ClientId client = bus.add_client();
    ASSERT_EQ(bus.claim(client, id, 1), usb::Status::ok);

    const Bytes data = pattern(0x1001, 0x31); // an odd count: the last byte is passed over
    const Bytes load = concat({transfer_header(0x10, 0x800, 0x100), data});
    size_t moved = 0;
    ASSERT_EQ(bus.bulk_out(client, id, 1, load.data(), load.size(), 1000, &moved), usb::Status::ok);
    const Bytes dump = transfer_header(0x20, 0x800, 0x100);
    ASSERT_EQ(bus.bulk_out(client, id, 1, dump.data(), dump.size(), 1000, &moved), usb::Status::ok);

    // Every packet of 512 bytes starts with the chip's two status bytes.
    Bytes answer, raw(0x4000);
    while (answer.size() < 0x1000) {
        ASSERT_EQ(bus.bulk_in(client, id, 1, raw.data(), raw.size(), 1000, &moved), usb::Status::ok);
        for (size_t packet = 0; packet < moved; packet += 512)
            answer.insert(answer.end(), raw.begin() + static_cast<long>(packet + 2),
                          raw.begin() + static_cast<long>(std::min(moved, packet + 512)));
    }
    EXPECT_EQ(answer, Bytes(data.begin(), data.end() - 1));
    EXPECT_EQ(read_file(inproc.state_dir() / "sdram.bin", 0x200, 0x1000), answer);
    bus.remove_client(client);
}

} // namespace
} // namespace corvane::sim::testing
