// Bulk IN on a real channel: whole raw packets with their status bytes, read-ahead kept
// for the next call (and dropped on discard_in), transfers kept in flight, time-outs
// honoured, waits ended by stop_in and cut_in.
#include "usb_fixture.h"

#include "usb/libusb/channel.h"

#include <future>
#include <thread>

namespace corvane::testing {
namespace {

using usb::Status;

std::vector<uint8_t> joined(const std::vector<std::vector<uint8_t>> &packets)
{
    std::vector<uint8_t> all;
    for (const auto &packet : packets)
        all.insert(all.end(), packet.begin(), packet.end());
    return all;
}

class UsbBulkIn : public UsbTransportTest, public ::testing::WithParamInterface<uint16_t> {
protected:
    uint16_t packet = GetParam();
    size_t chip = library->add(make_fake_chip(1, {2}, 2, packet));
    std::unique_ptr<usb::Channel> channel = open_channel("1-2", 1);

    void SetUp() override { ASSERT_TRUE(channel); }
    std::vector<uint8_t> buffer = std::vector<uint8_t>(64 * 1024);

    std::vector<uint8_t> full(uint8_t marker) { return chip_packet(packet - 2, marker, 0x60, marker); }

    Status read(size_t size, unsigned timeout_ms, size_t &got)
    {
        got = 0;
        return channel->bulk_in(buffer.data(), size, timeout_ms, &got);
    }
    std::vector<uint8_t> bytes(size_t count) const { return {buffer.begin(), buffer.begin() + count}; }

