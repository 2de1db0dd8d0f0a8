// Reads: the caller takes bytes from the receive queue that the reading task fills.
//
// Time-outs (request 71; its 8-byte form sets the read constant alone):
// - total: a read waits at most multiplier x size + constant milliseconds and then
//   succeeds with what came; a total of 0 means no limit: the read waits until all its
//   bytes came, the device vanished or the file closed. Until the first request 71 the
//   limit is 5 seconds.
// - interval: once the first bytes came, a gap of more than the interval without new
//   ones ends the read with what came; 0 means no interval limit.
// - an interval of 0xFFFFFFFF with a total of 0 returns at once with what is queued;
//   with a multiplier of 0xFFFFFFFF too and a constant between, the read returns as soon
//   as any bytes are there, waiting at most the constant for the first.
#include "driver/channel_file.h"

namespace corvane::driver {

namespace {
constexpr uint32_t all_ones = 0xFFFFFFFFu;
}

ReadLimits ChannelFile::read_limits_locked(uint32_t size) const
{
    const Timeouts &t = timeouts_;
    ReadLimits limits;
    if (t.read_interval == all_ones && t.read_multiplier == all_ones && t.read_constant > 0 &&
        t.read_constant < all_ones) {
        limits.first_bytes_end = true;
        limits.deadline = deadline_after(t.read_constant);
        return limits;
    }
    uint64_t total = static_cast<uint64_t>(t.read_multiplier) * size + t.read_constant;
    limits.immediate = total == 0 && t.read_interval == all_ones;
    limits.deadline = deadline_after(total);
    if (t.read_interval != 0 && t.read_interval != all_ones)
        limits.interval = std::chrono::milliseconds(t.read_interval);
    return limits;
}

uint32_t ChannelFile::read(void *buffer, uint32_t size, uint32_t *done, const OverlappedCall *call)
{
    uint32_t ignored;
    if (!done)
        done = &ignored;
    *done = 0;
    if (size > 0 && !buffer)
        return ERROR_INVALID_PARAMETER;
    auto *out = static_cast<uint8_t *>(buffer);

    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_)
        return ERROR_INVALID_HANDLE;
    // From here on the lock is held until the read waits: a later read or purge comes after.
    mark_queued(call);
    const ReadLimits limits = read_limits_locked(size);
    uint32_t copied = 0;
    Clock::time_point last_arrival{};
    for (;;) {
        // The bytes move out as they come, so a read may ask for more than the queue holds.
        size_t moved = queue_.pop(out + copied, size - copied);
        if (moved > 0) {
            copied += static_cast<uint32_t>(moved);
            last_arrival = Clock::now();
            task_.notify_all();
        }
        *done = copied;
        if (copied == size || limits.immediate || (limits.first_bytes_end && copied > 0))
            return ERROR_SUCCESS;
        if (closed_ || is_cancelled(call))
            return ERROR_OPERATION_ABORTED;
        // A device that is gone still hands over what it sent before it went.
        if (vanished_ || task_error_ != 0)
            return copied > 0 ? ERROR_SUCCESS : (vanished_ ? ERROR_DEVICE_NOT_CONNECTED : task_error_);
        std::optional<Clock::time_point> until = limits.deadline;
        if (limits.interval && copied > 0) {
            Clock::time_point gap_end = last_arrival + *limits.interval;
            if (!until || gap_end < *until)
                until = gap_end;
        }
        // A read that only ends full or at its deadline needs no wake-up before its bytes
        // are all queued; one that ends on a gap or on the first bytes needs every one.
        ++readers_waiting_;
        reader_wants_ = limits.interval || limits.first_bytes_end ? 0 : size - copied;
        // The queue is empty here (it would have filled the read otherwise), so a lone
        // read may take the next bytes straight from the reading task.
        LentBuffer lent{out, size, copied};
        if (readers_waiting_ == 1 && !lent_)
            lent_ = &lent;
        bool timed_out = false;
        if (!until)
            consumers_.wait(lock);
        else
            timed_out = consumers_.wait_until(lock, *until) == std::cv_status::timeout;
        --readers_waiting_;
        if (lent_ == &lent)
            lent_ = nullptr;
        if (lent.filled > copied) {
            *done = copied = lent.filled;
            last_arrival = Clock::now();
        }
        if (timed_out) {
            *done = copied += static_cast<uint32_t>(queue_.pop(out + copied, size - copied));
            return ERROR_SUCCESS;
        }
    }
}

} // namespace corvane::driver
