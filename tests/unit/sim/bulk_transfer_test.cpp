// Bulk IN framing and the loopback data path of the chip model.
#include "sim_test_helpers.h"
#include "sim/loopback.h"

#include <chrono>
#include <thread>

namespace corvane::testing {
namespace {

using namespace std::chrono_literals;
namespace ftdi = usb::ftdi;

class BulkTransfer : public ::testing::Test {
protected:
    InprocBus fixture{{"ft232r", "ft2232h", "ft4232h"}};
    std::unique_ptr<usb::Transport> transport = usb::make_inproc_transport(fixture.bus());

    // Sends `data` and reads until `data.size()` payload bytes came back, checking and
    // stripping the status bytes of every packet.
    std::vector<uint8_t> echo(usb::Channel &channel, const std::vector<uint8_t> &data, size_t packet)
    {
        size_t sent = 0;
        EXPECT_EQ(channel.bulk_out(data.data(), data.size(), 1000, &sent), usb::Status::ok);
        EXPECT_EQ(sent, data.size());
        std::vector<uint8_t> back, buffer(packet * 8);
        while (back.size() < data.size()) {
            size_t got = 0;
            if (channel.bulk_in(buffer.data(), buffer.size(), 1000, &got) != usb::Status::ok)
                break;
            for (size_t at = 0; at < got; at += packet) {
                size_t end = std::min(got, at + packet);
                EXPECT_GE(end - at, ftdi::status_bytes);
                EXPECT_EQ(buffer[at] & ~ftdi::modem_reserved_mask, 0);
                EXPECT_EQ(buffer[at + 1], ftdi::line_tx_holding_empty | ftdi::line_tx_empty);
                back.insert(back.end(), buffer.begin() + at + 2, buffer.begin() + end);
            }
        }
        return back;
    }
};

TEST_F(BulkTransfer, FullSpeedChipLoopsBackIn64BytePacketsWithStatusBytes)
{
    auto channel = open_channel(*transport, "0");
    std::vector<uint8_t> data = bytes(1000, 7);
    EXPECT_EQ(echo(*channel, data, 64), data);
}

TEST_F(BulkTransfer, HighSpeedChipUses512BytePackets)
{
    auto channel = open_channel(*transport, "1", 2);
    std::vector<uint8_t> data = bytes(1500);
    size_t sent = 0;
    ASSERT_EQ(channel->bulk_out(data.data(), data.size(), 1000, &sent), usb::Status::ok);
    std::vector<uint8_t> buffer(4096);
    size_t got = 0;
    ASSERT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 1000, &got), usb::Status::ok);
    // 510 + 510 + 480 data bytes: two full packets and one short one, all at once.
    EXPECT_EQ(got, 512u + 512u + 482u);
    EXPECT_EQ(buffer[512 + 2], data[510]);
    EXPECT_EQ(buffer[1024 + 2], data[1020]);
}

TEST_F(BulkTransfer, ReadStopsWhenTheBufferIsFullAndKeepsTheRest)
{
    auto channel = open_channel(*transport, "0");
    std::vector<uint8_t> data = bytes(200);
    size_t sent = 0, got = 0;
    ASSERT_EQ(channel->bulk_out(data.data(), data.size(), 1000, &sent), usb::Status::ok);
    std::vector<uint8_t> buffer(128);
    ASSERT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 1000, &got), usb::Status::ok);
    EXPECT_EQ(got, 128u);
    ASSERT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 1000, &got), usb::Status::ok);
    EXPECT_EQ(got, 64u + 2u + 14u); // the other 76 bytes: a full packet and a short one
    EXPECT_EQ(buffer[2], data[124]);
}

// An idle channel answers with the status bytes alone when its latency timer runs out
// within the time-out, and with nothing at all when the time-out is the shorter.
TEST_F(BulkTransfer, IdleChannelAnswersAtTheLatencyTimerOrTimesOut)
{
    struct Case {
        uint16_t latency_ms;
        unsigned timeout_ms;
        usb::Status expected;
        size_t got;
    };
    const Case cases[] = {
        {5, 1000, usb::Status::ok, 2},
        {20, 20, usb::Status::ok, 2},
        {200, 20, usb::Status::timeout, 0},
    };
    auto channel = open_channel(*transport, "0");
    for (const Case &c : cases) {
        ASSERT_EQ(send_out(*channel, ftdi::set_latency, c.latency_ms, 1), usb::Status::ok);
        std::vector<uint8_t> buffer(64);
        size_t got = 99;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(channel->bulk_in(buffer.data(), buffer.size(), c.timeout_ms, &got), c.expected) << c.latency_ms;
        auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(got, c.got) << c.latency_ms;
        EXPECT_GE(waited, std::chrono::milliseconds(std::min<unsigned>(c.latency_ms, c.timeout_ms)));
        // Well before the longer of the two, whichever ended the wait.
        if (c.latency_ms != c.timeout_ms) {
            EXPECT_LT(waited, std::chrono::milliseconds(std::max<unsigned>(c.latency_ms, c.timeout_ms)));
        }
    }
}

