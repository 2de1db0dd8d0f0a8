#include "sim/bus_model.h"

#include <cstdio>
#include <set>

namespace corvane::sim {
namespace {

// The virtual bus is bus 9: the device at position p (0-based) sits at 0x9000 + (p+1)*0x10
// unless location= gives another base. The low hexadecimal digit stays 0 because the host
// adds the channel number there (A = 1).
constexpr uint32_t bus_location_base = 0x9000;
constexpr uint32_t port_step = 0x10;

std::string default_serial(size_t position)
{
    char text[32];
    std::snprintf(text, sizeof text, "CV%06zu", position + 1);
    return text;
}

} // namespace

std::unique_ptr<BusModel> BusModel::create(const std::vector<ChipDescription> &chips,
                                           const std::filesystem::path &state_dir, std::string &error)
{
    std::vector<ChipPlacement> placements;
    std::set<std::string> serials;
    std::set<uint32_t> locations;
    for (size_t position = 0; position < chips.size(); ++position) {
        ChipPlacement placement;
        placement.chip = chips[position];
        placement.id = std::to_string(position);
        placement.serial = placement.chip.serial.empty() ? default_serial(position) : placement.chip.serial;
        placement.location =
            placement.chip.location.value_or(bus_location_base + static_cast<uint32_t>(position + 1) * port_step);
        // Two chips with one serial would share one EEPROM file.
        if (!serials.insert(placement.serial).second) {
            error = "chip " + placement.id + ": serial " + placement.serial + " is used by another chip";
            return nullptr;
        }
        if (!locations.insert(placement.location).second) {
            char text[16];
            std::snprintf(text, sizeof text, "%X", placement.location);
            error = "chip " + placement.id + ": location " + text + " is used by another chip";
            return nullptr;
        }
        placements.push_back(std::move(placement));
    }

    std::unique_ptr<BusModel> bus(new BusModel);
    for (const ChipPlacement &placement : placements) {
        std::unique_ptr<ChipModel> chip = ChipModel::create(placement, state_dir, error);
        if (!chip) {
            error = "chip " + placement.id + ": " + error;
            return nullptr;
        }
        bus->chips_.push_back(std::move(chip));
    }
    return bus;
}

ChipModel *BusModel::find(const std::string &id)
{
    for (const std::unique_ptr<ChipModel> &chip : chips_)
        if (chip->id() == id)
            return chip.get();
    return nullptr;
}

ChipModel *BusModel::chip(size_t position)
{
    return position < chips_.size() ? chips_[position].get() : nullptr;
}

VirtualBus::ClientId BusModel::add_client()
{
    return next_client_++;
}

void BusModel::remove_client(ClientId client)
{
    for (const std::unique_ptr<ChipModel> &chip : chips_)
        chip->release_all(client);
}

std::vector<usb::DeviceIdentity> BusModel::list()
{
    std::vector<usb::DeviceIdentity> devices;
    for (const std::unique_ptr<ChipModel> &chip : chips_)
        if (std::optional<usb::DeviceIdentity> identity = chip->listed_identity())
            devices.push_back(std::move(*identity));
    return devices;
}

usb::Status BusModel::claim(ClientId client, const std::string &id, unsigned channel)
{
    ChipModel *chip = find(id);
    return chip ? chip->claim(client, channel) : usb::Status::no_device;
}

void BusModel::release(ClientId client, const std::string &id, unsigned channel)
{
    if (ChipModel *chip = find(id))
        chip->release(client, channel);
}

usb::Status BusModel::control(ClientId client, const std::string &id, unsigned channel, const usb::ControlSetup &setup,
                              uint8_t *data, unsigned timeout_ms, uint16_t *transferred)
{
    *transferred = 0;
    ChipModel *chip = find(id);
    // A control request is answered at once, so its time-out never runs out.
    (void)timeout_ms;
    return chip ? chip->control(client, channel, setup, data, transferred) : usb::Status::no_device;
}

usb::Status BusModel::bulk_out(ClientId client, const std::string &id, unsigned channel, const uint8_t *data,
                               size_t size, unsigned timeout_ms, size_t *transferred)
{
    *transferred = 0;
    ChipModel *chip = find(id);
    return chip ? chip->bulk_out(client, channel, data, size, timeout_ms, transferred) : usb::Status::no_device;
}

usb::Status BusModel::bulk_in(ClientId client, const std::string &id, unsigned channel, uint8_t *buffer, size_t size,
                              unsigned timeout_ms, size_t *transferred)
{
    *transferred = 0;
    ChipModel *chip = find(id);
    return chip ? chip->bulk_in(client, channel, buffer, size, timeout_ms, transferred) : usb::Status::no_device;
}

void BusModel::end_waiting_in(ClientId client, const std::string &id, unsigned channel)
{
    if (ChipModel *chip = find(id))
        chip->end_waiting_in(client, channel);
}

usb::Status BusModel::reset_device(ClientId client, const std::string &id)
{
    ChipModel *chip = find(id);
    return chip ? chip->reset_device(client) : usb::Status::no_device;
}

usb::Status BusModel::reenumerate(ClientId client, const std::string &id)
{
    ChipModel *chip = find(id);
    return chip ? chip->reenumerate(client) : usb::Status::no_device;
}

usb::Status BusModel::set_plugged(const std::string &id, bool plugged)
{
    ChipModel *chip = find(id);
    if (!chip)
        return usb::Status::no_device;
    chip->set_plugged(plugged);
    return usb::Status::ok;
}

usb::Status BusModel::set_stalled(const std::string &id, bool stalled)
{
    ChipModel *chip = find(id);
    if (!chip)
        return usb::Status::no_device;
    chip->set_stalled(stalled);
    return usb::Status::ok;
}

usb::Status BusModel::cut_next_transfer(const std::string &id, size_t bytes)
{
    ChipModel *chip = find(id);
    if (!chip)
        return usb::Status::no_device;
    chip->cut_next_transfer(bytes);
    return usb::Status::ok;
}

} // namespace corvane::sim
