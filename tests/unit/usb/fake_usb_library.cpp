#include "fake_usb_library.h"

#include "usb/libusb/topology.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace corvane::testing {

using usb::UsbResult;

namespace {

uint16_t packet_size_of(const FakeUsbDevice &device, uint8_t endpoint)
{
    for (const usb::InterfaceRecord &interface : device.record.interfaces)
        for (const usb::EndpointRecord &candidate : interface.endpoints)
            if (candidate.address == endpoint)
                return candidate.max_packet_size & 0x7FF;
    return 64;
}

} // namespace

class FakeUsbLibrary::Transfer final : public usb::UsbTransfer {
public:
    Transfer(std::shared_ptr<FakeUsbLibrary> library, FakeUsbDevice &device, uint8_t endpoint)
        : library_(std::move(library)), device_(device), endpoint_(endpoint)
    {}

    UsbResult submit(uint8_t *buffer, size_t length) override
    {
        std::lock_guard<std::mutex> lock(library_->lock());
        buffer_ = buffer;
        length_ = length;
        filled_ = 0;
        cancel_asked_ = false;
        return library_->submit(*this);
    }
    void cancel() override
    {
        std::lock_guard<std::mutex> lock(library_->lock());
        cancel_asked_ = true;
    }

    FakeUsbDevice &device() { return device_; }
    uint8_t endpoint() const { return endpoint_; }
    size_t length() const { return length_; }
    bool must_end() const { return cancel_asked_ || !device_.present; }
    bool is_in() const { return (endpoint_ & 0x80) != 0; }

    // One step of progress; true when the transfer completed.
    bool advance()
    {
        if (cancel_asked_) {
            complete(UsbResult::cancelled, filled_);
            return true;
        }
        if (!device_.present) {
            complete(UsbResult::no_device, filled_);
            return true;
        }
        return is_in() ? advance_in() : advance_out();
    }

private:
    bool advance_in()
    {
        if (device_.halted[endpoint_]) {
            complete(UsbResult::stall, filled_);
            return true;
        }
        std::deque<InStep> &steps = device_.in_steps[endpoint_];
        const size_t packet = packet_size_of(device_, endpoint_);
        while (filled_ < length_ && !steps.empty()) {
            InStep step = std::move(steps.front());
            steps.pop_front();
            if (step.unplug) {
                device_.present = false;
                complete(UsbResult::no_device, filled_);
                return true;
            }
            if (step.stall) {
                device_.halted[endpoint_] = true;
                complete(UsbResult::stall, filled_);
                return true;
            }
            if (step.packet.size() > length_ - filled_) {
                complete(UsbResult::overflow, filled_);
                return true;
            }
            std::copy(step.packet.begin(), step.packet.end(), buffer_ + filled_);
            filled_ += step.packet.size();
            if (step.packet.size() < packet) {
                complete(UsbResult::ok, filled_);
                return true;
            }
        }
        if (filled_ == length_) {
            complete(UsbResult::ok, filled_);
            return true;
        }
        return false;
    }

    bool advance_out()
    {
        if (device_.out_stalls) {
            complete(UsbResult::stall, filled_);
            return true;
        }
        size_t take = std::min(length_ - filled_, device_.out_room);
        if (device_.unplug_after_out)
            take = std::min(take, *device_.unplug_after_out);
        std::vector<uint8_t> &received = device_.received[endpoint_];
        received.insert(received.end(), buffer_ + filled_, buffer_ + filled_ + take);
        filled_ += take;
        device_.out_room -= take;
        if (device_.unplug_after_out) {
            *device_.unplug_after_out -= take;
            if (*device_.unplug_after_out == 0) {
                device_.present = false;
                complete(UsbResult::no_device, filled_);
                return true;
            }
        }
        if (filled_ == length_) {
            complete(UsbResult::ok, filled_);
            return true;
        }
        return false;
    }

    std::shared_ptr<FakeUsbLibrary> library_;
    FakeUsbDevice &device_;
    uint8_t endpoint_;
    uint8_t *buffer_ = nullptr;
    size_t length_ = 0;
    size_t filled_ = 0;
    bool cancel_asked_ = false;
};

class FakeUsbLibrary::Handle final : public usb::UsbHandle {
public:
    Handle(std::shared_ptr<FakeUsbLibrary> library, FakeUsbDevice &device)
        : library_(std::move(library)), device_(device)
    {}