TEST_F(BulkTransfer, WaitingReaderWakesForBytesWrittenByAnotherThread)
{
    auto channel = open_channel(*transport, "0");
    ASSERT_EQ(send_out(*channel, ftdi::set_latency, 255, 1), usb::Status::ok);
    std::thread writer([&] {
        std::this_thread::sleep_for(20ms);
        uint8_t byte = 0x5A;
        size_t sent = 0;
        channel->bulk_out(&byte, 1, 100, &sent);
    });
    std::vector<uint8_t> buffer(64);
    size_t got = 0;
    EXPECT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 1000, &got), usb::Status::ok);
    writer.join();
    ASSERT_EQ(got, 3u);
    EXPECT_EQ(buffer[2], 0x5A);
}

TEST_F(BulkTransfer, AWriteMeetingAWaitingReadFillsItWholeAndLeavesTheRestInOrder)
{
    // The read waits before the write comes, so the write fills it directly; what does
    // not fit takes the plug's ordinary way and comes out next.
    auto channel = open_channel(*transport, "1", 2);
    ASSERT_EQ(send_out(*channel, ftdi::set_latency, 255, 2), usb::Status::ok);
    std::vector<uint8_t> data = bytes(1500, 3);
    std::vector<uint8_t> first(1024);
    size_t got = 0;
    std::thread reader([&] { EXPECT_EQ(channel->bulk_in(first.data(), first.size(), 2000, &got), usb::Status::ok); });
    std::this_thread::sleep_for(20ms);
    size_t sent = 0;
    EXPECT_EQ(channel->bulk_out(data.data(), data.size(), 1000, &sent), usb::Status::ok);
    reader.join();
    EXPECT_EQ(sent, data.size());
    ASSERT_EQ(got, 1024u);
    for (size_t packet : {0u, 1u}) {
        EXPECT_EQ(first[packet * 512 + 1], ftdi::line_tx_holding_empty | ftdi::line_tx_empty);
        EXPECT_TRUE(std::equal(first.begin() + packet * 512 + 2, first.begin() + packet * 512 + 512,
                               data.begin() + packet * 510))
            << "packet " << packet;
    }
    std::vector<uint8_t> rest(1024);
    ASSERT_EQ(channel->bulk_in(rest.data(), rest.size(), 1000, &got), usb::Status::ok);
    ASSERT_EQ(got, 2u + 480u);
    EXPECT_TRUE(std::equal(rest.begin() + 2, rest.begin() + 482, data.begin() + 1020));
}

TEST_F(BulkTransfer, FullLoopbackRefusesMoreUntilTheTimeOutAndReportsWhatWent)
{
    auto channel = open_channel(*transport, "0");
    std::vector<uint8_t> data(sim::Loopback::default_capacity + 44 * 1024);
    size_t sent = 0;
    EXPECT_EQ(channel->bulk_out(data.data(), data.size(), 20, &sent), usb::Status::timeout);
    EXPECT_EQ(sent, sim::Loopback::default_capacity);
}

TEST_F(BulkTransfer, StalledChipMovesNoBytes)
{
    auto channel = open_channel(*transport, "0");
    ASSERT_EQ(fixture.bus().set_stalled("0", true), usb::Status::ok);
    uint8_t byte = 1;
    size_t sent = 9, got = 9;
    EXPECT_EQ(channel->bulk_out(&byte, 1, 10, &sent), usb::Status::timeout);
    EXPECT_EQ(sent, 0u);
    std::vector<uint8_t> buffer(64);
    EXPECT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 30, &got), usb::Status::timeout);
    ASSERT_EQ(fixture.bus().set_stalled("0", false), usb::Status::ok);
    EXPECT_EQ(channel->bulk_out(&byte, 1, 10, &sent), usb::Status::ok);
}

class ModemLines : public BulkTransfer {
protected:
    uint8_t modem_status(usb::Channel &channel)
    {
        std::vector<uint8_t> reply;
        EXPECT_EQ(read_in(channel, ftdi::modem_status, 1, reply, 2), usb::Status::ok);
        return reply.empty() ? 0 : reply[0];
    }
};

TEST_F(ModemLines, LoopbackPlugWiresRtsToCtsAndDtrToDsrAndDcd)
{
    auto channel = open_channel(*transport, "0");
    EXPECT_EQ(modem_status(*channel) & 0xF0, 0);
    ASSERT_EQ(send_out(*channel, ftdi::modem_control, 0x0202, 1), usb::Status::ok);
    EXPECT_EQ(modem_status(*channel) & 0xF0, ftdi::modem_cts);
    ASSERT_EQ(send_out(*channel, ftdi::modem_control, 0x0101, 1), usb::Status::ok);
    EXPECT_EQ(modem_status(*channel) & 0xF0, ftdi::modem_cts | ftdi::modem_dsr | ftdi::modem_dcd);
    ASSERT_EQ(send_out(*channel, ftdi::modem_control, 0x0200, 1), usb::Status::ok);
    EXPECT_EQ(modem_status(*channel) & 0xF0, ftdi::modem_dsr | ftdi::modem_dcd);
}

