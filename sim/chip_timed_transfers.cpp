// Bulk transfers of a chip under the USB timing model: the bytes move as UsbTiming lets
// them, and each transfer returns no earlier than the frame in which it completes, so a
// host's own clock sees the speed of the link.
#include "sim/chip_model.h"

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace corvane::sim {
namespace {

using Clock = LinkClock;

// The waits here stand for the link's own time: the thread asks to be woken when the
// deadline comes, not up to the default 50 us later.
void wake_on_time()
{
#ifdef __linux__
    static thread_local bool asked = false;
    if (!asked) {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        asked = true;
    }
#endif
}

} // namespace

void ChipModel::advance_timed(unsigned channel_number)
{
    Channel &channel = channels_[channel_number - 1];
    if (stalled_)
        return;
    bool sent = timing_->advance(channel_number - 1, *channel.peer, Clock::now(), channel.settings.latency_ms,
                                 modem_status_byte(channel), line_status_byte(channel),
                                 channel.modem_changed || channel.emptied);
    if (sent) {
        channel.modem_changed = false;
        channel.emptied = false;
    }
    // The peer may have taken bytes the chip held, or given room to a waiting write.
    changed_.notify_all();
}

usb::Status ChipModel::timed_bulk_in(std::unique_lock<std::mutex> &guard, ClientId client, unsigned channel_number,
                                     uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred)
{
    // No transfer completes before the end of a frame: one that may not wait gets nothing.
    if (timeout_ms == 0)
        return usb::Status::timeout;
    wake_on_time();
    const unsigned index = channel_number - 1;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    const uint64_t reads_ended = channels_[index].reads_ended;
    // The pipe serves one transfer at a time.
    while (timing_->attached(index)) {
        if (Clock::now() >= deadline || channels_[index].reads_ended != reads_ended)
            return usb::Status::timeout;
        changed_.wait_until(guard, deadline);
        if (!owns(client, channel_number))
            return usb::Status::no_device;
    }
    TimedRead read;
    read.buffer = buffer;
    read.size = size;
    read.start = Clock::now();
    timing_->attach(index, &read);
    struct Detach {
        UsbTiming &timing;
        unsigned index;
        ~Detach() { timing.attach(index, nullptr); }
    } detach{*timing_, index};
    for (;;) {
        Channel &channel = channels_[index];
        // An ended read takes nothing: what the chip sent it went with the purge.
        if (channel.reads_ended != reads_ended)
            return usb::Status::timeout;
        advance_timed(channel_number);
        if (read.done_at) {
            while (Clock::now() < *read.done_at)
                changed_.wait_until(guard, *read.done_at);
            *transferred = read.filled;
            return usb::Status::ok;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            *transferred = read.filled;
            return usb::Status::timeout;
        }
        Clock::time_point next = deadline;
        if (!stalled_)
            next = std::min(next, timing_->next_event(index, *channel.peer, now, channel.settings.latency_ms));
        changed_.wait_until(guard, next);
        if (!owns(client, channel_number))
            return usb::Status::no_device;
    }
}

// A call that may not wait (the simulator's first try, on the thread that reads the host's
// requests) still hands the bytes to the chip, so that the link starts on them at once, and
// reports a time-out with their count; the host's transfer completes in the call that
// follows it, which waits for the pipe. A transfer that completes within two frames, a
// command packet, is waited for here: handing it on would cost more than the wait.
usb::Status ChipModel::timed_bulk_out(std::unique_lock<std::mutex> &guard, ClientId client, unsigned channel_number,
                                      const uint8_t *data, size_t size, unsigned timeout_ms, size_t *transferred)
{
    wake_on_time();
    const unsigned index = channel_number - 1;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t done = 0;
    for (;;) {
        Channel &channel = channels_[index];
        if (!stalled_ && done < size) {
            // The chip's state as of now first: the peer may have finished an answer.
            advance_timed(channel_number);
            Clock::time_point until;
            size_t taken = timing_->write(index, *channel.peer, data + done, size - done, Clock::now(), &until);
            if (taken > 0) {
                latch_pins(channel, data + done, taken);
                done += taken;
                *transferred = done;
                changed_.notify_all();
            }
        }
        const bool whole = done == size;
        if (timeout_ms == 0 && !(whole && timing_->out_done(index) - Clock::now() <= 2 * timing_->frame()))
            return usb::Status::timeout;
        if (whole || Clock::now() >= deadline) {
            // The pipe's transfers complete in order: this one with the last it took.
            const Clock::time_point completes = timing_->out_done(index);
            while (Clock::now() < completes)
                changed_.wait_until(guard, completes);
            if (timing_->out_done(index) == completes)
                timing_->note_late_completion(index, Clock::now() - completes);
            return whole ? usb::Status::ok : usb::Status::timeout;
        }
        // The chip's buffer is full: it takes more once the peer has taken some.
        changed_.wait_until(guard, deadline);
        if (!owns(client, channel_number))
            return usb::Status::no_device;
    }
}

} // namespace corvane::sim
