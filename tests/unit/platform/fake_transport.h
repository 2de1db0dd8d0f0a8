// A scripted transport for the platform tests: devices to list, channels that record
// what is written and hand out queued packets, and switches for claims held elsewhere.
#ifndef CORVANE_TESTS_UNIT_PLATFORM_FAKE_TRANSPORT_H
#define CORVANE_TESTS_UNIT_PLATFORM_FAKE_TRANSPORT_H

#include "usb/transport.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace corvane::platform_test {

struct FakeBus {
    std::mutex lock;
    std::vector<usb::DeviceIdentity> devices;
    std::set<std::pair<std::string, unsigned>> held_elsewhere;
    bool listing_fails = false;
    std::vector<uint8_t> written;
    std::deque<std::vector<uint8_t>> packets_in;
    int channels_open = 0;
};

class FakeChannel final : public usb::Channel {
public:
    explicit FakeChannel(std::shared_ptr<FakeBus> bus) : bus_(std::move(bus)) {}
    ~FakeChannel() override {
        std::lock_guard<std::mutex> guard(bus_->lock);
        --bus_->channels_open;
    }

    usb::Status control(const usb::ControlSetup &setup, uint8_t *data, unsigned, uint16_t *transferred) override {
        if (setup.request_type & 0x80)
            std::memset(data, 0, setup.length);
        if (transferred)
            *transferred = setup.length;
        return usb::Status::ok;
    }

    usb::Status bulk_out(const uint8_t *data, size_t size, unsigned, size_t *transferred) override {
        std::lock_guard<std::mutex> guard(bus_->lock);
        bus_->written.insert(bus_->written.end(), data, data + size);
        *transferred = size;
        return usb::Status::ok;
    }

    usb::Status bulk_in(uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred) override {
        *transferred = 0;
        {
            std::lock_guard<std::mutex> guard(bus_->lock);
            if (!bus_->packets_in.empty()) {
                const std::vector<uint8_t> packet = std::move(bus_->packets_in.front());
                bus_->packets_in.pop_front();
                *transferred = std::min(size, packet.size());
                std::memcpy(buffer, packet.data(), *transferred);
                return usb::Status::ok;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeout_ms, 2u)));
        return usb::Status::timeout;
    }

    usb::Status reset_device() override { return usb::Status::ok; }
    usb::Status reenumerate() override { return usb::Status::not_supported; }

private:
    std::shared_ptr<FakeBus> bus_;
};

class FakeTransport final : public usb::Transport {
public:
    explicit FakeTransport(std::shared_ptr<FakeBus> bus) : bus_(std::move(bus)) {}

    std::string_view name() const override { return "fake"; }

    usb::Status list(std::vector<usb::DeviceIdentity> &devices) override {
        std::lock_guard<std::mutex> guard(bus_->lock);
        if (bus_->listing_fails)
            return usb::Status::io_error;
        devices = bus_->devices;
        return usb::Status::ok;
    }

    usb::Status open(const std::string &id, unsigned channel, std::unique_ptr<usb::Channel> &out) override {
        std::lock_guard<std::mutex> guard(bus_->lock);
        const bool listed = std::any_of(bus_->devices.begin(), bus_->devices.end(),
                                        [&](const usb::DeviceIdentity &device) { return device.id == id; });
        if (!listed)
            return usb::Status::no_device;
        if (bus_->held_elsewhere.contains({id, channel}))
            return usb::Status::busy;
        out = std::make_unique<FakeChannel>(bus_);
        ++bus_->channels_open;
        return usb::Status::ok;
    }

private:
    std::shared_ptr<FakeBus> bus_;
};

// A full-speed single-channel chip (FT232R kind) or a high-speed dual one (FT2232H kind).
inline usb::DeviceIdentity fake_device(std::string id, uint8_t channels, std::string serial) {
    usb::DeviceIdentity device;
    device.id = std::move(id);
    device.vendor_id = 0x0403;
    device.product_id = channels == 1 ? 0x6001 : 0x6010;
    device.bcd_device = channels == 1 ? 0x0600 : 0x0700;
    device.channels = channels;
    device.packet_size = channels == 1 ? 64 : 512;
    device.serial = std::move(serial);
    device.product = "Fake device";
    return device;
}

// Real USB and a running simulator stay out of the picture, also when the test program
// is started by hand.
inline void keep_to_the_test_bus() {
    setenv("CORVANE_USB", "off", 0);
    setenv("CORVANE_VBUS", "/nonexistent/corvane-vbus.sock", 0);
}

} // namespace corvane::platform_test

#endif // CORVANE_TESTS_UNIT_PLATFORM_FAKE_TRANSPORT_H
