// A small VirtualBus for the socket tests: two loopback devices whose every channel keeps
// the bytes written to it for its reader, with claims and fault switches as the bus
// interface describes them. The socket layer is under test here, not the chip models.
#ifndef CORVANE_TESTS_UNIT_VBUS_FAKE_BUS_H
#define CORVANE_TESTS_UNIT_VBUS_FAKE_BUS_H

#include "sim/virtual_bus.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <tuple>

namespace corvane::testing {

class FakeBus final : public sim::VirtualBus {
public:
    FakeBus()
    {
        for (int i = 0; i < 2; ++i) {
            usb::DeviceIdentity device;
            device.id = std::to_string(i);
            device.vendor_id = 0x0403;
            device.product_id = i == 0 ? 0x6010 : 0x6001;
            device.bcd_device = i == 0 ? 0x0700 : 0x0600;
            device.manufacturer = "Corvane";
            device.product = i == 0 ? "Corvane USB device" : "Loopback";
            device.serial = "CV" + std::to_string(1000 + i);
            device.channels = i == 0 ? 2 : 1;
            device.packet_size = i == 0 ? 512 : 64;
            device.location = 0x1210 + 0x10 * static_cast<uint32_t>(i);
            device.virtual_model = true;
            device.alternate_codes_only = i == 1;
            devices_.push_back(device);
        }
    }