    UsbResult string_descriptor(uint8_t index, std::string &text) override
    {
        std::lock_guard<std::mutex> lock(library_->lock());
        if (!device_.present)
            return UsbResult::no_device;
        auto found = device_.strings.find(index);
        if (found == device_.strings.end())
            return UsbResult::stall;
        text = found->second;
        return UsbResult::ok;
    }
    UsbResult kernel_driver_active(uint8_t interface, bool &active) override
    {
        std::lock_guard<std::mutex> lock(library_->lock());
        if (device_.kernel_driver_calls_unsupported)
            return UsbResult::not_supported;
        if (!device_.present)
            return UsbResult::no_device;
        active = device_.kernel_driver_bound.at(interface);
        return UsbResult::ok;
    }
    UsbResult detach_kernel_driver(uint8_t interface) override { return change_binding(interface, "detach ", false); }
    UsbResult attach_kernel_driver(uint8_t interface) override
    {
        std::lock_guard<std::mutex> lock(library_->lock());
        library_->note("attach " + std::to_string(interface));
        if (!device_.present)
            return UsbResult::no_device;
        if (device_.claimed.at(interface))
            return UsbResult::busy;
        device_.kernel_driver_bound.at(interface) = true;
        return UsbResult::ok;
    }
    UsbResult claim_interface(uint8_t interface) override
    {
        std::lock_guard<std::mutex> lock(library_->lock());
        library_->note("claim " + std::to_string(interface));
        if (!device_.present)
            return UsbResult::no_device;
        if (device_.claimed_elsewhere.at(interface) || device_.kernel_driver_bound.at(interface) ||
            device_.claimed.at(interface))
            return UsbResult::busy;
        device_.claimed.at(interface) = true;
        return UsbResult::ok;
    }
    UsbResult release_interface(uint8_t interface) override
    {
        std::lock_guard<std::mutex> lock(library_->lock());
        library_->note("release " + std::to_string(interface));
        device_.claimed.at(interface) = false;
        return device_.present ? UsbResult::ok : UsbResult::no_device;
    }
    UsbResult control(const usb::ControlSetup &setup, uint8_t *data, unsigned, size_t *transferred) override
    {
        std::lock_guard<std::mutex> lock(library_->lock());
        *transferred = 0;
        if (!device_.present)
            return UsbResult::no_device;
        device_.control_requests.push_back(setup);
        if (setup.request_type & 0x80) {
            const std::vector<uint8_t> &answer = device_.control_answers[setup.request];
            *transferred = std::min<size_t>(answer.size(), setup.length);
            std::copy_n(answer.begin(), *transferred, data);
        } else {
            *transferred = setup.length;
        }
        return UsbResult::ok;
    }
    UsbResult clear_halt(uint8_t endpoint) override
    {
        std::lock_guard<std::mutex> lock(library_->lock());
        library_->note("clear halt " + std::to_string(endpoint));
        device_.halted[endpoint] = false;
        return device_.present ? UsbResult::ok : UsbResult::no_device;
    }
    UsbResult reset_device() override
    {
        std::lock_guard<std::mutex> lock(library_->lock());
        library_->note("reset");
        return device_.present ? device_.reset_result : UsbResult::no_device;
    }
    std::unique_ptr<usb::UsbTransfer> make_bulk_transfer(uint8_t endpoint) override
    {
        return std::make_unique<Transfer>(library_, device_, endpoint);
    }
    void handle_events(unsigned timeout_ms, usb::UsbTransfer *watched) override
    {
        if (library_->progress() || (watched && watched->is_done()))
            return;
        // Nothing to complete: wait as libusb would, briefly, so time-outs are honoured.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeout_ms, 5u)));
    }
    // Its idle waits are that short anyway.
    void interrupt_events() override {}

private:
    UsbResult change_binding(uint8_t interface, const char *what, bool bound)
    {
        std::lock_guard<std::mutex> lock(library_->lock());
        library_->note(what + std::to_string(interface));
        if (!device_.present)
            return UsbResult::no_device;
        if (!device_.kernel_driver_bound.at(interface))
            return UsbResult::not_found;
        device_.kernel_driver_bound.at(interface) = bound;
        return UsbResult::ok;
    }

    std::shared_ptr<FakeUsbLibrary> library_;
    FakeUsbDevice &device_;
};

FakeUsbDevice make_fake_chip(uint8_t bus, std::vector<uint8_t> ports, uint8_t channels, uint16_t packet,
                             uint16_t bcd_device)
{
    FakeUsbDevice device;
    device.record.bus = bus;
    device.record.ports = std::move(ports);
    device.record.address = static_cast<uint8_t>(10 + device.record.ports.size());
    device.record.vendor_id = 0x0403;
    device.record.product_id = channels == 2 ? 0x6010 : 0x6001;
    device.record.bcd_device = bcd_device;
    device.record.manufacturer_index = 1;
    device.record.product_index = 2;
    device.record.serial_index = 3;
    device.record.configured = true;
    for (uint8_t i = 0; i < channels; ++i) {
        usb::InterfaceRecord interface;
        interface.number = i;
        interface.endpoints.push_back({static_cast<uint8_t>(0x81 + 2 * i), usb::EndpointKind::bulk, packet});
        interface.endpoints.push_back({static_cast<uint8_t>(0x02 + 2 * i), usb::EndpointKind::bulk, packet});
        device.record.interfaces.push_back(interface);
    }
    device.strings = {{1, "Corvane"}, {2, "Corvane USB device"}, {3, "CV0001"}};
    device.kernel_driver_bound.assign(channels, true);
    device.claimed_elsewhere.assign(channels, false);
    device.claimed.assign(channels, false);
    return device;
}

