#include "sim/usb_timing.h"

#include "sim/chip_kind.h"
#include "wire/ftdi_protocol.h"

#include <algorithm>
#include <cmath>

namespace corvane::sim {
namespace {

namespace ftdi = usb::ftdi;

constexpr int64_t high_speed_frame_ns = 125000; // a microframe
constexpr int64_t full_speed_frame_ns = 1000000;
constexpr unsigned high_speed_packets_per_frame = 13;
constexpr unsigned full_speed_packets_per_frame = 19;

// The Corvane runs its FIFO synchronously.
constexpr double corvane_fifo_bytes_per_second = 40e6;

struct Buffers {
    size_t out, in;
};

// The chips' own buffers per channel, host to peer and peer to host, as their data
// sheets give them.
Buffers buffers_of(ChipKind kind)
{
    switch (kind) {
    case ChipKind::corvane:
    case ChipKind::ft2232h: return {4096, 4096};
    case ChipKind::ft4232h: return {2048, 2048};
    case ChipKind::ft232h: return {1024, 1024};
    case ChipKind::ftx: return {512, 512};
    case ChipKind::ft232r: return {128, 256};
    case ChipKind::ft232b:
    case ChipKind::ft2232: return {128, 384};
    }
    return {4096, 4096};
}

} // namespace

LinkSpeed link_speed_of(const ChipDescription &chip)
{
    const ChipProfile &profile = profile_of(chip.kind);
    LinkSpeed speed;
    speed.high_speed = profile.identity->high_speed;
    Buffers buffers = buffers_of(chip.kind);
    speed.out_buffer = buffers.out;
    speed.in_buffer = buffers.in;
    if (chip.fifo_mbps)
        speed.fifo_bytes_per_second = *chip.fifo_mbps * 1e6;
    else if (chip.kind == ChipKind::corvane)
        speed.fifo_bytes_per_second = corvane_fifo_bytes_per_second;
    return speed;
}

UsbTiming::UsbTiming(const LinkSpeed &speed, unsigned channels)
    : speed_(speed), packet_(speed.high_speed ? 512 : 64), packet_data_(packet_ - ftdi::status_bytes),
      frame_(speed.high_speed ? high_speed_frame_ns : full_speed_frame_ns),
      packets_per_frame_(speed.high_speed ? high_speed_packets_per_frame : full_speed_packets_per_frame)
{
    // A buffer must hold a whole packet's data, or no full packet could ever go.
    speed_.in_buffer = std::max(speed_.in_buffer, packet_data_);
    speed_.out_buffer = std::max(speed_.out_buffer, packet_);
    for (unsigned k = 0; k < channels; ++k)
        channels_.emplace_back(speed_.out_buffer, speed_.in_buffer);
}

double UsbTiming::limit_out() const
{
    double link = double(packets_per_frame_) * double(packet_) * 1e9 / double(frame_);
    return speed_.fifo_bytes_per_second > 0 ? std::min(link, speed_.fifo_bytes_per_second) : link;
}

double UsbTiming::limit_in() const
{
    double link = double(packets_per_frame_) * double(packet_data_) * 1e9 / double(frame_);
    return speed_.fifo_bytes_per_second > 0 ? std::min(link, speed_.fifo_bytes_per_second) : link;
}

UsbTiming::Nanos UsbTiming::fifo_time(size_t bytes) const
{
    if (speed_.fifo_bytes_per_second <= 0)
        return 0;
    return static_cast<Nanos>(std::ceil(double(bytes) * 1e9 / speed_.fifo_bytes_per_second));
}

// The most bytes the FIFO moves in `span`: the inverse of fifo_time, so that the bytes a
// wait was computed for are there when it ends.
size_t UsbTiming::fifo_bytes(Nanos span) const
{
    if (speed_.fifo_bytes_per_second <= 0)
        return SIZE_MAX;
    if (span <= 0)
        return 0;
    auto bytes = static_cast<size_t>(std::floor(double(span) * speed_.fifo_bytes_per_second / 1e9));
    if (fifo_time(bytes + 1) <= span)
        ++bytes;
    return bytes;
}

UsbTiming::Nanos UsbTiming::frame_end(Nanos time) const
{
    return (time + frame_ - 1) / frame_ * frame_;
}

LinkTime UsbTiming::control_done(LinkTime now) const
{
    return time_of(frame_end(nanos(now) + frame_));
}

// The first packet slot that starts at `ready` or later and is not taken. Slots are laid
// evenly over each frame.
UsbTiming::Slot UsbTiming::next_slot(Nanos ready) const
{
    int64_t frame = ready / frame_;
    Nanos into = ready - frame * frame_;
    auto index = static_cast<unsigned>((into * packets_per_frame_ + frame_ - 1) / frame_);
    if (frame < bus_frame_) {
        frame = bus_frame_;
        index = bus_used_;
    } else if (frame == bus_frame_) {
        index = std::max(index, bus_used_);
    }
    if (index >= packets_per_frame_) {
        ++frame;
        index = 0;
    }
    Nanos base = frame * frame_;
    return {base + Nanos(index) * frame_ / packets_per_frame_, base + Nanos(index + 1) * frame_ / packets_per_frame_,
            frame, index};
}

void UsbTiming::use(const Slot &slot)
{
    bus_frame_ = slot.frame;
    bus_used_ = slot.index + 1;
}

size_t UsbTiming::write(unsigned channel_number, ChannelPeer &peer, const uint8_t *data, size_t size, LinkTime now,
                        LinkTime *done)
{
    Channel &channel = channels_[channel_number];
    const Nanos start = std::max(nanos(now) - channel.out_late, channel.out_done);
    channel.out_late = 0;
    // Bytes the chip still holds go first, in their order.
    if (channel.out.size() > 0)
        pass_out(channel, peer, start);
    const size_t pending_before = peer.pending();
    size_t taken = channel.out.size() == 0 && size > 0 ? peer.take(data, size) : 0;
    taken += channel.out.put(data + taken, size - taken);
    if (taken == 0) {
        *done = time_of(channel.out_done);
        return 0;
    }
    // The chip takes a packet once its buffer has room for it, and the FIFO empties that
    // buffer at its own rate.
    Nanos last_end = start;
    size_t at = 0;
    do {
        size_t length = std::min(packet_, taken - at);
        Nanos room_at = channel.fifo_out - fifo_time(speed_.out_buffer - length);
        Slot slot = next_slot(std::max(start, room_at));
        use(slot);
        channel.fifo_out = std::max(channel.fifo_out, slot.end) + fifo_time(length);
        last_end = slot.end;
        at += length;
    } while (at < taken);
    // A command the peer took answers only once it has crossed the FIFO.
    if (peer.pending() > pending_before)
        channel.ready_in = std::max(channel.ready_in, channel.fifo_out);
    channel.out_done = std::max(channel.out_done, frame_end(last_end));
    *done = time_of(channel.out_done);
    return taken;
}

void UsbTiming::note_late_completion(unsigned channel, LinkClock::duration late)
{
    channels_[channel].out_late = std::max<Nanos>(late.count(), 0);
}

// The peer takes what the chip holds for it, as far as it will, at `at`.
void UsbTiming::pass_out(Channel &channel, ChannelPeer &peer, Nanos at)
{
    const size_t pending_before = peer.pending();
    size_t moved = channel.out.drain_to(peer);
    if (moved > 0) {
        channel.fifo_out = std::max(channel.fifo_out, at) + fifo_time(moved);
        if (peer.pending() > pending_before)
            channel.ready_in = std::max(channel.ready_in, at + fifo_time(moved));
    }
}

// The FIFO moves the peer's bytes into the chip's buffer until `until`, as its rate and the
// buffer's room allow; time it stands still for want of room or bytes is not made up later.
void UsbTiming::produce(Channel &channel, ChannelPeer &peer, Nanos until)
{
    const bool instant = speed_.fifo_bytes_per_second <= 0;
    for (;;) {
        Nanos start = std::max(channel.fifo_in, channel.ready_in);
        // With no FIFO limit the bytes due at `start` are there at `start`.
        if (until < start || (until == start && !instant))
            return;
        size_t supply = peer.pending();
        if (supply == 0 && channel.out.size() > 0) {
            // The peer has answered in full and reads the command waiting in the chip.
            pass_out(channel, peer, start);
            supply = peer.pending();
            if (supply > 0)
                continue;
        }
        if (supply == 0) {
            channel.fifo_in = until;
            return;
        }
        size_t can = fifo_bytes(until - start);
        size_t count = std::min({channel.in.room(), supply, can});
        if (count > 0)
            count = channel.in.fill_from(peer, count);
        if (count == supply && count < can) {
            channel.fifo_in = start + fifo_time(count);
            continue;
        }
        channel.fifo_in = count == can ? start + fifo_time(count) : until;
        return;
    }
}

void UsbTiming::attach(unsigned channel, TimedRead *read)
{
    channels_[channel].read = read;
}

bool UsbTiming::advance(unsigned channel_number, ChannelPeer &peer, LinkTime now, unsigned latency_ms, uint8_t modem,
                        uint8_t line, bool due_now)
{
    Channel &channel = channels_[channel_number];
    const Nanos limit = nanos(now);
    const Nanos latency = Nanos(latency_ms) * 1000000;
    bool sent = false;
    for (;;) {
        TimedRead *read = channel.read;
        if (!read || read->done_at)
            break;
        const Nanos fed_from = std::max(channel.fifo_in, channel.ready_in);
        Nanos full_at = never;
        if (channel.in.size() >= packet_data_)
            full_at = channel.fifo_in;
        else if (peer.pending() >= packet_data_ - channel.in.size())
            full_at = fed_from + fifo_time(packet_data_ - channel.in.size());
        const Nanos timer_at = due_now ? nanos(read->start) : channel.last_packet + latency;
        // Running dry with a command waiting in the chip: the peer takes it then, and its
        // answer may fill a packet before the timer runs out.
        if (full_at == never && channel.out.size() > 0) {
            Nanos dry_at = fed_from + fifo_time(peer.pending());
            if (dry_at < timer_at) {
                if (dry_at > limit)
                    break;
                const size_t held = channel.in.size(), waiting = channel.out.size(), owed = peer.pending();
                produce(channel, peer, dry_at);
                if (channel.in.size() == held && channel.out.size() == waiting && peer.pending() == owed)
                    break; // the peer takes nothing now
                continue;
            }
        }
        const bool full = full_at <= timer_at;
        Slot slot = next_slot(std::max(full ? full_at : timer_at, nanos(read->start)));
        if (slot.start > limit)
            break;
        produce(channel, peer, slot.start);
        use(slot);
        size_t room = std::min(packet_, read->size - read->filled);
        uint8_t *packet = read->buffer + read->filled;
        packet[0] = modem;
        packet[1] = line;
        size_t data = channel.in.get(packet + ftdi::status_bytes, std::min(room - ftdi::status_bytes, packet_data_));
        read->filled += ftdi::status_bytes + data;
        channel.last_packet = slot.end;
        due_now = false;
        sent = true;
        // A short packet ends the transfer, as does a full buffer.
        if (ftdi::status_bytes + data < packet_ || read->size - read->filled < ftdi::status_bytes)
            read->done_at = time_of(frame_end(slot.end));
    }
    produce(channel, peer, limit);
    return sent;
}

LinkTime UsbTiming::next_event(unsigned channel_number, const ChannelPeer &peer, LinkTime now,
                               unsigned latency_ms) const
{
    const Channel &channel = channels_[channel_number];
    const TimedRead *read = channel.read;
    const Nanos at = nanos(now);
    if (!read || read->done_at)
        return LinkTime::max();
    const Nanos fed_from = std::max(channel.fifo_in, channel.ready_in);
    const size_t packets_left = (read->size - read->filled + packet_ - 1) / packet_;
    const size_t wanted = packets_left * packet_data_;
    const size_t held = channel.in.size();
    Nanos next;
    if (held + peer.pending() >= wanted) {
        // Enough bytes to fill the read: it ends when the FIFO or the link has carried them.
        Nanos fed = fed_from + fifo_time(wanted > held ? wanted - held : 0);
        next = std::max(fed, at + Nanos(packets_left) * frame_ / packets_per_frame_);
    } else {
        Nanos dry = fed_from + fifo_time(peer.pending());
        Nanos timer = channel.last_packet + Nanos(latency_ms) * 1000000;
        next = dry > at ? dry : timer > at ? timer : at + frame_ / packets_per_frame_;
    }
    return time_of(std::max(next, at + 1));
}

void UsbTiming::purge(unsigned channel)
{
    channels_[channel].in.clear();
    channels_[channel].out.clear();
}

} // namespace corvane::sim
