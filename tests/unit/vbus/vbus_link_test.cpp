// The virtual bus client and server in one process: listing, claims and transfers.
#include "served_bus.h"

#include <atomic>
#include <future>
#include <numeric>

namespace corvane::testing {
namespace {

using usb::Status;
namespace vbus = usb::vbus;

class VbusLink : public ::testing::Test {
protected:
    std::unique_ptr<usb::Channel> open_channel(usb::Transport &transport, const std::string &id, unsigned channel)
    {
        std::unique_ptr<usb::Channel> opened;
        EXPECT_EQ(transport.open(id, channel, opened), Status::ok);
        return opened;
    }

    ServedBus served;
    std::unique_ptr<usb::Transport> client = served.client();
};

TEST_F(VbusLink, ListsEveryDeviceWithItsWholeIdentity)
{
    std::vector<usb::DeviceIdentity> devices;
    ASSERT_EQ(client->list(devices), Status::ok);
    std::vector<usb::DeviceIdentity> expected = served.bus.list();
    ASSERT_EQ(devices.size(), expected.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(devices[i].id, expected[i].id);
        EXPECT_EQ(devices[i].vendor_id, expected[i].vendor_id);
        EXPECT_EQ(devices[i].product_id, expected[i].product_id);
        EXPECT_EQ(devices[i].bcd_device, expected[i].bcd_device);
        EXPECT_EQ(devices[i].manufacturer, expected[i].manufacturer);
        EXPECT_EQ(devices[i].product, expected[i].product);
        EXPECT_EQ(devices[i].serial, expected[i].serial);
        EXPECT_EQ(devices[i].channels, expected[i].channels);
        EXPECT_EQ(devices[i].packet_size, expected[i].packet_size);
        EXPECT_EQ(devices[i].location, expected[i].location);
        EXPECT_EQ(devices[i].virtual_model, expected[i].virtual_model);
        EXPECT_EQ(devices[i].alternate_codes_only, expected[i].alternate_codes_only);
    }
    EXPECT_EQ(client->name(), "vbus");
}

TEST_F(VbusLink, ControlRequestsCarryTheirDataBothWays)
{
    auto channel = open_channel(*client, "0", 2);
    ASSERT_TRUE(channel);

    uint8_t answer[3] = {0xEE, 0xEE, 0xEE};
    uint16_t transferred = 0;
    usb::ControlSetup in{0xC0, 0x05, 3, 2, 2};
    ASSERT_EQ(channel->control(in, answer, 1000, &transferred), Status::ok);
    EXPECT_EQ(transferred, 2);
    EXPECT_EQ(answer[0], 8);
    EXPECT_EQ(answer[1], 9);
    EXPECT_EQ(answer[2], 0xEE) << "the reply overran the caller's buffer";

    uint8_t sent[4] = {1, 2, 3, 4};
    usb::ControlSetup out{0x40, 0x91, 0xBEEF, 0x0102, 4};
    ASSERT_EQ(channel->control(out, sent, 1000, &transferred), Status::ok);
    EXPECT_EQ(transferred, 4);
    EXPECT_EQ(served.bus.last_out(), std::vector<uint8_t>(sent, sent + 4));
    usb::ControlSetup arrived = served.bus.last_setup();
    EXPECT_EQ(arrived.request_type, 0x40);
    EXPECT_EQ(arrived.request, 0x91);
    EXPECT_EQ(arrived.value, 0xBEEF);
    EXPECT_EQ(arrived.index, 0x0102);
}

TEST_F(VbusLink, BulkLoopbackCarriesTransfersLargerThanOneFrame)
{
    auto channel = open_channel(*client, "1", 1);
    ASSERT_TRUE(channel);
    std::vector<uint8_t> sent(3 * vbus::max_bulk + 4096);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 7 + (i >> 12));

