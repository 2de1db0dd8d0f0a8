// Claiming and giving back a channel, control requests and port resets.
#include "usb/libusb/channel.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace corvane::usb {
namespace {

struct OpenChannels {
    std::mutex lock;
    std::set<LibusbChannel *> channels;
    std::once_flag exit_hook;
};

OpenChannels &open_channels()
{
    static OpenChannels *open = new OpenChannels; // still there while the process exits
    return *open;
}

} // namespace

// Runs at exit: another thread (a driver's reading task) may still be using a channel,
// so only the claim is given back; nothing is freed.
void give_back_open_channels()
{
    OpenChannels &open = open_channels();
    std::lock_guard<std::mutex> guard(open.lock);
    for (LibusbChannel *channel : open.channels)
        channel->give_back();
}

Status status_of(UsbResult result)
{
    switch (result) {
    case UsbResult::ok: return Status::ok;
    case UsbResult::timeout: return Status::timeout;
    case UsbResult::cancelled: return Status::timeout;
    case UsbResult::no_device: return Status::no_device;
    case UsbResult::not_found: return Status::no_device;
    case UsbResult::busy: return Status::busy;
    case UsbResult::stall: return Status::stall;
    case UsbResult::not_supported: return Status::not_supported;
    // Permissions have no status of their own; the README tells how to grant them.
    case UsbResult::access: return Status::io_error;
    case UsbResult::overflow: return Status::io_error;
    case UsbResult::io_error: return Status::io_error;
    }
    return Status::io_error;
}

Status LibusbChannel::open(std::unique_ptr<UsbHandle> handle, const ChannelEndpoints &endpoints,
                           std::shared_ptr<DeviceLife> life, std::unique_ptr<Channel> &out)
{
    if (endpoints.packet_size == 0)
        return Status::not_supported;
    const uint8_t interface = endpoints.interface;
    bool active = false;
    bool detached = false;
    UsbResult result = handle->kernel_driver_active(interface, active);
    if (result == UsbResult::ok && active) {
        result = handle->detach_kernel_driver(interface);
        if (result == UsbResult::ok)
            detached = true;
        else if (result != UsbResult::not_found) // not_found: it let go of the interface meanwhile
            return status_of(result);
    } else if (result != UsbResult::ok && result != UsbResult::not_supported && result != UsbResult::not_found) {
        return status_of(result);
    }

    result = handle->claim_interface(interface);
    if (result != UsbResult::ok) {
        if (detached)
            handle->attach_kernel_driver(interface);
        return status_of(result);
    }

    // From here the destructor gives the interface (and the serial driver) back.
    std::unique_ptr<LibusbChannel> channel(new LibusbChannel(std::move(handle), endpoints, std::move(life), detached));
    const size_t slot_size = channel->slot_size();
    channel->in_memory_ = std::make_unique<uint8_t[]>(slot_size * in_slot_count);
    for (size_t i = 0; i < in_slot_count; ++i) {
        InSlot &slot = channel->slots_[i];
        slot.transfer = channel->handle_->make_bulk_transfer(endpoints.in);
        slot.buffer = channel->in_memory_.get() + i * slot_size;
        if (!slot.transfer)
            return Status::io_error;
    }
    channel->in_length_ = slot_size;
    channel->out_transfer_ = channel->handle_->make_bulk_transfer(endpoints.out);
    if (!channel->out_transfer_)
        return Status::io_error;
    out = std::move(channel);
    return Status::ok;
}

LibusbChannel::LibusbChannel(std::unique_ptr<UsbHandle> handle, const ChannelEndpoints &endpoints,
                             std::shared_ptr<DeviceLife> life, bool detached)
    : handle_(std::move(handle)), endpoints_(endpoints), life_(std::move(life)), detached_(detached)
{
    OpenChannels &open = open_channels();
    std::call_once(open.exit_hook, [] { std::atexit(give_back_open_channels); });
    std::lock_guard<std::mutex> guard(open.lock);
    open.channels.insert(this);
}

LibusbChannel::~LibusbChannel()
{
    {
        OpenChannels &open = open_channels();
        std::lock_guard<std::mutex> guard(open.lock);
        open.channels.erase(this);
    }
    std::scoped_lock lock(in_mutex_, out_mutex_);
    cancel_reads();
    give_back();
    if (transfers_abandoned_)
        abandon_transfers();
}

void LibusbChannel::give_back()
{
    if (!claimed_.exchange(false))
        return;
    handle_->release_interface(endpoints_.interface);
    // Bound again even when the device looks gone: it costs nothing, and a device that
    // only looked gone gets its serial port back.
    if (detached_)
        handle_->attach_kernel_driver(endpoints_.interface);
}

Status LibusbChannel::fail(UsbResult result)
{
    if (result == UsbResult::no_device)
        mark_gone();
    return status_of(result);
}

Status LibusbChannel::control(const ControlSetup &setup, uint8_t *data, unsigned timeout_ms, uint16_t *transferred)
{
    uint16_t ignored;
    if (!transferred)
        transferred = &ignored;
    *transferred = 0;
    if (setup.length > 0 && !data)
        return Status::invalid;
    if (gone())
        return Status::no_device;
    size_t moved = 0;
    const UsbResult result = handle_->control(setup, data, timeout_ms, &moved);
    *transferred = static_cast<uint16_t>(std::min<size_t>(moved, setup.length));
    return fail(result);
}

Status LibusbChannel::reset_device()
{
    std::lock_guard<std::mutex> lock(in_mutex_);
    if (gone())
        return Status::no_device;
    // Whatever the chip sent before the reset belongs to the state the reset ends.
    drop_read_ahead();
    if (gone())
        return Status::no_device;
    const UsbResult result = handle_->reset_device();
    // not_found: the descriptors changed and the device enumerated anew under a new handle.
    if (result == UsbResult::not_found)
        mark_gone();
    return fail(result);
}

Status LibusbChannel::reenumerate()
{
    const Status status = reset_device();
    if (status != Status::ok && status != Status::no_device)
        return status;
    mark_gone();
    return Status::ok;
}

bool LibusbChannel::wait_for(UsbTransfer &transfer, std::optional<Clock::time_point> deadline)
{
    std::optional<Clock::time_point> give_up;
    while (!transfer.is_done()) {
        const Clock::time_point now = Clock::now();
        if (deadline && now >= *deadline && !give_up) {
            transfer.cancel();
            give_up = now + cancel_grace;
        }
        if (give_up && now >= *give_up)
            return false;
        const Clock::time_point until = give_up ? *give_up : deadline ? *deadline : now + std::chrono::seconds(1);
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        handle_->handle_events(static_cast<unsigned>(std::max<int64_t>(wait, 1)), &transfer);
    }
    return true;
}

void LibusbChannel::abandon_transfers()
{
    // The library may still write into these, so they are never freed; the process ends
    // long before this matters, and the device is treated as gone.
    for (InSlot &slot : slots_)
        (void)slot.transfer.release();
    (void)out_transfer_.release();
    (void)in_memory_.release();
    // Closing a handle under transfers still in flight is not allowed either.
    (void)handle_.release();
}

} // namespace corvane::usb
