// Bulk OUT on a real channel, and what happens when the device goes away: every request
// then fails with no_device and the partial count, and the listing forgets the device.
#include "usb_fixture.h"

#include "usb/libusb/channel.h"

#include <thread>

namespace corvane::testing {
namespace {

using usb::Status;

std::vector<uint8_t> pattern(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

class UsbBulkOut : public UsbTransportTest {
protected:
    size_t chip = library->add(make_fake_chip(1, {2}));
    std::unique_ptr<usb::Channel> channel = open_channel("1-2", 1);

    void SetUp() override { ASSERT_TRUE(channel); }

    FakeUsbDevice &device() { return library->device(chip); }
};

TEST_F(UsbBulkOut, LargeWriteGoesOutWholeInBoundedTransfers)
{
    const std::vector<uint8_t> data = pattern(3 * usb::LibusbChannel::out_chunk + 5);
    size_t sent = 0;
    ASSERT_EQ(channel->bulk_out(data.data(), data.size(), 5000, &sent), Status::ok);
    EXPECT_EQ(sent, data.size());
    EXPECT_EQ(device().received[0x02], data);
    const std::vector<size_t> lengths = library->submitted_lengths(0x02);
    EXPECT_EQ(lengths.size(), 4u);
    for (size_t length : lengths)
        EXPECT_LE(length, usb::LibusbChannel::out_chunk);
}

TEST_F(UsbBulkOut, TimeOutReportsWhatWent)
{
    device().out_room = 100000;
    const std::vector<uint8_t> data = pattern(usb::LibusbChannel::out_chunk + 1000);
    size_t sent = 0;
    const auto start = Clock::now();
    EXPECT_EQ(channel->bulk_out(data.data(), data.size(), 50, &sent), Status::timeout);
    EXPECT_GE(elapsed_ms(start), 50);
    EXPECT_LT(elapsed_ms(start), 3000);
    EXPECT_EQ(sent, 100000u);
    EXPECT_EQ(device().received[0x02], std::vector<uint8_t>(data.begin(), data.begin() + 100000));
}

TEST_F(UsbBulkOut, StallIsReportedAndCleared)
{
    device().out_stalls = true;
    const uint8_t byte = 0x55;
    size_t sent = 9;
    EXPECT_EQ(channel->bulk_out(&byte, 1, 1000, &sent), Status::stall);
    EXPECT_EQ(sent, 0u);
    EXPECT_EQ(library->log().back(), "clear halt 2");
}

class UsbUnplug : public UsbTransportTest {
protected:
    size_t chip = library->add(make_fake_chip(1, {2}, 2, 512));
    std::unique_ptr<usb::Channel> channel = open_channel("1-2", 1);

    void SetUp() override { ASSERT_TRUE(channel); }

    // After the device is gone every kind of request says so, at once.
    void expect_every_request_fails()
    {
        uint8_t buffer[512];
        size_t moved = 9;
        EXPECT_EQ(channel->bulk_in(buffer, sizeof buffer, 1000, &moved), Status::no_device);
        EXPECT_EQ(moved, 0u);
        EXPECT_EQ(channel->bulk_out(buffer, 10, 1000, &moved), Status::no_device);
        EXPECT_EQ(moved, 0u);
        uint16_t control_moved = 9;
        EXPECT_EQ(channel->control({0x40, 0x00, 0, 1, 0}, nullptr, 1000, &control_moved), Status::no_device);
        EXPECT_EQ(channel->reset_device(), Status::no_device);
    }
};

TEST_F(UsbUnplug, MidReadGivesThePartialCountThenNoDevice)
{
    library->queue_in(chip, 1, {chip_packet(510, 1), chip_packet(510, 2)});
    library->queue_unplug(chip, 1);
    uint8_t buffer[8 * 512];
    size_t got = 0;
    EXPECT_EQ(channel->bulk_in(buffer, sizeof buffer, 5000, &got), Status::no_device);
    EXPECT_EQ(got, 1024u);
    EXPECT_EQ(buffer[512], 2);
    expect_every_request_fails();
    EXPECT_TRUE(listed().empty());
}

TEST_F(UsbUnplug, MidWriteGivesThePartialCountThenNoDevice)
{
    library->device(chip).unplug_after_out = 3000;
    const std::vector<uint8_t> data = pattern(100000);
    size_t sent = 0;
    EXPECT_EQ(channel->bulk_out(data.data(), data.size(), 5000, &sent), Status::no_device);
    EXPECT_EQ(sent, 3000u);
    expect_every_request_fails();
}

TEST_F(UsbUnplug, ReadAheadFromBeforeTheUnplugStillComesOut)
{
    library->queue_in(chip, 1, {chip_packet(4, 1), chip_packet(4, 2)});
    uint8_t buffer[512];
    size_t got = 0;
    ASSERT_EQ(channel->bulk_in(buffer, sizeof buffer, 5000, &got), Status::ok);
    library->unplug(chip);
    EXPECT_TRUE(listed().empty()); // the listing tells the open channels
    ASSERT_EQ(channel->bulk_in(buffer, sizeof buffer, 5000, &got), Status::ok);
    EXPECT_EQ(got, 6u);
    EXPECT_EQ(buffer[0], 2);
    expect_every_request_fails();
}

TEST_F(UsbUnplug, WaitingReadEndsWhenTheDeviceGoes)
{
    std::thread unplugger([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        library->unplug(chip);
    });
    uint8_t buffer[512];
    size_t got = 9;
    const auto start = Clock::now();
    EXPECT_EQ(channel->bulk_in(buffer, sizeof buffer, 10000, &got), Status::no_device);
    EXPECT_LT(elapsed_ms(start), 5000);
    EXPECT_EQ(got, 0u);
    unplugger.join();
}

TEST_F(UsbUnplug, ClosingAfterTheUnplugIsClean)
{
    uint8_t buffer[512];
    size_t got = 0;
    channel->bulk_in(buffer, sizeof buffer, 0, &got); // transfers in flight
    library->unplug(chip);
    channel.reset();
    EXPECT_EQ(library->log().back(), "attach 0");
}

TEST_F(UsbUnplug, ReenumerateEndsEveryChannelOfTheDeviceAndRereadsItsStrings)
{
    std::unique_ptr<usb::Channel> channel_b = open_channel("1-2", 2);
    listed();
    const size_t opens_before = library->opens();
    ASSERT_EQ(channel_b->reenumerate(), Status::ok);
    expect_every_request_fails();
    uint16_t moved = 0;
    EXPECT_EQ(channel_b->control({0x40, 0x00, 0, 2, 0}, nullptr, 1000, &moved), Status::no_device);

    library->device(chip).strings[3] = "CV0002";
    EXPECT_EQ(listed().at(0).serial, "CV0002");
    EXPECT_EQ(library->opens(), opens_before + 1);
    channel.reset();
    channel_b.reset();
    EXPECT_TRUE(open_channel("1-2", 1));
}

} // namespace
} // namespace corvane::testing
