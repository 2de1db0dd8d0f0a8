#include "unit/driver/scripted_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace corvane::testing {

// The vector gets its full size first: GCC 12's optimiser takes an insert behind a
// two-element initialiser list for a copy past its end (a false -Warray-bounds).
Bytes packet(uint8_t modem, uint8_t line, const Bytes &data)
{
    Bytes bytes(2 + data.size());
    bytes[0] = modem;
    bytes[1] = line;
    std::copy(data.begin(), data.end(), bytes.begin() + 2);
    return bytes;
}

Bytes join(const std::vector<Bytes> &parts)
{
    Bytes bytes;
    for (const Bytes &part : parts)
        bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

void ChatScript::expect_control(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index, Bytes reply,
                                usb::Status status)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto length = static_cast<uint16_t>(reply.size());
    controls_.push_back({{request_type, request, value, index, length}, std::move(reply), status});
}

void ChatScript::expect_short_reply(uint8_t request, uint16_t value, uint16_t index, uint16_t length, Bytes reply)
{
    std::lock_guard<std::mutex> lock(mutex_);
    controls_.push_back({{0xC0, request, value, index, length}, std::move(reply), usb::Status::ok});
}

void ChatScript::add_bulk_in(Bytes transfer, usb::Status status)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        transfers_.push_back({std::move(transfer), status});
    }
    changed_.notify_all();
}

void ChatScript::add_bulk_in_in_flight(Bytes transfer)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        transfers_.push_back({std::move(transfer), usb::Status::ok, true});
    }
    changed_.notify_all();
}

void ChatScript::wait_for_held_bulk_in()
{
    std::unique_lock<std::mutex> lock(mutex_);
    ASSERT_TRUE(changed_.wait_for(lock, std::chrono::seconds(10), [this] { return held_; }))
        << "no bulk_in took the in-flight transfer";
}

void ChatScript::limit_bulk_out(size_t bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    out_room_ = bytes;
}

void ChatScript::set_bulk_out_status(usb::Status status)
{
    std::lock_guard<std::mutex> lock(mutex_);
    out_status_ = status;
}

void ChatScript::unplug()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unplugged_ = true;
    }
    changed_.notify_all();
}

bool ChatScript::controls_done() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return controls_.empty();
}

size_t ChatScript::bulk_in_left() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return transfers_.size();
}

Bytes ChatScript::written() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

unsigned ChatScript::resets() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return resets_;
}

unsigned ChatScript::reenumerations() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reenumerations_;
}

usb::Status ChatScript::control(const usb::ControlSetup &setup, uint8_t *data, uint16_t *transferred)
{
    std::lock_guard<std::mutex> lock(mutex_);
    *transferred = 0;
    if (unplugged_)
        return usb::Status::no_device;
    if (controls_.empty()) {
        ADD_FAILURE() << "unexpected control request 0x" << std::hex << int(setup.request) << " value 0x" << setup.value
                      << " index 0x" << setup.index;
        return usb::Status::stall;
    }
    Control expected = controls_.front();
    controls_.pop_front();
    EXPECT_EQ(expected.setup.request_type, setup.request_type);
    EXPECT_EQ(expected.setup.request, setup.request);
    EXPECT_EQ(expected.setup.value, setup.value) << "request 0x" << std::hex << int(setup.request);
    EXPECT_EQ(expected.setup.index, setup.index) << "request 0x" << std::hex << int(setup.request);
    EXPECT_EQ(expected.setup.length, setup.length);
    if (expected.status != usb::Status::ok)
        return expected.status;
    size_t n = std::min<size_t>(expected.reply.size(), setup.length);
    if (n > 0)
        std::memcpy(data, expected.reply.data(), n);
    *transferred = static_cast<uint16_t>(n);
    return usb::Status::ok;
}

