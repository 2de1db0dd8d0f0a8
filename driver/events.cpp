// Events: the notification handle, the event status, and waits on the wait mask.
#include "driver/channel_file.h"

#include "ftdev.h"

#include <cstddef>

namespace corvane::driver {

namespace {

constexpr uint32_t known_events = FTDEV_EVENT_RX_CHAR | FTDEV_EVENT_MODEM_STATUS;

// The event-notification record: the device handle value, the event mask and the
// parameter (an event handle). Its two pointer-sized fields are 4 bytes each on 32-bit
// callers (12 bytes in all); on 64-bit ones the natural layout pads the mask to 8 bytes
// (24 in all), and a packed 20-byte form is taken as well.
struct NotificationRecord {
    uintptr_t device;
    uint32_t mask;
    uintptr_t parameter;
};
constexpr uint32_t packed_record_size = 2 * sizeof(uintptr_t) + sizeof(uint32_t);

uintptr_t load_pointer(const uint8_t *p)
{
    uintptr_t value = 0;
    for (size_t i = 0; i < sizeof value; ++i)
        value |= static_cast<uintptr_t>(p[i]) << (8 * i);
    return value;
}

} // namespace

uint32_t ChannelFile::set_event_notification(const RequestBuffers &buffers)
{
    uint32_t mask;
    uintptr_t parameter;
    if (buffers.in_size >= sizeof(NotificationRecord)) {
        mask = load_u32(buffers.in + offsetof(NotificationRecord, mask));
        parameter = load_pointer(buffers.in + offsetof(NotificationRecord, parameter));
    } else if (buffers.in_size >= packed_record_size) {
        mask = load_u32(buffers.in + sizeof(uintptr_t));
        parameter = load_pointer(buffers.in + sizeof(uintptr_t) + sizeof(uint32_t));
    } else {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    event_mask_ = mask & known_events;
    event_handle_ = reinterpret_cast<HANDLE>(parameter);
    event_status_ &= event_mask_;
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::get_event_status(RequestBuffers &buffers)
{
    if (buffers.out_size < 4)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    store_u32(buffers.out, event_status_);
    event_status_ = 0;
    buffers.returned = 4;
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::get_status(RequestBuffers &buffers)
{
    if (buffers.out_size < 12)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    store_u32(buffers.out, static_cast<uint32_t>(queue_.size()));
    store_u32(buffers.out + 4, 0); // writes are synchronous: nothing waits to go out
    store_u32(buffers.out + 8, event_status_);
    event_status_ = 0;
    buffers.returned = 12;
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::set_wait_mask(const RequestBuffers &buffers)
{
    if (buffers.in_size < 4)
        return ERROR_INVALID_PARAMETER;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wait_mask_ = load_u32(buffers.in) & known_events;
        wait_events_ = 0;
        ++wait_generation_;
    }
    // A wait in progress ends with no event when its mask is replaced.
    consumers_.notify_all();
    return ERROR_SUCCESS;
}

uint32_t ChannelFile::wait_on_mask(RequestBuffers &buffers)
{
    if (buffers.out_size < 4)
        return ERROR_INVALID_PARAMETER;
    std::unique_lock<std::mutex> lock(mutex_);
    if (wait_mask_ == 0)
        return ERROR_INVALID_PARAMETER; // nothing could ever end the wait
    uint64_t generation = wait_generation_;
    consumers_.wait(lock, [&] { return wait_events_ != 0 || closed_ || vanished_ || generation != wait_generation_; });
    if (closed_)
        return ERROR_OPERATION_ABORTED;
    uint32_t events = generation == wait_generation_ ? wait_events_ : 0;
    if (events == 0 && vanished_)
        return ERROR_DEVICE_NOT_CONNECTED;
    if (generation == wait_generation_)
        wait_events_ = 0;
    store_u32(buffers.out, events);
    buffers.returned = 4;
    return ERROR_SUCCESS;
}

HANDLE ChannelFile::raise_events_locked(uint32_t events)
{
    wait_events_ |= events & wait_mask_;
    uint32_t noticed = events & event_mask_;
    event_status_ |= noticed;
    return noticed ? event_handle_ : nullptr;
}

} // namespace corvane::driver