    ClientId add_client() override
    {
        std::lock_guard<std::mutex> guard(lock_);
        clients_.insert(next_client_);
        return next_client_++;
    }
    void remove_client(ClientId client) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        clients_.erase(client);
        std::erase_if(claims_, [&](const auto &claim) { return claim.second == client; });
        changed_.notify_all();
    }
    std::vector<usb::DeviceIdentity> list() override
    {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<usb::DeviceIdentity> shown;
        for (const auto &device : devices_)
            if (!unplugged_.count(device.id))
                shown.push_back(device);
        return shown;
    }
    usb::Status claim(ClientId client, const std::string &id, unsigned channel) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!present(id))
            return usb::Status::no_device;
        auto [it, added] = claims_.emplace(std::make_pair(id, channel), client);
        return added || it->second == client ? usb::Status::ok : usb::Status::busy;
    }
    void release(ClientId client, const std::string &id, unsigned channel) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = claims_.find({id, channel});
        if (it != claims_.end() && it->second == client)
            claims_.erase(it);
    }
    usb::Status control(ClientId client, const std::string &id, unsigned channel, const usb::ControlSetup &setup,
                        uint8_t *data, unsigned, uint16_t *transferred) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        *transferred = 0;
        if (!holds(client, id, channel))
            return usb::Status::no_device;
        if (setup.request_type & 0x80) {
            // Answers with the request number and value, so a test sees its request arrive.
            for (uint16_t i = 0; i < setup.length; ++i)
                data[i] = static_cast<uint8_t>(setup.request + setup.value + i);
        } else {
            last_out_.assign(data, data + setup.length);
        }
        last_setup_ = setup;
        *transferred = setup.length;
        return usb::Status::ok;
    }
    usb::Status bulk_out(ClientId client, const std::string &id, unsigned channel, const uint8_t *data, size_t size,
                         unsigned, size_t *transferred) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        *transferred = 0;
        if (!holds(client, id, channel))
            return usb::Status::no_device;
        if (stalled_.count(id))
            return usb::Status::timeout;
        fifo_[{id, channel}].insert(fifo_[{id, channel}].end(), data, data + size);
        *transferred = size;
        changed_.notify_all();
        return usb::Status::ok;
    }
    usb::Status bulk_in(ClientId client, const std::string &id, unsigned channel, uint8_t *buffer, size_t size,
                        unsigned timeout_ms, size_t *transferred) override
    {
        std::unique_lock<std::mutex> guard(lock_);
        *transferred = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        auto &fifo = fifo_[{id, channel}];
        const uint64_t ended = reads_ended_[{id, channel}];
        for (;;) {
            if (!holds(client, id, channel))
                return usb::Status::no_device;
            if (reads_ended_[{id, channel}] != ended)
                return usb::Status::timeout;
            if (!fifo.empty() && !stalled_.count(id))
                break;
            if (changed_.wait_until(guard, deadline) == std::cv_status::timeout)
                return usb::Status::timeout;
        }
        size_t count = std::min(size, fifo.size());
        std::copy_n(fifo.begin(), count, buffer);
        fifo.erase(fifo.begin(), fifo.begin() + static_cast<std::ptrdiff_t>(count));
        *transferred = count;
        return usb::Status::ok;
    }
    void end_waiting_in(ClientId client, const std::string &id, unsigned channel) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (holds(client, id, channel))
            ++reads_ended_[{id, channel}];
        changed_.notify_all();
    }
    usb::Status reset_device(ClientId client, const std::string &id) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        return present(id) ? usb::Status::ok : usb::Status::no_device;
    }
    usb::Status reenumerate(ClientId client, const std::string &id) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!present(id))
            return usb::Status::no_device;
        std::erase_if(claims_, [&](const auto &claim) { return claim.first.first == id; });
        changed_.notify_all();
        return usb::Status::ok;
    }
    usb::Status set_plugged(const std::string &id, bool plugged) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!known(id))
            return usb::Status::no_device;
        if (plugged) {
            unplugged_.erase(id);
        } else {
            unplugged_.insert(id);
            std::erase_if(claims_, [&](const auto &claim) { return claim.first.first == id; });
        }
        changed_.notify_all();
        return usb::Status::ok;
    }
    usb::Status set_stalled(const std::string &id, bool stalled) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!known(id))
            return usb::Status::no_device;
        stalled ? (void)stalled_.insert(id) : (void)stalled_.erase(id);
        changed_.notify_all();
        return usb::Status::ok;
    }

    usb::Status cut_next_transfer(const std::string &id, size_t bytes) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!known(id))
            return usb::Status::no_device;
        cuts_[id] = bytes;
        return usb::Status::ok;
    }

    size_t client_count()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return clients_.size();
    }
    std::vector<uint8_t> last_out()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return last_out_;
    }
    usb::ControlSetup last_setup()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return last_setup_;
    }
    std::optional<size_t> cut(const std::string &id)
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = cuts_.find(id);
        return it == cuts_.end() ? std::nullopt : std::optional<size_t>(it->second);
    }
    // Bytes the device sends of its own accord, with no write of this client behind them.
    void feed(const std::string &id, unsigned channel, const std::vector<uint8_t> &bytes)
    {
        std::lock_guard<std::mutex> guard(lock_);
        fifo_[{id, channel}].insert(fifo_[{id, channel}].end(), bytes.begin(), bytes.end());
        changed_.notify_all();
    }
    // Bytes written to the channel that no read has taken yet.
    size_t unread(const std::string &id, unsigned channel)
    {
        std::lock_guard<std::mutex> guard(lock_);
        return fifo_[{id, channel}].size();
    }
    bool stalled(const std::string &id)
    {
        std::lock_guard<std::mutex> guard(lock_);
        return stalled_.count(id) != 0;
    }

private:
    bool known(const std::string &id) const
    {
        return std::any_of(devices_.begin(), devices_.end(), [&](const auto &d) { return d.id == id; });
    }
    bool present(const std::string &id) const { return known(id) && !unplugged_.count(id); }
    bool holds(ClientId client, const std::string &id, unsigned channel) const
    {
        auto it = claims_.find({id, channel});
        return present(id) && it != claims_.end() && it->second == client;
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<usb::DeviceIdentity> devices_;
    std::set<ClientId> clients_;
    ClientId next_client_ = 1;
    std::map<std::pair<std::string, unsigned>, ClientId> claims_;
    std::map<std::pair<std::string, unsigned>, std::deque<uint8_t>> fifo_;
    std::map<std::pair<std::string, unsigned>, uint64_t> reads_ended_;
    std::set<std::string> unplugged_;
    std::set<std::string> stalled_;
    std::map<std::string, size_t> cuts_; // recorded only: the fake does not cut transfers
    std::vector<uint8_t> last_out_;
    usb::ControlSetup last_setup_;
};

} // namespace corvane::testing

#endif // CORVANE_TESTS_UNIT_VBUS_FAKE_BUS_H
