// USB 2.0 timing of one virtual chip: when its bulk packets may cross the link, how fast
// its FIFO feeds them, and when a transfer or a control request completes.
//
// The model keeps no clock of its own: every call names the time it stands for, so the
// chip model passes the wall clock and tests pass times of their own. Bytes move between
// the channel's peer and the chip's two bounded buffers, and from there into the host's
// read, as the rules below allow up to that time:
// - bulk packets of all channels and both directions share the link: at most 13 packets
//   of 512 bytes per 125 us microframe (high speed), 19 of 64 per 1 ms frame (full speed);
// - the FIFO between the chip and its peer moves at most its rate (none: no limit);
// - an IN packet goes as soon as the chip holds a full packet's data (510 or 62 bytes);
//   a shorter one, possibly the status bytes alone, only when the latency timer, counted
//   from the last packet sent, has run out;
// - a transfer completes at the frame boundary after its last packet; a control request
//   takes at least one frame.
#ifndef CORVANE_SIM_USB_TIMING_H
#define CORVANE_SIM_USB_TIMING_H

#include "sim/byte_ring.h"
#include "sim/channel_peer.h"
#include "sim/virtual_bus.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvane::sim {

using LinkClock = std::chrono::steady_clock;
using LinkTime = LinkClock::time_point;

struct LinkSpeed {
    bool high_speed = true;
    double fifo_bytes_per_second = 0; // 0: the FIFO sets no limit
    size_t out_buffer = 4096;         // the chip's buffer per channel, host to peer
    size_t in_buffer = 4096;          // and peer to host
};

// The speed of a chip kind, with the FIFO rate of its description when it gives one.
LinkSpeed link_speed_of(const ChipDescription &chip);

// A bulk IN transfer the host has waiting on a channel.
struct TimedRead {
    uint8_t *buffer = nullptr;
    size_t size = 0;
    LinkTime start;
    size_t filled = 0;               // packets so far, status bytes included
    std::optional<LinkTime> done_at; // set once the transfer is complete
};

class UsbTiming {
public:
    UsbTiming(const LinkSpeed &speed, unsigned channels);

    size_t packet_size() const { return packet_; }
    LinkClock::duration frame() const { return LinkClock::duration(frame_); }
    // Data bytes per second each direction can reach: the frame rate of packets (510 or
    // 62 data bytes in an IN packet) or the FIFO, whichever is slower.
    double limit_out() const;
    double limit_in() const;

    // When a control request made at `now` completes.
    LinkTime control_done(LinkTime now) const;

    // A bulk OUT transfer made at `now` hands over `size` bytes: they go to the peer while
    // it takes them, then into the chip's buffer. Returns how many the chip took; `done`
    // becomes the frame boundary after the last of them crossed the link.
    size_t write(unsigned channel, ChannelPeer &peer, const uint8_t *data, size_t size, LinkTime now, LinkTime *done);
    // When the last transfer the channel's OUT pipe took completes.
    LinkTime out_done(unsigned channel) const { return time_of(channels_[channel].out_done); }
    // The host heard of that completion `late` after it: the simulator's own thread woke
    // late. The pipe's next transfer counts from when the host would have sent it had it
    // heard on time, so that the simulator's delays do not slow the modeled link.
    void note_late_completion(unsigned channel, LinkClock::duration late);

    // The host's read on the channel; nullptr takes it away. At most one at a time.
    void attach(unsigned channel, TimedRead *read);
    TimedRead *attached(unsigned channel) const { return channels_[channel].read; }

    // Moves the channel's bytes as far as `now`: the FIFO fills the chip's buffer and the
    // link carries packets into the attached read. `modem` and `line` are the status bytes;
    // `due_now` makes a packet due at once (lines changed, buffers emptied). True when a
    // packet was sent.
    bool advance(unsigned channel, ChannelPeer &peer, LinkTime now, unsigned latency_ms, uint8_t modem, uint8_t line,
                 bool due_now);

    // When advance might next send a packet or end the read, with no new bytes coming.
    LinkTime next_event(unsigned channel, const ChannelPeer &peer, LinkTime now, unsigned latency_ms) const;

    // Reset or purge: the chip's buffers of the channel are emptied.
    void purge(unsigned channel);

    size_t held_in(unsigned channel) const { return channels_[channel].in.size(); }
    size_t held_out(unsigned channel) const { return channels_[channel].out.size(); }

private:
    using Nanos = int64_t;
    static constexpr Nanos never = INT64_MAX;

    struct Channel {
        ByteRing in, out;
        Nanos fifo_in = 0;     // the FIFO's work towards the host is accounted up to here
        Nanos ready_in = 0;    // the peer's newest bytes for the host exist from here on
        Nanos fifo_out = 0;    // the FIFO has passed every byte the host sent by here
        Nanos last_packet = 0; // end of the last IN packet, where the latency timer starts
        Nanos out_done = 0;    // the last OUT transfer completes here
        Nanos out_late = 0;    // and the host heard of it this much later
        TimedRead *read = nullptr;
        Channel(size_t out_size, size_t in_size) : in(in_size), out(out_size) {}
    };
    struct Slot {
        Nanos start, end;
        int64_t frame;
        unsigned index;
    };

    static Nanos nanos(LinkTime time) { return time.time_since_epoch().count(); }
    static LinkTime time_of(Nanos value) { return LinkTime(LinkClock::duration(value)); }
    Nanos fifo_time(size_t bytes) const;
    size_t fifo_bytes(Nanos span) const;
    Nanos frame_end(Nanos time) const;
    Slot next_slot(Nanos ready) const;
    void use(const Slot &slot);
    void produce(Channel &channel, ChannelPeer &peer, Nanos until);
    void pass_out(Channel &channel, ChannelPeer &peer, Nanos at);

    LinkSpeed speed_;
    size_t packet_;
    size_t packet_data_;
    Nanos frame_;
    unsigned packets_per_frame_;
    std::vector<Channel> channels_;
    int64_t bus_frame_ = 0; // the last frame with a packet, and its slots used
    unsigned bus_used_ = 0;
};

} // namespace corvane::sim

#endif // CORVANE_SIM_USB_TIMING_H
