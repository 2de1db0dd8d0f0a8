// Reads and writes through the reading task and bulk OUT.
#include "unit/driver/driver_fixture.h"

#include <future>
#include <numeric>
#include <thread>

namespace corvane::testing {
namespace {

using namespace driver; // the request index names

using Clock = std::chrono::steady_clock;

Bytes counting(size_t size, uint8_t first = 0)
{
    Bytes bytes(size);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

class DriverRead : public DriverFixture {
protected:
    void SetUp() override
    {
        open(single_channel_chip());
        set_timeouts(1000, 1000);
    }
    uint32_t read(Bytes &into, uint32_t size)
    {
        into.assign(size, 0);
        uint32_t done = 0;
        last_error = file_->read(into.data(), size, &done);
        into.resize(done);
        return done;
    }
    uint32_t last_error = 0;
};

TEST_F(DriverRead, StripsStatusBytesWhenAReadSpansTwoPacketsAndTwoTransfers)
{
    Bytes first = counting(62), second = counting(10, 100), third = counting(5, 200);
    chat_->add_bulk_in(join({packet(0x11, 0x60, first), packet(0x11, 0x60, second)}));
    chat_->add_bulk_in(packet(0x11, 0x60, third));
    Bytes got;
    EXPECT_EQ(77u, read(got, 77));
    EXPECT_EQ(ERROR_SUCCESS, last_error);
    EXPECT_EQ(join({first, second, third}), got);
}

TEST_F(DriverRead, BytesBeyondAWaitingReadStayQueuedInOrderForTheNext)
{
    // The read waits first, so the reading task fills its buffer directly; what the
    // transfers bring beyond it must come out of the queue, after it and in order.
    Bytes got;
    auto first = std::async(std::launch::async, [&] { return read(got, 70); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Bytes a = counting(62), b = counting(62, 62), c = counting(30, 124);
    chat_->add_bulk_in(join({packet(0x11, 0x60, a), packet(0x11, 0x60, b)}));
    chat_->add_bulk_in(packet(0x11, 0x60, c));
    EXPECT_EQ(70u, first.get());
    Bytes rest;
    EXPECT_EQ(84u, read(rest, 84));
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(join({a, b, c}), got);
}

TEST_F(DriverRead, StatusOnlyPacketAddsNoData)
{
    // A status-only packet is short, so it ends its transfer.
    chat_->add_bulk_in(packet(0x11, 0x60));
    chat_->add_bulk_in(packet(0x11, 0x60));
    chat_->add_bulk_in(packet(0x11, 0x60, {'x', 'y'}));
    set_timeouts(200, 200);
    Bytes got;
    EXPECT_EQ(2u, read(got, 3));
    EXPECT_EQ(ERROR_SUCCESS, last_error);
    EXPECT_EQ((Bytes{'x', 'y'}), got);
}

TEST_F(DriverRead, TimeOutReturnsWhatArrived)
{
    chat_->add_bulk_in(packet(0x11, 0x60, {'a', 'b', 'c'}));
    set_timeouts(150, 150);
    auto start = Clock::now();
    Bytes got;
    EXPECT_EQ(3u, read(got, 10));
    EXPECT_EQ(ERROR_SUCCESS, last_error);
    EXPECT_EQ((Bytes{'a', 'b', 'c'}), got);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));
    EXPECT_EQ(0u, read(got, 1)) << "nothing more came";
    EXPECT_EQ(ERROR_SUCCESS, last_error);
}

TEST_F(DriverRead, ImmediateComTimeoutsReturnAtOnce)
{
    Bytes timeouts = join({u32_bytes(0xFFFFFFFF), u32_bytes(0), u32_bytes(0), u32_bytes(0), u32_bytes(0)});
    ASSERT_EQ(ERROR_SUCCESS, request(request_timeouts, timeouts));
    auto start = Clock::now();
    Bytes got;
    EXPECT_EQ(0u, read(got, 10));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(DriverRead, QueueFullHoldsTheDeviceBackAndLosesNothing)
{
    // More than the receive queue holds, one packet per transfer.
    Bytes sent;
    for (int i = 0; i < 5000; ++i) {
        Bytes data = counting(62, static_cast<uint8_t>(i));
        sent.insert(sent.end(), data.begin(), data.end());
        chat_->add_bulk_in(packet(0x11, 0x60, data));
    }
    Bytes got;
    EXPECT_EQ(sent.size(), read(got, static_cast<uint32_t>(sent.size())));
    EXPECT_TRUE(got == sent);
}

TEST_F(DriverRead, PurgeForgetsWhatWasReceived)
{
    chat_->add_bulk_in(packet(0x11, 0x60, {1, 2, 3}));
    wait_for_queue(3);
    chat_->expect_control(0x40, 0x00, 1, 1);
    ASSERT_EQ(ERROR_SUCCESS, request(request_purge, u32_bytes(1)));
    EXPECT_EQ(0u, queued());
    chat_->expect_control(0x40, 0x00, 0, 1);
    chat_->add_bulk_in(packet(0x11, 0x60, {4}));
    wait_for_queue(1);
    ASSERT_EQ(ERROR_SUCCESS, request(request_reset, {}));
    EXPECT_EQ(0u, queued());
}

// The transport reads ahead: one transfer under way when the chip's receive buffer is
// emptied, more fetched behind it. Neither reaches a read; what the chip sends later does.
TEST_F(DriverRead, PurgeAndChannelResetDropTheTransportsReadAhead)
{
    struct Case {
        const char *name;
        unsigned request;
        Bytes in;
        uint16_t value;
    };
    const Case cases[] = {{"purge", request_purge, u32_bytes(1), 1}, {"channel reset", request_reset, {}, 0}};
    uint8_t fresh = 100;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        chat_->add_bulk_in_in_flight(packet(0x11, 0x60, {1, 2, 3}));
        chat_->wait_for_held_bulk_in();
        chat_->add_bulk_in(packet(0x11, 0x60, {4, 5}));
        chat_->expect_control(0x40, 0x00, c.value, 1);
        ASSERT_EQ(ERROR_SUCCESS, request(c.request, c.in));
        EXPECT_EQ(0u, queued());
        chat_->add_bulk_in(packet(0x11, 0x60, {fresh}));
        Bytes got;
        EXPECT_EQ(1u, read(got, 1));
        EXPECT_EQ(Bytes{fresh}, got);
        ++fresh;
    }
}

TEST_F(DriverRead, CloseEndsTheReadingTasksBulkInAtOnce)
{
    // The transfer would wait until the watchdog without stop_in.
    chat_->add_bulk_in_in_flight({});
    chat_->wait_for_held_bulk_in();
    file_->close();
}

TEST_F(DriverRead, VanishedDeviceHandsOverWhatItSentThenFails)
{
    chat_->add_bulk_in(packet(0x11, 0x60, {'h', 'i'}));
    wait_for_queue(2);
    chat_->unplug();
    Bytes got;
    EXPECT_EQ(2u, read(got, 10));
    EXPECT_EQ(ERROR_SUCCESS, last_error);
    EXPECT_EQ(0u, read(got, 10));
    EXPECT_EQ(ERROR_DEVICE_NOT_CONNECTED, last_error);
    uint32_t done = 0;
    EXPECT_EQ(ERROR_DEVICE_NOT_CONNECTED, file_->write("x", 1, &done));
    Bytes status(4);
    EXPECT_EQ(ERROR_DEVICE_NOT_CONNECTED, request(request_modem_status, {}, &status));
}

TEST_F(DriverRead, PendingReadEndsWhenTheDeviceVanishes)
{
    set_timeouts(0, 0);
    std::thread unplug([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        chat_->unplug();
    });
    Bytes got;
    EXPECT_EQ(0u, read(got, 10));
    EXPECT_EQ(ERROR_DEVICE_NOT_CONNECTED, last_error);
    unplug.join();
}

TEST_F(DriverRead, StoppedTaskLeavesTheDataOnTheChip)
{
    ASSERT_EQ(ERROR_SUCCESS, request(request_stop_reading, {}));
    chat_->add_bulk_in(packet(0x11, 0x60, {9}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(1u, chat_->bulk_in_left());
    ASSERT_EQ(ERROR_SUCCESS, request(request_restart_reading, {}));
    wait_for_queue(1);
}

TEST_F(DriverRead, PipeThatKeepsFailingEndsReadsUntilTheTaskRestarts)
{
    ASSERT_EQ(ERROR_SUCCESS, request(request_pipe_retry_count, u32_bytes(2)));
    for (int i = 0; i < 3; ++i)
        chat_->add_bulk_in({}, usb::Status::io_error);
    Bytes got;
    EXPECT_EQ(0u, read(got, 1));
    EXPECT_EQ(ERROR_GEN_FAILURE, last_error);
    chat_->add_bulk_in(packet(0x11, 0x60, {7}));
    ASSERT_EQ(ERROR_SUCCESS, request(request_restart_reading, {}));
    EXPECT_EQ(1u, read(got, 1));
    EXPECT_EQ(ERROR_SUCCESS, last_error);
}

class DriverWrite : public DriverFixture {
protected:
    void SetUp() override { open(single_channel_chip()); }
};

TEST_F(DriverWrite, SendsTheBytesAsTheyAre)
{
    Bytes data = counting(1000);
    uint32_t done = 0;
    EXPECT_EQ(ERROR_SUCCESS, file_->write(data.data(), 1000, &done));
    EXPECT_EQ(1000u, done);
    EXPECT_EQ(data, chat_->written());
}

TEST_F(DriverWrite, TimeOutSucceedsWithTheCountThatWent)
{
    set_timeouts(100, 100);
    chat_->limit_bulk_out(5);
    Bytes data = counting(10);
    uint32_t done = 0;
    auto start = Clock::now();
    EXPECT_EQ(ERROR_SUCCESS, file_->write(data.data(), 10, &done));
    EXPECT_EQ(5u, done);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 5), chat_->written());
}

TEST_F(DriverWrite, TransferFailureIsReported)
{
    chat_->set_bulk_out_status(usb::Status::io_error);
    uint32_t done = 7;
    EXPECT_EQ(ERROR_GEN_FAILURE, file_->write("abc", 3, &done));
    EXPECT_EQ(0u, done);
}

} // namespace
} // namespace corvane::testing