TEST_F(ModemLines, LineChangeSendsAPacketAtOnceCarryingTheNewStatus)
{
    auto channel = open_channel(*transport, "0");
    ASSERT_EQ(send_out(*channel, ftdi::set_latency, 255, 1), usb::Status::ok);
    fixture.set_modem_lines(0, 1, ftdi::modem_ri | ftdi::modem_dcd);
    std::vector<uint8_t> buffer(64);
    size_t got = 0;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 1000, &got), usb::Status::ok);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
    ASSERT_EQ(got, 2u);
    EXPECT_EQ(buffer[0] & 0xF0, ftdi::modem_ri | ftdi::modem_dcd);
}

TEST_F(ModemLines, BreakSentIntoThePlugShowsInTheLineStatus)
{
    auto channel = open_channel(*transport, "0");
    ASSERT_EQ(send_out(*channel, ftdi::data_characteristics, 0x4008, 1), usb::Status::ok);
    std::vector<uint8_t> reply;
    ASSERT_EQ(read_in(*channel, ftdi::modem_status, 1, reply, 2), usb::Status::ok);
    EXPECT_TRUE(reply[1] & ftdi::line_break);
    ASSERT_EQ(send_out(*channel, ftdi::data_characteristics, 0x0008, 1), usb::Status::ok);
    ASSERT_EQ(read_in(*channel, ftdi::modem_status, 1, reply, 2), usb::Status::ok);
    EXPECT_FALSE(reply[1] & ftdi::line_break);
}

// The cut fault: one OUT transfer ends short at once, as a time-out with the partial
// count, so that a host's resume of a short write can be tried; the next one is whole.
TEST_F(BulkTransfer, CutEndsTheNextOutTransferShortOnceThenAllMove)
{
    auto channel = open_channel(*transport, "0");
    ASSERT_EQ(fixture.bus().cut_next_transfer("0", 100), usb::Status::ok);
    std::vector<uint8_t> data = bytes(1000, 3);
    size_t sent = 0;
    // A transfer the cut would not shorten leaves it for the next, longer one.
    std::vector<uint8_t> small = bytes(100, 0xA0);
    EXPECT_EQ(channel->bulk_out(small.data(), small.size(), 1000, &sent), usb::Status::ok);
    EXPECT_EQ(sent, 100u);
    EXPECT_EQ(channel->bulk_out(data.data(), data.size(), 1000, &sent), usb::Status::timeout);
    EXPECT_EQ(sent, 100u);
    EXPECT_EQ(channel->bulk_out(data.data() + 100, data.size() - 100, 1000, &sent), usb::Status::ok);
    EXPECT_EQ(sent, 900u);
    EXPECT_EQ(channel->bulk_out(data.data(), data.size(), 1000, &sent), usb::Status::ok);
    EXPECT_EQ(sent, 1000u);
    // Exactly the bytes taken came back, in order: the cut lost and repeated nothing.
    std::vector<uint8_t> expected = small;
    expected.insert(expected.end(), data.begin(), data.end());
    expected.insert(expected.end(), data.begin(), data.end());
    std::vector<uint8_t> back, buffer(4096);
    while (back.size() < expected.size()) {
        size_t got = 0;
        ASSERT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 1000, &got), usb::Status::ok);
        for (size_t at = 0; at < got; at += 64)
            back.insert(back.end(), buffer.begin() + static_cast<long>(at) + 2,
                        buffer.begin() + static_cast<long>(std::min(got, at + 64)));
    }
    EXPECT_EQ(back, expected);
}

// A poll that finds only status bytes leaves the cut armed for the transfer that moves data.
TEST_F(BulkTransfer, CutPassesStatusOnlyAnswersByAndLimitsAnInTransferToItsDataBytes)
{
    auto channel = open_channel(*transport, "0");
    ASSERT_EQ(fixture.bus().cut_next_transfer("0", 100), usb::Status::ok);
    std::vector<uint8_t> buffer(4096);
    size_t got = 0, sent = 0;
    ASSERT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 1000, &got), usb::Status::ok);
    EXPECT_EQ(got, 2u);
    std::vector<uint8_t> data = bytes(300, 9);
    EXPECT_EQ(channel->bulk_out(data.data(), data.size(), 1000, &sent), usb::Status::timeout);
    EXPECT_EQ(sent, 100u);
    EXPECT_EQ(channel->bulk_out(data.data() + 100, 200, 1000, &sent), usb::Status::ok);

    ASSERT_EQ(fixture.bus().cut_next_transfer("0", 70), usb::Status::ok);
    ASSERT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 1000, &got), usb::Status::ok);
    EXPECT_EQ(got, 64u + 2u + 8u); // 62 + 8 data bytes, the second packet cut short
    EXPECT_EQ(buffer[64 + 2 + 7], data[69]);
    ASSERT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 1000, &got), usb::Status::ok);
    EXPECT_EQ(got, 230u + 4u * 2u); // the other 230: three full packets and a short one
    EXPECT_EQ(buffer[2], data[70]);
}

} // namespace
} // namespace corvane::testing
