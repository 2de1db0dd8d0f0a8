// The USB timing model's rules, on times the tests choose: no test here reads a clock.
#include "sim/loopback.h"
#include "sim/usb_timing.h"
#include "sim_test_helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace corvane::testing {
namespace {

using namespace std::chrono_literals;
using sim::LinkTime;

constexpr auto microframe = 125us;
// A moment on a microframe boundary, far from the clock's epoch.
const LinkTime t0 = LinkTime(std::chrono::seconds(1000));
constexpr auto slot_end = std::chrono::nanoseconds(125000 / 13); // the end of a microframe's first slot
constexpr auto slot = slot_end + 1ns;                            // a moment after it

sim::LinkSpeed high_speed(double fifo_bytes_per_second = 0)
{
    sim::LinkSpeed speed;
    speed.fifo_bytes_per_second = fifo_bytes_per_second;
    return speed;
}

std::vector<uint8_t> pattern(size_t count)
{
    std::vector<uint8_t> out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(i * 7 + 1);
    return out;
}

// A loopback peer holding `data`, as if the host had written it long before.
sim::Loopback holding(const std::vector<uint8_t> &data)
{
    sim::Loopback peer;
    peer.take(data.data(), data.size());
    return peer;
}

struct Read {
    std::vector<uint8_t> buffer;
    sim::TimedRead read;
    explicit Read(size_t size, LinkTime start) : buffer(size)
    {
        read.buffer = buffer.data();
        read.size = size;
        read.start = start;
    }
};

TEST(UsbTiming, FullPacketsLeaveAsSoonAsTheChipHoldsThem)
{
    sim::UsbTiming timing(high_speed(), 1);
    const std::vector<uint8_t> data = pattern(3 * 510 + 8);
    sim::Loopback peer = holding(data);
    Read host(8 * 512, t0);
    timing.attach(0, &host.read);

    // Three slots in, the three full packets are with the host, the transfer still open.
    timing.advance(0, peer, t0 + 3 * slot, 16, 0x01, 0x60, false);
    ASSERT_EQ(host.read.filled, 3u * 512);
    EXPECT_FALSE(host.read.done_at);
    for (size_t packet = 0; packet < 3; ++packet) {
        EXPECT_EQ(host.buffer[packet * 512], 0x01);
        EXPECT_EQ(host.buffer[packet * 512 + 1], 0x60);
        EXPECT_TRUE(std::equal(data.begin() + packet * 510, data.begin() + (packet + 1) * 510,
                               host.buffer.begin() + packet * 512 + 2));
    }
    EXPECT_EQ(timing.held_in(0), 8u);

    // With the FIFO at 10 MB/s the chip holds a full packet only 51 us after the bytes came.
    sim::UsbTiming paced(high_speed(10e6), 1);
    sim::Loopback slow;
    // The idle chip's status bytes end at t0: the timer restarts there, the FIFO idles till then.
    Read poll(512, t0 - 10us);
    paced.attach(0, &poll.read);
    paced.advance(0, slow, t0, 16, 0x01, 0x60, false);
    ASSERT_EQ(poll.read.filled, 2u);
    const std::vector<uint8_t> more = pattern(2 * 510);
    slow.take(more.data(), more.size());
    Read paced_host(4 * 512, t0);
    paced.attach(0, &paced_host.read);
    paced.advance(0, slow, t0 + 50us, 16, 0x01, 0x60, false);
    EXPECT_EQ(paced_host.read.filled, 0u);
    paced.advance(0, slow, t0 + 51us + slot, 16, 0x01, 0x60, false);
    EXPECT_EQ(paced_host.read.filled, 512u);
    paced.advance(0, slow, t0 + 102us + slot, 16, 0x01, 0x60, false);
    EXPECT_EQ(paced_host.read.filled, 1024u);
}

TEST(UsbTiming, AShortPacketWaitsForTheLatencyTimerFromTheLastPacket)
{
    sim::UsbTiming timing(high_speed(), 1);
    sim::Loopback peer = holding(pattern(510 + 8));
    Read host(8 * 512, t0);
    timing.attach(0, &host.read);
    timing.advance(0, peer, t0 + slot, 16, 0x01, 0x60, false);
    ASSERT_EQ(host.read.filled, 512u);
    const LinkTime last_packet = t0 + slot;

    // The 8 bytes wait for the timer, counted from the full packet before them.
    timing.advance(0, peer, last_packet + 16ms - 1us, 16, 0x01, 0x60, false);
    EXPECT_EQ(host.read.filled, 512u);
    EXPECT_FALSE(host.read.done_at);
    EXPECT_EQ(timing.next_event(0, peer, last_packet + 16ms - 1us, 16), t0 + slot_end + 16ms);

    timing.advance(0, peer, last_packet + 16ms + slot, 16, 0x01, 0x60, false);
    EXPECT_EQ(host.read.filled, 512u + 2 + 8);
    ASSERT_TRUE(host.read.done_at);
    // The short packet ends the transfer at the next microframe boundary.
    EXPECT_EQ(*host.read.done_at, t0 + 16ms + microframe);

    // A shorter timer set on the channel lets them go sooner; with no bytes at all, the
    // status bytes go alone.
    sim::Loopback idle;
    Read poll(512, last_packet + 16ms + microframe);
    timing.attach(0, &poll.read);
    timing.advance(0, idle, poll.read.start + 2ms + slot, 2, 0x01, 0x60, false);
    EXPECT_EQ(poll.read.filled, 2u);
    EXPECT_TRUE(poll.read.done_at);
}

TEST(UsbTiming, AMicroframeCarriesAtMost13PacketsOfAllChannelsAndDirections)
{
    sim::UsbTiming timing(high_speed(), 2);
    sim::Loopback sink;
    const std::vector<uint8_t> data = pattern(14 * 512);
    LinkTime done;
    // 13 packets fill the first microframe; the 14th ends the transfer a microframe later.
    ASSERT_EQ(timing.write(0, sink, data.data(), 13 * 512, t0, &done), 13u * 512);
    EXPECT_EQ(done, t0 + microframe);

    // Channel B's bytes for the host wait for the next microframe too.
    sim::Loopback peer_b = holding(pattern(510));
    Read host(512, t0);
    timing.attach(1, &host.read);
    timing.advance(1, peer_b, t0 + microframe - 1ns, 16, 0x01, 0x60, false);
    EXPECT_EQ(host.read.filled, 0u);
    timing.advance(1, peer_b, t0 + microframe + slot, 16, 0x01, 0x60, false);
    EXPECT_EQ(host.read.filled, 512u);
    EXPECT_EQ(*host.read.done_at, t0 + 2 * microframe);

    // The last of 14 packets of a later write crosses into the microframe after its own.
    sim::UsbTiming fresh(high_speed(), 1);
    ASSERT_EQ(fresh.write(0, sink, data.data(), data.size(), t0, &done), data.size());
    EXPECT_EQ(done, t0 + 2 * microframe);
    // A control request takes a whole microframe.
    EXPECT_EQ(fresh.control_done(t0 + 1us), t0 + 2 * microframe);

    // A full-speed chip: 19 packets of 64 bytes per 1 ms frame.
    sim::LinkSpeed full_speed;
    full_speed.high_speed = false;
    sim::UsbTiming slow(full_speed, 1);
    ASSERT_EQ(slow.write(0, sink, data.data(), 19 * 64, t0, &done), 19u * 64);
    EXPECT_EQ(done, t0 + 1ms);
    ASSERT_EQ(slow.write(0, sink, data.data(), 2 * 64, t0 + 1ms, &done), 2u * 64);
    EXPECT_EQ(done, t0 + 2ms);
    EXPECT_EQ(slow.write(0, sink, data.data(), 20 * 64, t0 + 2ms, &done), 20u * 64);
    EXPECT_EQ(done, t0 + 4ms);

    // The host heard of that completion 300 us late through no fault of the link: its next
    // transfer counts from when it would have come.
    fresh.note_late_completion(0, 300us);
    ASSERT_EQ(fresh.write(0, sink, data.data(), 512, t0 + 2 * microframe + 310us, &done), 512u);
    EXPECT_EQ(done, t0 + 3 * microframe);
}

// A timed cartridge end to end: commands sent while an answer is still owed wait in the
// chip's buffer and are carried out in order, and every byte comes back.
TEST(TimedChip, CommandsSentDuringAnAnswerWaitInTheChipAndKeepTheirOrder)
{
    // With its FIFO's rate, and with no FIFO limit.
    for (std::optional<double> fifo : {std::optional<double>{}, std::optional<double>{0.0}}) {
        SCOPED_TRACE(fifo ? "fifo=none" : "fifo at 40 MB/s");
        char folder[] = "/tmp/corvane-timed-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        const std::filesystem::path dir = folder;
        sim::ChipDescription corvane;
        corvane.usb_timing = true;
        corvane.fifo_mbps = fifo;
        std::string error;
        std::unique_ptr<sim::VirtualBus> bus = sim::VirtualBus::create({corvane}, dir, error);
        ASSERT_TRUE(bus) << error;
        std::unique_ptr<usb::Transport> transport = usb::make_inproc_transport(*bus);
        {
            auto channel = open_channel(*transport, "0");
            auto send = [&](const std::vector<uint8_t> &data) {
                size_t sent = 0;
                EXPECT_EQ(channel->bulk_out(data.data(), data.size(), 1000, &sent), usb::Status::ok);
                EXPECT_EQ(sent, data.size());
            };
            const std::vector<uint8_t> image = pattern(6000);
            send({0x10, 10, 0, 0, 0x0B, 0xB8, 0, 0, 0, 0}); // 3000 words at 0
            send(image);
            // Three reads of 2000 bytes, the later two announced before the first is read.
            send({0x20, 10, 0, 0, 0x03, 0xE8, 0, 0, 0x00, 0x00});
            send({0x20, 10, 0, 0, 0x03, 0xE8, 0, 0, 0x03, 0xE8});
            send({0x20, 10, 0, 0, 0x03, 0xE8, 0, 0, 0x07, 0xD0});
            std::vector<uint8_t> back, buffer(8 * 512);
            while (back.size() < image.size()) {
                size_t got = 0;
                ASSERT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 1000, &got), usb::Status::ok);
                for (size_t at = 0; at < got; at += 512)
                    back.insert(back.end(), buffer.begin() + at + 2, buffer.begin() + std::min(got, at + 512));
            }
            EXPECT_EQ(back, image);
        }
        transport.reset();
        bus.reset();
        std::filesystem::remove_all(dir);
    }
}

} // namespace
} // namespace corvane::testing
