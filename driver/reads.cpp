// Reads: the caller takes bytes from the receive queue that the reading task fills.
//
// Time-outs: a read waits at most multiplier x size + constant milliseconds (request 71;
// its 8-byte form sets the constant, multiplier 0) and then succeeds with what came. A
// total of 0 means no limit: the read waits until all its bytes came, the device vanished
// or the file closed; except that an interval of 0xFFFFFFFF with a total of 0 returns at
// once with what is queued. Until the first request 71 the limit is 5 seconds.
#include "driver/handle.h"


namespace corvane::driver {

std::optional<Clock::time_point> ChannelFile::read_deadline_locked(uint32_t size, bool &immediate) const {
    uint64_t total = static_cast<uint64_t>(timeouts_.read_multiplier) * size + timeouts_.read_constant;
    immediate = total == 0 && timeouts_.read_interval == 0xFFFFFFFFu;
    return deadline_after(total);
}

uint32_t ChannelFile::read(void *buffer, uint32_t size, uint32_t *done) {
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
    bool immediate = false;
    std::optional<Clock::time_point> deadline = read_deadline_locked(size, immediate);
    uint32_t copied = 0;
    for (;;) {
        // The bytes move out as they come, so a read may ask for more than the queue holds.
        size_t moved = queue_.pop(out + copied, size - copied);
        if (moved > 0) {
            copied += static_cast<uint32_t>(moved);
            task_.notify_all();
        }
        *done = copied;
        if (copied == size || immediate)
            return ERROR_SUCCESS;
        if (closed_)
            return ERROR_OPERATION_ABORTED;
        // A device that is gone still hands over what it sent before it went.
        if (vanished_ || task_error_ != 0)
            return copied > 0 ? ERROR_SUCCESS : (vanished_ ? ERROR_DEVICE_NOT_CONNECTED : task_error_);
        if (!deadline) {
            consumers_.wait(lock);
        } else if (consumers_.wait_until(lock, *deadline) == std::cv_status::timeout) {
            *done = copied += static_cast<uint32_t>(queue_.pop(out + copied, size - copied));
            return ERROR_SUCCESS;
        }
    }
}

} // namespace corvane::driver
