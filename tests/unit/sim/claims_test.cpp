// Listing, claims and the device's presence on the virtual bus.
#include "sim_test_helpers.h"

#include <thread>

namespace corvane::testing {
namespace {

using namespace std::chrono_literals;

class Claims : public ::testing::Test {
protected:
    InprocBus fixture{{"ft2232h,serial=DUAL1", "ft232r,location=A0"}};
    std::unique_ptr<usb::Transport> transport = usb::make_inproc_transport(fixture.bus());
};

TEST_F(Claims, ListsEveryChipWithItsPositionLocationAndPacketSize)
{
    std::vector<usb::DeviceIdentity> devices;
    ASSERT_EQ(transport->list(devices), usb::Status::ok);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].id, "0");
    EXPECT_EQ(devices[0].location, 0x9010u);
    EXPECT_EQ(devices[0].bcd_device, 0x0700);
    EXPECT_EQ(devices[0].channels, 2);
    EXPECT_EQ(devices[0].packet_size, 512);
    EXPECT_EQ(devices[0].serial, "DUAL1");
    EXPECT_TRUE(devices[0].virtual_model);
    EXPECT_EQ(devices[1].id, "1");
    EXPECT_EQ(devices[1].location, 0xA0u);
    EXPECT_EQ(devices[1].packet_size, 64);
    EXPECT_EQ(transport->name(), "inproc");
}

TEST_F(Claims, SecondOpenOfAChannelIsBusyUntilTheFirstIsClosed)
{
    auto first = open_channel(*transport, "0", 1);
    std::unique_ptr<usb::Channel> second;
    EXPECT_EQ(transport->open("0", 1, second), usb::Status::busy);
    auto other_channel = open_channel(*transport, "0", 2);
    first.reset();
    EXPECT_EQ(transport->open("0", 1, second), usb::Status::ok);
}

TEST_F(Claims, RemovingAClientEndsAllItsClaims)
{
    sim::VirtualBus &bus = fixture.bus();
    auto client = bus.add_client();
    ASSERT_EQ(bus.claim(client, "0", 1), usb::Status::ok);
    ASSERT_EQ(bus.claim(client, "0", 2), usb::Status::ok);
    ASSERT_EQ(bus.claim(client, "1", 1), usb::Status::ok);
    bus.remove_client(client);
    uint8_t byte = 0;
    size_t sent = 0;
    EXPECT_EQ(bus.bulk_out(client, "0", 1, &byte, 1, 10, &sent), usb::Status::no_device);
    auto a = open_channel(*transport, "0", 1);
    auto b = open_channel(*transport, "0", 2);
    auto r = open_channel(*transport, "1", 1);
}

TEST_F(Claims, TransfersOnAnUnclaimedChannelAnswerNoDevice)
{
    sim::VirtualBus &bus = fixture.bus();
    auto owner = bus.add_client(), stranger = bus.add_client();
    ASSERT_EQ(bus.claim(owner, "0", 1), usb::Status::ok);
    uint8_t byte = 0;
    size_t moved = 0;
    uint16_t transferred = 0;
    usb::ControlSetup setup{usb::ftdi::request_out, usb::ftdi::set_latency, 2, 1, 0};
    EXPECT_EQ(bus.bulk_out(stranger, "0", 1, &byte, 1, 10, &moved), usb::Status::no_device);
    EXPECT_EQ(bus.bulk_in(stranger, "0", 1, &byte, 64, 10, &moved), usb::Status::no_device);
    EXPECT_EQ(bus.control(stranger, "0", 1, setup, nullptr, 10, &transferred), usb::Status::no_device);
    bus.release(stranger, "0", 1); // not its claim: nothing changes
    EXPECT_EQ(bus.control(owner, "0", 1, setup, nullptr, 10, &transferred), usb::Status::ok);
}

TEST_F(Claims, UnplugEndsClaimsAndWakesAWaitingReader)
{
    auto channel = open_channel(*transport, "0", 1);
    ASSERT_EQ(send_out(*channel, usb::ftdi::set_latency, 255, 1), usb::Status::ok);
    std::thread unplug([&] {
        std::this_thread::sleep_for(20ms);
        fixture.bus().set_plugged("0", false);
    });
    std::vector<uint8_t> buffer(512);
    size_t got = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 2000, &got), usb::Status::no_device);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    unplug.join();

    std::vector<usb::DeviceIdentity> devices;
    transport->list(devices);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].id, "1");
    std::unique_ptr<usb::Channel> again;
    EXPECT_EQ(transport->open("0", 1, again), usb::Status::no_device);

    ASSERT_EQ(fixture.bus().set_plugged("0", true), usb::Status::ok);
    EXPECT_EQ(transport->open("0", 1, again), usb::Status::ok);
    // The channel of before the unplug stays dead, also now that the device is back.
    uint8_t byte = 0;
    size_t sent = 0;
    EXPECT_EQ(channel->bulk_out(&byte, 1, 10, &sent), usb::Status::no_device);
}

TEST_F(Claims, ReenumerationEndsEveryClaimOfTheDeviceOnly)
{
    auto a = open_channel(*transport, "0", 1);
    auto b = open_channel(*transport, "0", 2);
    auto other = open_channel(*transport, "1", 1);
    ASSERT_EQ(a->reenumerate(), usb::Status::ok);
    uint8_t byte = 0;
    size_t sent = 0;
    EXPECT_EQ(a->bulk_out(&byte, 1, 10, &sent), usb::Status::no_device);
    EXPECT_EQ(b->bulk_out(&byte, 1, 10, &sent), usb::Status::no_device);
    EXPECT_EQ(a->reenumerate(), usb::Status::no_device);
    EXPECT_EQ(other->bulk_out(&byte, 1, 10, &sent), usb::Status::ok);
    // Listed again under the same id, and free to open.
    auto reopened = open_channel(*transport, "0", 1);
    ASSERT_TRUE(reopened);
    a.reset(); // the stale channel's release must not end the new claim
    EXPECT_EQ(reopened->bulk_out(&byte, 1, 10, &sent), usb::Status::ok);
}

TEST_F(Claims, PortResetRestoresPowerOnSettingsAndKeepsTheClaim)
{
    auto channel = open_channel(*transport, "1", 1);
    ASSERT_EQ(send_out(*channel, usb::ftdi::set_latency, 3, 1), usb::Status::ok);
    uint8_t byte = 1;
    size_t sent = 0;
    ASSERT_EQ(channel->bulk_out(&byte, 1, 10, &sent), usb::Status::ok);
    ASSERT_EQ(channel->reset_device(), usb::Status::ok);
    EXPECT_EQ(fixture.channel_settings(1, 1).latency_ms, 16);
    std::vector<uint8_t> buffer(64);
    size_t got = 0;
    ASSERT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 100, &got), usb::Status::ok);
    EXPECT_EQ(got, 2u);
}

TEST(InprocTransport, ChannelLeftOpenPastItsBusAnswersNoDevice)
{
    std::unique_ptr<usb::Channel> leftover;
    {
        InprocBus fixture{{"ft232r"}};
        auto transport = usb::make_inproc_transport(fixture.bus());
        leftover = open_channel(*transport, "0");
    }
    uint8_t byte = 0;
    size_t sent = 9;
    EXPECT_EQ(leftover->bulk_out(&byte, 1, 10, &sent), usb::Status::no_device);
    EXPECT_EQ(sent, 0u);
}

} // namespace
} // namespace corvane::testing
