// Opening and closing a device file.
#include "driver/channel_file.h"

#include <new>
#include <system_error>

namespace corvane::driver {

namespace {

Family family_of(const usb::ftdi::ChipIdentity *chip)
{
    return chip ? chip->family : Family::unknown;
}

// A bulk endpoint never has fewer bytes than the two status bytes and one of data; a
// device that says otherwise gets the full-speed size rather than a division by zero.
size_t usable_packet_size(uint16_t reported)
{
    return reported > usb::ftdi::status_bytes ? reported : 64;
}

} // namespace

std::unique_ptr<DeviceFile> DeviceFile::open(std::unique_ptr<usb::Channel> link, const usb::DeviceIdentity &identity,
                                             unsigned channel, SignalEvent signal_event)
{
    if (!link || channel < 1 || channel > identity.channels || !signal_event)
        return nullptr;
    std::unique_ptr<ChannelFile> file(new (std::nothrow) ChannelFile(std::move(link), identity, channel, signal_event));
    if (!file || !file->start())
        return nullptr;
    return file;
}

ChannelFile::ChannelFile(std::unique_ptr<usb::Channel> link, const usb::DeviceIdentity &identity, unsigned channel,
                         SignalEvent signal_event)
    : link_(std::move(link)), signal_event_(signal_event), identity_(identity), channel_(channel),
      chip_(usb::ftdi::find_chip(identity.bcd_device)), family_(family_of(chip_)),
      packet_size_(usable_packet_size(identity.packet_size))
{}

bool ChannelFile::start()
{
    size_t packets = largest_in_transfer / packet_size_;
    transfer_buffer_size_ = (packets ? packets : 1) * packet_size_;
    transfer_buffer_.reset(new (std::nothrow) uint8_t[transfer_buffer_size_]);
    if (!transfer_buffer_ || !queue_.allocate(receive_queue_capacity))
        return false;
    try {
        reader_ = std::thread([this] { run_reading_task(); });
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

ChannelFile::~ChannelFile()
{
    close();
}

void ChannelFile::close()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return;
        closed_ = true;
    }
    consumers_.notify_all();
    task_.notify_all();
    // The task's bulk IN ends now rather than at its time-out. link_ stays until the
    // task is joined, and only this close (once) ever takes it.
    if (link_)
        link_->stop_in();
    if (reader_.joinable())
        reader_.join();
    // A write or control request of another thread finishes before the channel goes.
    std::lock_guard<std::mutex> link_lock(link_mutex_);
    link_.reset();
}

} // namespace corvane::driver
