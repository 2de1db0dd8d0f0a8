#include "support/inproc_bus.h"

#include "sim/bus_model.h"
#include "usb/vbus/inproc.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace corvane::testing {
namespace {

std::filesystem::path make_state_dir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary state folder: " +
                                 std::error_code(errno, std::generic_category()).message());
    return pattern;
}

} // namespace

InprocBus::InprocBus(const std::vector<std::string> &chips) : state_dir_(make_state_dir())
{
    std::vector<sim::ChipDescription> descriptions;
    std::string error;
    for (const std::string &text : chips) {
        std::optional<sim::ChipDescription> description = sim::parse_chip_description(text, error);
        if (!description) {
            std::filesystem::remove_all(state_dir_);
            throw std::runtime_error("--chip " + text + ": " + error);
        }
        descriptions.push_back(*description);
    }
    bus_ = sim::BusModel::create(descriptions, state_dir_, error);
    if (!bus_) {
        std::filesystem::remove_all(state_dir_);
        throw std::runtime_error("virtual bus: " + error);
    }
    for (size_t i = 0; i < bus_->size(); ++i)
        bus_->chip(i)->set_control_logging(true);
    usb::set_test_transport(usb::make_inproc_transport(*bus_));
}

InprocBus::~InprocBus()
{
    // Unplugging first wakes any transfer still waiting on a device left open, so that
    // taking the transport away does not wait out its time-out.
    for (size_t i = 0; i < bus_->size(); ++i)
        bus_->set_plugged(device_id(i), false);
    usb::set_test_transport(nullptr);
    bus_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(state_dir_, ignored);
}

sim::VirtualBus &InprocBus::bus()
{
    return *bus_;
}

const std::filesystem::path &InprocBus::state_dir() const
{
    return state_dir_;
}

sim::BusModel &InprocBus::model()
{
    return *bus_;
}

namespace {
sim::ChipModel &chip_at(sim::BusModel &bus, size_t index)
{
    sim::ChipModel *chip = bus.chip(index);
    if (!chip)
        throw std::out_of_range("no device at bus position " + std::to_string(index));
    return *chip;
}
} // namespace

std::vector<RecordedControl> InprocBus::control_log(size_t device_index)
{
    std::vector<RecordedControl> log;
    for (sim::ControlRecord &record : chip_at(model(), device_index).control_log())
        log.push_back({record.setup, std::move(record.data)});
    return log;
}

void InprocBus::clear_control_log(size_t device_index)
{
    chip_at(model(), device_index).clear_control_log();
}

std::vector<uint16_t> InprocBus::eeprom_words(size_t device_index)
{
    return chip_at(model(), device_index).eeprom_words();
}

void InprocBus::set_eeprom_words(size_t device_index, const std::vector<uint16_t> &words)
{
    if (!chip_at(model(), device_index).set_eeprom_words(words))
        throw std::invalid_argument("set_eeprom_words: " + std::to_string(words.size()) +
                                    " words do not match the EEPROM's size");
}

void InprocBus::set_modem_lines(size_t device_index, unsigned channel, uint8_t modem_status)
{
    if (!chip_at(model(), device_index).set_modem_lines(channel, modem_status))
        throw std::out_of_range("set_modem_lines: no channel " + std::to_string(channel));
}

void InprocBus::set_factory_word(size_t device_index, uint16_t address, uint16_t value)
{
    if (!chip_at(model(), device_index).set_factory_word(address, value))
        throw std::invalid_argument("set_factory_word: not an FT232R factory word address");
}

void InprocBus::set_error_correction_word(size_t device_index, uint16_t value)
{
    chip_at(model(), device_index).set_error_correction_word(value);
}

sim::ChannelSettings InprocBus::channel_settings(size_t device_index, unsigned channel)
{
    std::optional<sim::ChannelSettings> settings = chip_at(model(), device_index).channel_settings(channel);
    if (!settings)
        throw std::out_of_range("channel_settings: no channel " + std::to_string(channel));
    return *settings;
}

} // namespace corvane::testing
