#include "sim/bus_model.h"

namespace corvane::sim {

// The bus is always the model of sim/bus_model.h; VirtualBus is what its users see.
std::unique_ptr<VirtualBus> VirtualBus::create(const std::vector<ChipDescription> &chips,
                                               const std::filesystem::path &state_dir, std::string &error)
{
    return BusModel::create(chips, state_dir, error);
}

} // namespace corvane::sim