size_t FakeUsbLibrary::add(FakeUsbDevice device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.push_back(std::make_unique<FakeUsbDevice>(std::move(device)));
    return devices_.size() - 1;
}

void FakeUsbLibrary::queue_in(size_t index, unsigned channel, const std::vector<std::vector<uint8_t>> &packets)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto &steps = devices_.at(index)->in_steps[static_cast<uint8_t>(0x81 + 2 * (channel - 1))];
    for (const auto &packet : packets)
        steps.push_back({packet, false});
}

void FakeUsbLibrary::queue_unplug(size_t index, unsigned channel)
{
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.at(index)->in_steps[static_cast<uint8_t>(0x81 + 2 * (channel - 1))].push_back({{}, true});
}

void FakeUsbLibrary::queue_stall(size_t index, unsigned channel)
{
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.at(index)->in_steps[static_cast<uint8_t>(0x81 + 2 * (channel - 1))].push_back({{}, false, true});
}

void FakeUsbLibrary::unplug(size_t index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.at(index)->present = false;
}

UsbResult FakeUsbLibrary::list(std::vector<usb::DeviceRecord> &devices)
{
    std::lock_guard<std::mutex> lock(mutex_);
    devices.clear();
    for (const auto &device : devices_)
        if (device->present)
            devices.push_back(device->record);
    return UsbResult::ok;
}

UsbResult FakeUsbLibrary::open(const usb::DeviceRecord &wanted, std::unique_ptr<usb::UsbHandle> &handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto &device : devices_) {
        const usb::DeviceRecord &record = device->record;
        if (!device->present || record.bus != wanted.bus || record.ports != wanted.ports ||
            record.address != wanted.address)
            continue;
        log_.push_back("open " + usb::topology_id(record.bus, record.ports));
        if (device->open_refused)
            return UsbResult::access;
        ++opens_;
        handle = std::make_unique<Handle>(shared_from_this(), *device);
        return UsbResult::ok;
    }
    return UsbResult::no_device;
}

UsbResult FakeUsbLibrary::submit(Transfer &transfer)
{
    if (!transfer.device().present)
        return UsbResult::no_device;
    pending_.push_back(&transfer);
    const uint8_t endpoint = transfer.endpoint();
    submitted_lengths_[endpoint].push_back(transfer.length());
    most_in_flight_[endpoint] = std::max(most_in_flight_[endpoint], in_flight(endpoint));
    return UsbResult::ok;
}

bool FakeUsbLibrary::progress()
{
    std::lock_guard<std::mutex> lock(mutex_);
    bool completed = false;
    std::vector<Transfer *> still_pending;
    for (Transfer *transfer : pending_) {
        // Only the oldest transfer of an endpoint moves data; later ones wait their turn.
        const bool waits_its_turn = std::any_of(still_pending.begin(), still_pending.end(), [&](Transfer *earlier) {
            return earlier->endpoint() == transfer->endpoint();
        });
        if ((!waits_its_turn || transfer->must_end()) && transfer->advance()) {
            completed = true;
            continue;
        }
        still_pending.push_back(transfer);
    }
    pending_ = std::move(still_pending);
    return completed;
}

std::vector<std::string> FakeUsbLibrary::log() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

size_t FakeUsbLibrary::opens() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
}

size_t FakeUsbLibrary::most_in_flight(uint8_t endpoint) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = most_in_flight_.find(endpoint);
    return found == most_in_flight_.end() ? 0 : found->second;
}

size_t FakeUsbLibrary::in_flight(uint8_t endpoint) const
{
    return static_cast<size_t>(std::count_if(pending_.begin(), pending_.end(),
                                             [&](Transfer *transfer) { return transfer->endpoint() == endpoint; }));
}

std::vector<size_t> FakeUsbLibrary::submitted_lengths(uint8_t endpoint) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = submitted_lengths_.find(endpoint);
    return found == submitted_lengths_.end() ? std::vector<size_t>{} : found->second;
}

std::vector<uint8_t> chip_packet(size_t data_bytes, uint8_t modem, uint8_t line, uint8_t first)
{
    std::vector<uint8_t> packet{modem, line};
    for (size_t i = 0; i < data_bytes; ++i)
        packet.push_back(static_cast<uint8_t>(first + i));
    return packet;
}

} // namespace corvane::testing
