// Writes: the caller's bytes go out by bulk OUT as they stand, without a copy.
//
// Time-outs: a write waits at most multiplier x size + constant milliseconds (request 71;
// its 8-byte form sets the constant) and then succeeds with what went. A total of 0 means
// no limit. Until the first request 71 the limit is 5 seconds.
#include "driver/errors.h"
#include "driver/channel_file.h"

#include <algorithm>

namespace corvane::driver {

std::optional<Clock::time_point> ChannelFile::write_deadline_locked(uint32_t size) const
{
    return deadline_after(static_cast<uint64_t>(timeouts_.write_multiplier) * size + timeouts_.write_constant);
}

uint32_t ChannelFile::write(const void *buffer, uint32_t size, uint32_t *done, const OverlappedCall *call)
{
    uint32_t ignored;
    if (!done)
        done = &ignored;
    *done = 0;
    if (size > 0 && !buffer)
        return ERROR_INVALID_PARAMETER;
    const auto *data = static_cast<const uint8_t *>(buffer);

    std::optional<Clock::time_point> deadline;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return ERROR_INVALID_HANDLE;
        if (vanished_)
            return ERROR_DEVICE_NOT_CONNECTED;
        deadline = write_deadline_locked(size);
    }
    if (size == 0)
        return ERROR_SUCCESS;

    std::lock_guard<std::mutex> link_lock(link_mutex_);
    if (!link_)
        return ERROR_INVALID_HANDLE;
    // Holding the link, the write's bytes go out before those of any write after it.
    mark_queued(call);
    size_t sent = 0;
    while (sent < size) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (closed_ || is_cancelled(call))
                return ERROR_OPERATION_ABORTED;
        }
        unsigned slice = write_slice_ms;
        if (deadline) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            if (left <= 0)
                break;
            slice = static_cast<unsigned>(std::min<int64_t>(left, write_slice_ms));
        }
        size_t moved = 0;
        usb::Status status = link_->bulk_out(data + sent, size - sent, slice, &moved);
        sent += moved;
        *done = static_cast<uint32_t>(sent);
        if (status == usb::Status::ok && moved == 0)
            break; // a transport that takes nothing and says so has nothing more to give
        if (status == usb::Status::ok || status == usb::Status::timeout)
            continue;
        if (status == usb::Status::no_device)
            mark_vanished();
        return win32_error(status);
    }
    if (sent == size)
        note_comm_sent();
    return ERROR_SUCCESS;
}

} // namespace corvane::driver
