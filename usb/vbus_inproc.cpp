#include "usb/vbus_inproc.h"

namespace corvane::usb {
namespace {

class InprocChannel final : public Channel {
public:
    InprocChannel(sim::VirtualBus &bus, sim::VirtualBus::ClientId client, std::string id, unsigned channel)
        : bus_(bus), client_(client), id_(std::move(id)), channel_(channel) {}
    ~InprocChannel() override { bus_.remove_client(client_); }

    Status control(const ControlSetup &setup, uint8_t *data, unsigned timeout_ms,
                   uint16_t *transferred) override {
        return bus_.control(client_, id_, channel_, setup, data, timeout_ms, transferred);
    }
    Status bulk_out(const uint8_t *data, size_t size, unsigned timeout_ms, size_t *transferred) override {
        return bus_.bulk_out(client_, id_, channel_, data, size, timeout_ms, transferred);
    }
    Status bulk_in(uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred) override {
        return bus_.bulk_in(client_, id_, channel_, buffer, size, timeout_ms, transferred);
    }
    Status reset_device() override { return bus_.reset_device(client_, id_); }
    Status reenumerate() override { return bus_.reenumerate(client_, id_); }

private:
    sim::VirtualBus &bus_;
    sim::VirtualBus::ClientId client_;
    std::string id_;
    unsigned channel_;
};

class InprocTransport final : public Transport {
public:
    explicit InprocTransport(sim::VirtualBus &bus) : bus_(bus) {}

    std::string_view name() const override { return "inproc"; }

    Status list(std::vector<DeviceIdentity> &devices) override {
        devices = bus_.list();
        return Status::ok;
    }

    Status open(const std::string &id, unsigned channel, std::unique_ptr<Channel> &out) override {
        sim::VirtualBus::ClientId client = bus_.add_client();
        Status status = bus_.claim(client, id, channel);
        if (status != Status::ok) {
            bus_.remove_client(client);
            return status;
        }
        out = std::make_unique<InprocChannel>(bus_, client, id, channel);
        return Status::ok;
    }

private:
    sim::VirtualBus &bus_;
};

} // namespace

std::unique_ptr<Transport> make_inproc_transport(sim::VirtualBus &bus) {
    return std::make_unique<InprocTransport>(bus);
}

} // namespace corvane::usb