usb::Status ChatScript::bulk_out(const uint8_t *data, size_t size, unsigned timeout_ms, size_t *transferred)
{
    std::unique_lock<std::mutex> lock(mutex_);
    *transferred = 0;
    if (unplugged_)
        return usb::Status::no_device;
    if (out_status_ != usb::Status::ok)
        return out_status_;
    size_t n = std::min(size, out_room_);
    written_.insert(written_.end(), data, data + n);
    out_room_ -= n;
    *transferred = n;
    if (n == size)
        return usb::Status::ok;
    // A full device takes nothing more until the time-out.
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return unplugged_; });
    return unplugged_ ? usb::Status::no_device : usb::Status::timeout;
}

usb::Status ChatScript::bulk_in(uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred)
{
    std::unique_lock<std::mutex> lock(mutex_);
    *transferred = 0;
    if (stopped_)
        timeout_ms = 0;
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [this] { return unplugged_ || !transfers_.empty(); });
    if (unplugged_)
        return usb::Status::no_device;
    if (transfers_.empty())
        return usb::Status::timeout;
    if (transfers_.front().in_flight)
        return hold_in_flight(lock, buffer, size, transferred);
    Transfer transfer = std::move(transfers_.front());
    transfers_.pop_front();
    EXPECT_LE(transfer.bytes.size(), size) << "canned transfer larger than the driver asked for";
    size_t n = std::min(size, transfer.bytes.size());
    if (n > 0)
        std::memcpy(buffer, transfer.bytes.data(), n);
    *transferred = n;
    return transfer.status;
}

usb::Status ChatScript::hold_in_flight(std::unique_lock<std::mutex> &lock, uint8_t *buffer, size_t size,
                                       size_t *transferred)
{
    Transfer transfer = std::move(transfers_.front());
    transfers_.pop_front();
    const unsigned discards = discards_;
    held_ = true;
    changed_.notify_all();
    const bool released = changed_.wait_for(lock, std::chrono::seconds(10),
                                            [&] { return discards_ != discards || stopped_ || unplugged_; });
    held_ = false;
    if (!released) {
        ADD_FAILURE() << "a bulk IN under way saw neither discard_in nor stop_in";
        return usb::Status::timeout;
    }
    if (unplugged_)
        return usb::Status::no_device;
    size_t n = std::min(size, transfer.bytes.size());
    if (n > 0)
        std::memcpy(buffer, transfer.bytes.data(), n);
    *transferred = n;
    return n > 0 ? usb::Status::ok : usb::Status::timeout;
}

void ChatScript::discard_in()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++discards_;
        transfers_.clear();
    }
    changed_.notify_all();
}

void ChatScript::stop_in()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

usb::Status ChatScript::reset_device()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (unplugged_)
        return usb::Status::no_device;
    ++resets_;
    return usb::Status::ok;
}

usb::Status ChatScript::reenumerate()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (unplugged_)
            return usb::Status::no_device;
        ++reenumerations_;
        unplugged_ = true;
    }
    changed_.notify_all();
    return usb::Status::ok;
}

// The strings are constructed, not assigned: GCC 12's optimiser takes assigning a literal
// to a std::string for an overlapping copy (a false -Wrestrict).
usb::DeviceIdentity single_channel_chip()
{
    return usb::DeviceIdentity{.id = "1",
                               .vendor_id = 0x0403,
                               .product_id = 0x6001,
                               .bcd_device = 0x0600,
                               .manufacturer = "Corvane",
                               .product = "Corvane serial",
                               .serial = "CV000001",
                               .channels = 1,
                               .packet_size = 64,
                               .location = 0x1230};
}

usb::DeviceIdentity dual_channel_chip()
{
    return usb::DeviceIdentity{.id = "1",
                               .vendor_id = 0x0403,
                               .product_id = 0x6010,
                               .bcd_device = 0x0700,
                               .manufacturer = "Corvane",
                               .product = "Corvane USB device",
                               .serial = "CV000002",
                               .channels = 2,
                               .packet_size = 512,
                               .location = 0x2210};
}

} // namespace corvane::testing