    auto writer = std::async(std::launch::async, [&] {
        size_t went = 0;
        Status status = channel->bulk_out(sent.data(), sent.size(), 5000, &went);
        return std::make_pair(status, went);
    });
    std::vector<uint8_t> received(sent.size());
    size_t got = 0;
    while (got < received.size()) {
        size_t piece = 0;
        size_t want = std::min<size_t>(received.size() - got, 2 * vbus::max_bulk);
        Status status = channel->bulk_in(received.data() + got, want, 5000, &piece);
        ASSERT_TRUE(status == Status::ok) << usb::status_name(status) << " after " << got;
        got += piece;
    }
    auto [status, went] = writer.get();
    EXPECT_EQ(status, Status::ok);
    EXPECT_EQ(went, sent.size());
    EXPECT_TRUE(received == sent);
}

TEST_F(VbusLink, BulkInWithNothingToReadTimesOut)
{
    auto channel = open_channel(*client, "1", 1);
    ASSERT_TRUE(channel);
    uint8_t buffer[64];
    size_t got = 99;
    EXPECT_EQ(channel->bulk_in(buffer, sizeof buffer, 30, &got), Status::timeout);
    EXPECT_EQ(got, 0u);
}

TEST_F(VbusLink, WaitingBulkInDoesNotHoldUpControlRequests)
{
    auto channel = open_channel(*client, "1", 1);
    ASSERT_TRUE(channel);
    std::atomic<bool> read_done{false};
    uint8_t buffer[64];
    size_t got = 0;
    auto reader = std::async(std::launch::async, [&] {
        Status status = channel->bulk_in(buffer, sizeof buffer, 20000, &got);
        read_done = true;
        return status;
    });
    for (int i = 0; i < 20; ++i) {
        uint8_t answer[2];
        uint16_t transferred = 0;
        ASSERT_EQ(channel->control({0xC0, 0x05, 0, 1, 2}, answer, 1000, &transferred), Status::ok);
    }
    EXPECT_FALSE(read_done) << "the control requests waited for the bulk read";
    // The control requests took the reader role from the waiting read. With nothing
    // else of this client's under way, the read must have taken it back to see the
    // device's next bytes, not sit out its 20 s.
    served.bus.feed("1", 1, {0x5A});
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "the read lost the reader role";
    EXPECT_EQ(reader.get(), Status::ok);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(buffer[0], 0x5A);
}

class VbusClaims : public VbusLink {};

TEST_F(VbusClaims, SecondClientIsRefusedAClaimedChannel)
{
    auto first = open_channel(*client, "0", 1);
    ASSERT_TRUE(first);
    auto other = served.client();
    std::unique_ptr<usb::Channel> second;
    EXPECT_EQ(other->open("0", 1, second), Status::busy);
    EXPECT_FALSE(second);
    EXPECT_EQ(other->open("0", 2, second), Status::ok) << "the other channel of the device is free";
}

TEST_F(VbusClaims, ClosingTheChannelReleasesTheClaim)
{
    auto first = open_channel(*client, "0", 1);
    ASSERT_TRUE(first);
    first.reset();
    auto other = served.client();
    std::unique_ptr<usb::Channel> second;
    EXPECT_EQ(other->open("0", 1, second), Status::ok);
}

TEST_F(VbusClaims, ClaimsEndWhenTheConnectionEndsWithoutAClose)
{
    {
        RawClient raw(served.path());
        raw.hello();
        vbus::FrameHeader header;
        std::vector<uint8_t> payload;
        ASSERT_TRUE(raw.receive(header, payload));
        payload.clear();
        vbus::Writer out(payload);
        out.str("0");
        out.u8(1);
        raw.send_frame(vbus::MessageType::open, payload);
        ASSERT_TRUE(raw.receive(header, payload));
        ASSERT_EQ(vbus::decode_status(header.status), Status::ok);
        // A read left waiting in the simulator must not keep the claim alive either.
        payload.clear();
        vbus::Writer in(payload);
        in.str("0");
        in.u8(1);
        in.u32(64);
        in.u32(60000);
        in.u16(0);
        raw.send_frame(vbus::MessageType::bulk_in, payload);
    }
    std::unique_ptr<usb::Channel> second;
    Status status = Status::busy;
    // The simulator notices the end of the connection on its own thread.
    for (int i = 0; i < 500 && status == Status::busy; ++i) {
        status = client->open("0", 1, second);
        if (status == Status::busy)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(status, Status::ok);
}

TEST_F(VbusClaims, BadAddressesAreRefused)
{
    std::unique_ptr<usb::Channel> channel;
    EXPECT_EQ(client->open("7", 1, channel), Status::no_device);
    EXPECT_EQ(client->open("0", 0, channel), Status::invalid);
    EXPECT_EQ(client->open("0", 5, channel), Status::invalid);
    EXPECT_EQ(client->open("", 1, channel), Status::invalid);
    EXPECT_FALSE(channel);
}

} // namespace
} // namespace corvane::testing
