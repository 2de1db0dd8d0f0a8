// A scripted USB channel for driver tests: the control transfers a test expects, in
// order, with their replies, and canned bulk IN transfers, in the manner of a recorded
// device conversation.
#ifndef CORVANE_TESTS_UNIT_DRIVER_SCRIPTED_CHANNEL_H
#define CORVANE_TESTS_UNIT_DRIVER_SCRIPTED_CHANNEL_H

#include "usb/transport.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace corvane::testing {

using Bytes = std::vector<uint8_t>;

// One bulk IN packet as the chip sends it: modem status, line status, then the data.
Bytes packet(uint8_t modem, uint8_t line, const Bytes &data = {});
Bytes join(const std::vector<Bytes> &parts);

// Shared by the test and the channel, so that it outlives the channel the driver owns.
class ChatScript {
public:
    void expect_control(uint8_t request_type, uint8_t request, uint16_t value, uint16_t index, Bytes reply = {},
                        usb::Status status = usb::Status::ok);
    // An IN request of `length` bytes that the device answers with fewer.
    void expect_short_reply(uint8_t request, uint16_t value, uint16_t index, uint16_t length, Bytes reply);
    void add_bulk_in(Bytes transfer, usb::Status status = usb::Status::ok);
    // A bulk IN the transport already has under way: the bulk_in that takes it waits,
    // past its time-out, until discard_in (it then hands the bytes out, as a transfer
    // the chip answered before a purge would) or stop_in; a watchdog fails the test if
    // neither comes.
    void add_bulk_in_in_flight(Bytes transfer);
    // Until a bulk_in holds an in-flight transfer.
    void wait_for_held_bulk_in();
    // Bulk OUT takes at most this many bytes more, then times out.
    void limit_bulk_out(size_t bytes);
    void set_bulk_out_status(usb::Status status);
    // Every later call answers Status::no_device.
    void unplug();

    bool controls_done() const;
    size_t bulk_in_left() const;
    Bytes written() const;
    unsigned resets() const;
    unsigned reenumerations() const;

    usb::Status control(const usb::ControlSetup &setup, uint8_t *data, uint16_t *transferred);
    usb::Status bulk_out(const uint8_t *data, size_t size, unsigned timeout_ms, size_t *transferred);
    usb::Status bulk_in(uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred);
    usb::Status reset_device();
    usb::Status reenumerate();
    // Drops every transfer no bulk_in holds yet: the transport's read-ahead.
    void discard_in();
    // Later bulk_in calls do not wait.
    void stop_in();

private:
    struct Control {
        usb::ControlSetup setup;
        Bytes reply;
        usb::Status status;
    };
    struct Transfer {
        Bytes bytes;
        usb::Status status;
        bool in_flight = false;
    };
    usb::Status hold_in_flight(std::unique_lock<std::mutex> &lock, uint8_t *buffer, size_t size, size_t *transferred);
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Control> controls_;
    std::deque<Transfer> transfers_;
    Bytes written_;
    size_t out_room_ = SIZE_MAX;
    usb::Status out_status_ = usb::Status::ok;
    bool unplugged_ = false;
    unsigned resets_ = 0;
    unsigned reenumerations_ = 0;
    unsigned discards_ = 0;
    bool stopped_ = false;
    bool held_ = false;
};

class ScriptedChannel : public usb::Channel {
public:
    explicit ScriptedChannel(std::shared_ptr<ChatScript> script) : script_(std::move(script)) {}
    usb::Status control(const usb::ControlSetup &setup, uint8_t *data, unsigned, uint16_t *transferred) override
    {
        return script_->control(setup, data, transferred);
    }
    usb::Status bulk_out(const uint8_t *data, size_t size, unsigned timeout_ms, size_t *transferred) override
    {
        return script_->bulk_out(data, size, timeout_ms, transferred);
    }
    usb::Status bulk_in(uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred) override
    {
        return script_->bulk_in(buffer, size, timeout_ms, transferred);
    }
    usb::Status reset_device() override { return script_->reset_device(); }
    usb::Status reenumerate() override { return script_->reenumerate(); }
    void discard_in() override { script_->discard_in(); }
    void stop_in() override { script_->stop_in(); }

private:
    std::shared_ptr<ChatScript> script_;
};

// A full-speed single-channel chip, as a transport would list it.
usb::DeviceIdentity single_channel_chip();
// A high-speed dual-channel chip whose product string is "Corvane USB device".
usb::DeviceIdentity dual_channel_chip();

} // namespace corvane::testing

#endif // CORVANE_TESTS_UNIT_DRIVER_SCRIPTED_CHANNEL_H
