// The virtual bus as built by VirtualBus::create, with the test hooks of its chips.
#ifndef CORVANE_SIM_BUS_MODEL_H
#define CORVANE_SIM_BUS_MODEL_H

#include "sim/chip_model.h"
#include "sim/virtual_bus.h"

#include <atomic>
#include <memory>
#include <vector>

namespace corvane::sim {

class BusModel final : public VirtualBus {
public:
    static std::unique_ptr<BusModel> create(const std::vector<ChipDescription> &chips,
                                            const std::filesystem::path &state_dir, std::string &error);

    ClientId add_client() override;
    void remove_client(ClientId client) override;
    std::vector<usb::DeviceIdentity> list() override;
    usb::Status claim(ClientId client, const std::string &id, unsigned channel) override;
    void release(ClientId client, const std::string &id, unsigned channel) override;
    usb::Status control(ClientId client, const std::string &id, unsigned channel, const usb::ControlSetup &setup,
                        uint8_t *data, unsigned timeout_ms, uint16_t *transferred) override;
    usb::Status bulk_out(ClientId client, const std::string &id, unsigned channel, const uint8_t *data, size_t size,
                         unsigned timeout_ms, size_t *transferred) override;
    usb::Status bulk_in(ClientId client, const std::string &id, unsigned channel, uint8_t *buffer, size_t size,
                        unsigned timeout_ms, size_t *transferred) override;
    void end_waiting_in(ClientId client, const std::string &id, unsigned channel) override;
    usb::Status reset_device(ClientId client, const std::string &id) override;
    usb::Status reenumerate(ClientId client, const std::string &id) override;
    usb::Status set_plugged(const std::string &id, bool plugged) override;
    usb::Status set_stalled(const std::string &id, bool stalled) override;
    usb::Status cut_next_transfer(const std::string &id, size_t bytes) override;

    // The chip at bus position `position`, for test hooks; nullptr past the end.
    ChipModel *chip(size_t position);
    size_t size() const { return chips_.size(); }

private:
    ChipModel *find(const std::string &id);

    std::vector<std::unique_ptr<ChipModel>> chips_; // fixed once built
    std::atomic<ClientId> next_client_{1};
};

} // namespace corvane::sim

#endif // CORVANE_SIM_BUS_MODEL_H
