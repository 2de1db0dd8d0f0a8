#include "usb/vbus/inproc.h"

#include <mutex>
#include <shared_mutex>

namespace corvane::usb {
namespace {

// Channels may outlive their transport: a test that stops half-way leaves device handles
// open while its bus goes away. They reach the bus through this link, which the transport
// cuts when it is destroyed; from then on they answer no_device and touch nothing.
struct BusLink {
    std::shared_mutex lock;
    sim::VirtualBus *bus;
};

class InprocChannel final : public Channel {
public:
    InprocChannel(std::shared_ptr<BusLink> link, sim::VirtualBus::ClientId client, std::string id, unsigned channel)
        : link_(std::move(link)), client_(client), id_(std::move(id)), channel_(channel)
    {}
    ~InprocChannel() override
    {
        std::shared_lock<std::shared_mutex> guard(link_->lock);
        if (link_->bus)
            link_->bus->remove_client(client_);
    }

    Status control(const ControlSetup &setup, uint8_t *data, unsigned timeout_ms, uint16_t *transferred) override
    {
        *transferred = 0;
        std::shared_lock<std::shared_mutex> guard(link_->lock);
        return link_->bus ? link_->bus->control(client_, id_, channel_, setup, data, timeout_ms, transferred)
                          : Status::no_device;
    }
    Status bulk_out(const uint8_t *data, size_t size, unsigned timeout_ms, size_t *transferred) override
    {
        *transferred = 0;
        std::shared_lock<std::shared_mutex> guard(link_->lock);
        return link_->bus ? link_->bus->bulk_out(client_, id_, channel_, data, size, timeout_ms, transferred)
                          : Status::no_device;
    }
    Status bulk_in(uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred) override
    {
        *transferred = 0;
        std::shared_lock<std::shared_mutex> guard(link_->lock);
        return link_->bus ? link_->bus->bulk_in(client_, id_, channel_, buffer, size, timeout_ms, transferred)
                          : Status::no_device;
    }
    Status reset_device() override
    {
        std::shared_lock<std::shared_mutex> guard(link_->lock);
        return link_->bus ? link_->bus->reset_device(client_, id_) : Status::no_device;
    }
    Status reenumerate() override
    {
        std::shared_lock<std::shared_mutex> guard(link_->lock);
        return link_->bus ? link_->bus->reenumerate(client_, id_) : Status::no_device;
    }

private:
    std::shared_ptr<BusLink> link_;
    sim::VirtualBus::ClientId client_;
    std::string id_;
    unsigned channel_;
};

class InprocTransport final : public Transport {
public:
    explicit InprocTransport(sim::VirtualBus &bus) : link_(std::make_shared<BusLink>()) { link_->bus = &bus; }
    // Waits for transfers in flight on the bus to end (each within its time-out).
    ~InprocTransport() override
    {
        std::unique_lock<std::shared_mutex> guard(link_->lock);
        link_->bus = nullptr;
    }

    std::string_view name() const override { return "inproc"; }

    Status list(std::vector<DeviceIdentity> &devices) override
    {
        devices = link_->bus->list();
        return Status::ok;
    }

    Status open(const std::string &id, unsigned channel, std::unique_ptr<Channel> &out) override
    {
        sim::VirtualBus &bus = *link_->bus;
        sim::VirtualBus::ClientId client = bus.add_client();
        Status status = bus.claim(client, id, channel);
        if (status != Status::ok) {
            bus.remove_client(client);
            return status;
        }
        out = std::make_unique<InprocChannel>(link_, client, id, channel);
        return Status::ok;
    }

    // One bus client claims every channel, so a device that someone holds is left alone,
    // and then restarts it without a channel object in between.
    Status reenumerate(const std::string &id) override
    {
        std::shared_lock<std::shared_mutex> guard(link_->lock);
        sim::VirtualBus *bus = link_->bus;
        if (!bus)
            return Status::no_device;
        unsigned channels = 0;
        for (const DeviceIdentity &device : bus->list())
            if (device.id == id)
                channels = device.channels;
        if (channels == 0)
            return Status::no_device;
        const sim::VirtualBus::ClientId client = bus->add_client();
        Status status = Status::ok;
        for (unsigned channel = 1; channel <= channels && status == Status::ok; ++channel)
            status = bus->claim(client, id, channel);
        if (status == Status::ok)
            status = bus->reenumerate(client, id);
        bus->remove_client(client);
        return status;
    }

private:
    std::shared_ptr<BusLink> link_;
};

} // namespace

std::unique_ptr<Transport> make_inproc_transport(sim::VirtualBus &bus)
{
    return std::make_unique<InprocTransport>(bus);
}

} // namespace corvane::usb
