// The client keeps several bulk reads of a channel in flight: they must hand bytes out in
// the order the device sent them, drop what was fetched before a purge, end at once for
// a closing channel or a cut one, and give their shared slots back however they end.
#include "served_bus.h"

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace corvane::testing {
namespace {

using usb::Status;
namespace vbus = usb::vbus;

class VbusReadAhead : public ::testing::Test {
protected:
    std::unique_ptr<usb::Channel> open_loopback()
    {
        std::unique_ptr<usb::Channel> opened;
        EXPECT_EQ(client->open("1", 1, opened), Status::ok);
        return opened;
    }
    static void write_byte(usb::Channel &channel, uint8_t value)
    {
        size_t went = 0;
        ASSERT_EQ(channel.bulk_out(&value, 1, 1000, &went), Status::ok);
        ASSERT_EQ(went, 1u);
    }
    // Reads until `count` bytes came, a read fails or three in a row find nothing (each
    // waits up to a second); by turns copied and shown in place.
    static std::vector<uint8_t> read_bytes(usb::Channel &channel, size_t count)
    {
        std::vector<uint8_t> got;
        uint8_t buffer[64];
        unsigned empty = 0;
        for (bool shown = false; got.size() < count && empty < 3; shown = !shown) {
            size_t piece = 0;
            const uint8_t *packets = buffer;
            Status status = shown ? channel.bulk_in_view(buffer, sizeof buffer, 1000, &packets, &piece)
                                  : channel.bulk_in(buffer, sizeof buffer, 1000, &piece);
            if (status != Status::ok && status != Status::timeout)
                break;
            empty = piece == 0 ? empty + 1 : 0;
            got.insert(got.end(), packets, packets + piece);
        }
        return got;
    }

    ServedBus served;
    std::unique_ptr<usb::Transport> client = served.client();
};

TEST_F(VbusReadAhead, BytesComeOutInTheOrderTheDeviceSentThem)
{
    auto channel = open_loopback();
    ASSERT_TRUE(channel);
    constexpr size_t count = 1500;
    // Each byte is its own transfer, so that it may meet any of the reads waiting for it.
    auto reader = std::async(std::launch::async, [&] { return read_bytes(*channel, count); });
    for (size_t i = 0; i < count; ++i)
        write_byte(*channel, static_cast<uint8_t>(i % 251));
    std::vector<uint8_t> got = reader.get();
    ASSERT_EQ(got.size(), count);
    for (size_t i = 0; i < count; ++i)
        ASSERT_EQ(got[i], i % 251) << "byte " << i << " came out of turn";
}

TEST_F(VbusReadAhead, WhatWasFetchedBeforeADiscardNeverReachesTheCaller)
{
    auto channel = open_loopback();
    ASSERT_TRUE(channel);
    write_byte(*channel, 0xE0);
    // The reads sent with this one stay in flight and take the next bytes as they come.
    EXPECT_EQ(read_bytes(*channel, 1), std::vector<uint8_t>{0xE0});
    for (uint8_t stale : {0xE1, 0xE2, 0xE3})
        write_byte(*channel, stale);
    for (int i = 0; i < 1000 && served.bus.unread("1", 1) > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(served.bus.unread("1", 1), 0u) << "the reads in flight did not take the bytes";
    channel->discard_in();
    write_byte(*channel, 0x42);
    std::vector<uint8_t> after = read_bytes(*channel, 1);
    EXPECT_EQ(after, std::vector<uint8_t>{0x42});
}

TEST_F(VbusReadAhead, ReadsWaitingAtADiscardLeaveTheNextBytesToLaterReads)
{
    auto channel = open_loopback();
    ASSERT_TRUE(channel);
    uint8_t buffer[64];
    size_t got = 0;
    ASSERT_EQ(channel->bulk_in(buffer, sizeof buffer, 20, &got), Status::timeout);
    // The reads left waiting must not take these bytes, only to have them dropped.
    channel->discard_in();
    write_byte(*channel, 0x42);
    write_byte(*channel, 0x43);
    EXPECT_EQ(read_bytes(*channel, 2), (std::vector<uint8_t>{0x42, 0x43}));
}

TEST_F(VbusReadAhead, DiscardsBetweenWritesLoseNoLaterByteWhileAReaderRuns)
{
    // A reader keeps reads going while discards come from another thread, as a purge
    // does while the driver's reading task runs. A read sent around a discard must
    // count as before it or after it in the simulator's order too, or it takes the next
    // byte only for it to be dropped.
    auto channel = open_loopback();
    ASSERT_TRUE(channel);
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<uint8_t> received;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        uint8_t buffer[64];
        while (!done) {
            size_t piece = 0;
            Status status = channel->bulk_in(buffer, sizeof buffer, 5, &piece);
            if (status != Status::ok && status != Status::timeout)
                return;
            std::lock_guard<std::mutex> guard(lock);
            received.insert(received.end(), buffer, buffer + piece);
            arrived.notify_all();
        }
    });
    constexpr size_t rounds = 300;
    size_t lost_at = rounds;
    for (size_t i = 0; i < rounds && lost_at == rounds; ++i) {
        channel->discard_in();
        write_byte(*channel, static_cast<uint8_t>(i));
        std::unique_lock<std::mutex> guard(lock);
        if (!arrived.wait_for(guard, std::chrono::seconds(2), [&] { return received.size() > i; }))
            lost_at = i;
    }
    done = true;
    channel->stop_in();
    reader.join();
    EXPECT_EQ(lost_at, rounds) << "the byte written after discard " << lost_at << " never came";
    for (size_t i = 0; i < received.size(); ++i)
        ASSERT_EQ(received[i], static_cast<uint8_t>(i));
}

TEST_F(VbusReadAhead, StopEndsAWaitingReadAndTheReadsAfterIt)
{
    auto channel = open_loopback();
    ASSERT_TRUE(channel);
    uint8_t buffer[64];
    size_t got = 0;
    auto reader = std::async(std::launch::async, [&] { return channel->bulk_in(buffer, sizeof buffer, 600000, &got); });
    // Let the reader reach its wait; stop_in must end it wherever it is.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    channel->stop_in();
    EXPECT_EQ(reader.get(), Status::timeout);
    EXPECT_EQ(channel->bulk_in(buffer, sizeof buffer, 600000, &got), Status::timeout);
}

TEST_F(VbusReadAhead, CutEndsTheWaitingReadOrElseTheNextOneAndNoOther)
{
    // After a purge the driver waits for its reading task's read; that read must not sit
    // out its time-out for bytes nobody has sent.
    auto channel = open_loopback();
    ASSERT_TRUE(channel);
    uint8_t buffer[64];
    size_t got = 0;
    const auto start = std::chrono::steady_clock::now();
    auto reader = std::async(std::launch::async, [&] { return channel->bulk_in(buffer, sizeof buffer, 20000, &got); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    channel->cut_in();
    EXPECT_EQ(reader.get(), Status::timeout);
    // With no read waiting, the cut ends the next one.
    channel->cut_in();
    EXPECT_EQ(channel->bulk_in(buffer, sizeof buffer, 20000, &got), Status::timeout);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(waited, 10.0) << "a cut read sat out its 20 s time-out";
    // Spent: the reads after it wait for bytes and take them as before.
    write_byte(*channel, 0x55);
    EXPECT_EQ(read_bytes(*channel, 1), std::vector<uint8_t>{0x55});
}

TEST_F(VbusReadAhead, ChannelsClosedWithReadsInFlightGiveTheirSlotsBack)
{
    // Far more reads left in flight, over the channels' lives, than the connection has slots.
    for (unsigned round = 0; round < 2 * vbus::region_slots; ++round) {
        auto channel = open_loopback();
        ASSERT_TRUE(channel);
        uint8_t buffer[64];
        size_t got = 0;
        ASSERT_EQ(channel->bulk_in(buffer, sizeof buffer, 1, &got), Status::timeout);
    }
    auto channel = open_loopback();
    ASSERT_TRUE(channel);
    // A write of two whole slots needs slots free again.
    std::vector<uint8_t> sent(2 * vbus::max_bulk, 0x6C);
    size_t went = 0;
    EXPECT_EQ(channel->bulk_out(sent.data(), sent.size(), 5000, &went), Status::ok);
    EXPECT_EQ(went, sent.size());
}

} // namespace
} // namespace corvane::testing