    // A bulk_in on another thread, into `into`.
    std::future<Status> read_elsewhere(std::vector<uint8_t> &into, size_t &got, unsigned timeout_ms)
    {
        return std::async(std::launch::async, [this, &into, &got, timeout_ms] {
            return channel->bulk_in(into.data(), into.size(), timeout_ms, &got);
        });
    }
    // Its result; the watchdog fails the test and ends the wait when it hangs.
    Status finish(std::future<Status> &call)
    {
        if (call.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "bulk_in is still waiting";
            channel->stop_in();
        }
        return call.get();
    }
    void wait_for_submissions(size_t count)
    {
        const auto until = Clock::now() + std::chrono::seconds(10);
        while (library->submitted_lengths(0x81).size() < count && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GE(library->submitted_lengths(0x81).size(), count);
    }
    // One transfer's worth of full packets, as a stream that has not ended yet.
    std::vector<std::vector<uint8_t>> full_transfer(uint8_t marker)
    {
        return std::vector<std::vector<uint8_t>>(usb::LibusbChannel::in_slot_capacity / packet, full(marker));
    }
};

TEST_P(UsbBulkIn, ReturnsWholePacketsUpToTheShortOne)
{
    const std::vector<std::vector<uint8_t>> packets{full(1), full(2), chip_packet(10, 3)};
    library->queue_in(chip, 1, packets);
    library->queue_in(chip, 1, {chip_packet(5, 4)}); // the chip's next transfer

    size_t got = 0;
    ASSERT_EQ(read(8 * packet, 5000, got), Status::ok);
    EXPECT_EQ(bytes(got), joined(packets));
    ASSERT_EQ(read(8 * packet, 5000, got), Status::ok);
    EXPECT_EQ(bytes(got), chip_packet(5, 4));
}

TEST_P(UsbBulkIn, KeepsWhatDidNotFitForTheNextCall)
{
    std::vector<std::vector<uint8_t>> packets;
    for (uint8_t i = 1; i <= 5; ++i)
        packets.push_back(full(i));
    packets.push_back(chip_packet(0, 6)); // status bytes alone end the transfer
    library->queue_in(chip, 1, packets);

    std::vector<uint8_t> all;
    size_t got = 0;
    for (int call = 0; call < 3; ++call) {
        ASSERT_EQ(read(2 * packet, 5000, got), Status::ok) << "call " << call;
        EXPECT_EQ(got, call < 2 ? 2u * packet : packet + 2u);
        all.insert(all.end(), buffer.begin(), buffer.begin() + got);
    }
    EXPECT_EQ(all, joined(packets));
}

TEST_P(UsbBulkIn, StreamAcrossTransfersKeepsStatusBytesAtEveryPacketStart)
{
    // More full packets than one transfer holds: packet boundaries stay where they are
    // when the stream continues in the next transfer.
    const size_t count = (usb::LibusbChannel::in_slot_capacity / packet) * 3 / 2;
    std::vector<std::vector<uint8_t>> packets;
    for (size_t i = 0; i < count; ++i)
        packets.push_back(full(static_cast<uint8_t>(i)));
    packets.push_back(chip_packet(1, 0xEE));
    library->queue_in(chip, 1, packets);

    std::vector<uint8_t> all;
    size_t got = 0;
    do {
        ASSERT_EQ(read(buffer.size(), 5000, got), Status::ok);
        all.insert(all.end(), buffer.begin(), buffer.begin() + got);
    } while (got % packet == 0);
    ASSERT_EQ(all.size(), count * packet + 3);
    for (size_t i = 0; i < count; ++i)
        ASSERT_EQ(all[i * packet], static_cast<uint8_t>(i)) << "packet " << i;
    for (size_t length : library->submitted_lengths(0x81))
        EXPECT_EQ(length % packet, 0u);
}

TEST_P(UsbBulkIn, KeepsSeveralTransfersInFlightBetweenCalls)
{
    library->queue_in(chip, 1, {chip_packet(3)});
    size_t got = 0;
    ASSERT_EQ(read(4 * packet, 5000, got), Status::ok);
    EXPECT_GE(library->most_in_flight(0x81), 2u);
    std::lock_guard<std::mutex> lock(library->lock());
    EXPECT_GE(library->in_flight(0x81), 2u);
}

TEST_P(UsbBulkIn, TimesOutWhenNothingComesAndLosesNothingLater)
{
    size_t got = 99;
    const auto start = Clock::now();
    EXPECT_EQ(read(4 * packet, 40, got), Status::timeout);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(elapsed_ms(start), 40);
    EXPECT_LT(elapsed_ms(start), 2000);

    library->queue_in(chip, 1, {chip_packet(7)});
    ASSERT_EQ(read(4 * packet, 5000, got), Status::ok);
    EXPECT_EQ(bytes(got), chip_packet(7));
}

TEST_P(UsbBulkIn, ZeroLengthPacketEndsACallWithoutWaitingForTheTimeOut)
{
    library->queue_in(chip, 1, {full(1), full(2), {}});
    size_t got = 0;
    const auto start = Clock::now();
    ASSERT_EQ(read(8 * packet, 10000, got), Status::ok);
    EXPECT_EQ(got, 2u * packet);
    EXPECT_LT(elapsed_ms(start), 5000);
}

TEST_P(UsbBulkIn, ZeroTimeOutStillCollectsWhatArrived)
{
    library->queue_in(chip, 1, {chip_packet(4)});
    size_t got = 0;
    // The call submits the transfers and still collects what they brought at once.
    ASSERT_EQ(read(4 * packet, 0, got), Status::ok);
    EXPECT_EQ(bytes(got), chip_packet(4));
}

TEST_P(UsbBulkIn, StallIsReportedAndClearedSoReadingGoesOn)
{
    library->queue_in(chip, 1, {chip_packet(1, 1)});
    library->queue_stall(chip, 1);
    size_t got = 0;
    ASSERT_EQ(read(packet, 5000, got), Status::ok);
    EXPECT_EQ(read(packet, 5000, got), Status::stall);
    library->queue_in(chip, 1, {chip_packet(1, 2)});
    ASSERT_EQ(read(packet, 5000, got), Status::ok);
    EXPECT_EQ(bytes(got), chip_packet(1, 2));
}

TEST_P(UsbBulkIn, RefusesABufferSmallerThanAPacket)
{
    size_t got = 0;
    EXPECT_EQ(read(packet - 1, 10, got), Status::invalid);
    EXPECT_EQ(channel->bulk_in(nullptr, packet, 10, &got), Status::invalid);
}

TEST_P(UsbBulkIn, ResetDropsWhatCameBeforeIt)
{
    library->queue_in(chip, 1, {chip_packet(1, 1), chip_packet(1, 2)});
    size_t got = 0;
    ASSERT_EQ(read(packet, 5000, got), Status::ok);
    ASSERT_EQ(channel->reset_device(), Status::ok);
    EXPECT_EQ(read(packet, 30, got), Status::timeout);
    library->queue_in(chip, 1, {chip_packet(1, 3)});
    ASSERT_EQ(read(packet, 5000, got), Status::ok);
    EXPECT_EQ(bytes(got), chip_packet(1, 3));
}

TEST_P(UsbBulkIn, DiscardDropsWhatWasReadAheadAndKeepsWhatComesAfter)
{
    // Three transfers complete and the fourth is under way with two full packets in it
    // when the caller has taken the first.
    library->queue_in(chip, 1, {chip_packet(1, 1), chip_packet(1, 2), chip_packet(1, 3), full(4), full(5)});
    size_t got = 0;
    ASSERT_EQ(read(8 * packet, 5000, got), Status::ok);
    ASSERT_EQ(bytes(got), chip_packet(1, 1));
    channel->discard_in();
    library->queue_in(chip, 1, {chip_packet(2, 6)});
    ASSERT_EQ(read(8 * packet, 5000, got), Status::ok);
    EXPECT_EQ(bytes(got), chip_packet(2, 6));

    // Reads in flight but empty at the discard: what the chip sends next is not lost in them.
    channel->discard_in();
    library->queue_in(chip, 1, {chip_packet(3, 7)});
    ASSERT_EQ(read(8 * packet, 5000, got), Status::ok);
    EXPECT_EQ(bytes(got), chip_packet(3, 7));
}

TEST_P(UsbBulkIn, DiscardWhileAnotherThreadWaitsKeepsItsEarlierPacketsFromItsCaller)
{
    library->queue_in(chip, 1, full_transfer(1));
    std::vector<uint8_t> into(2 * usb::LibusbChannel::in_slot_capacity);
    size_t got = 0;
    auto call = read_elsewhere(into, got, 60000);
    // A fifth submission follows the first transfer's hand-out: the call now waits for more.
    wait_for_submissions(5);
    channel->discard_in();
    library->queue_in(chip, 1, {chip_packet(3, 2)});
    ASSERT_EQ(finish(call), Status::ok);
    EXPECT_EQ(std::vector<uint8_t>(into.begin(), into.begin() + got), chip_packet(3, 2));
}

TEST_P(UsbBulkIn, StopEndsAWaitingCallWithWhatItHadAndLaterCallsDoNotWait)
{
    library->queue_in(chip, 1, full_transfer(1));
    std::vector<uint8_t> into(2 * usb::LibusbChannel::in_slot_capacity);
    size_t got = 0;
    auto call = read_elsewhere(into, got, 60000);
    wait_for_submissions(5);
    channel->stop_in();
    ASSERT_EQ(finish(call), Status::ok);
    EXPECT_EQ(got, usb::LibusbChannel::in_slot_capacity);
    EXPECT_EQ(into[0], 1);

    auto later = read_elsewhere(into, got, 60000);
    EXPECT_EQ(finish(later), Status::timeout);
    EXPECT_EQ(got, 0u);
}

TEST_P(UsbBulkIn, CutEndsTheWaitingCallWithWhatItHadAndOnlyThatCall)
{
    library->queue_in(chip, 1, full_transfer(1));
    std::vector<uint8_t> into(2 * usb::LibusbChannel::in_slot_capacity);
    size_t got = 0;
    auto call = read_elsewhere(into, got, 60000);
    wait_for_submissions(5);
    channel->cut_in();
    ASSERT_EQ(finish(call), Status::ok);
    EXPECT_EQ(got, usb::LibusbChannel::in_slot_capacity);

    // The next call waits again and takes what comes.
    auto later = read_elsewhere(into, got, 60000);
    library->queue_in(chip, 1, {chip_packet(3, 2)});
    ASSERT_EQ(finish(later), Status::ok);
    EXPECT_EQ(std::vector<uint8_t>(into.begin(), into.begin() + got), chip_packet(3, 2));
}

INSTANTIATE_TEST_SUITE_P(PacketSizes, UsbBulkIn, ::testing::Values(uint16_t{64}, uint16_t{512}),
                         [](const auto &info) { return "packet" + std::to_string(info.param); });

} // namespace
} // namespace corvane::testing
