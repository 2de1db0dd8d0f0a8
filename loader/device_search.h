// Finding the cartridge among the attached FTDI devices, and opening it for the run.
#ifndef CORVANE_LOADER_DEVICE_SEARCH_H
#define CORVANE_LOADER_DEVICE_SEARCH_H

#include "ftdev.h"

#include <cstdint>
#include <optional>
#include <span>

namespace corvane::loader {

// Channel A of the cartridge's chip carries the command stream.
constexpr char CARTRIDGE_DESCRIPTION[] = "Corvane USB device A";

// The index of the first node whose description is exactly the cartridge's.
std::optional<uint32_t> find_cartridge_node(std::span<const FtdevDeviceNode> nodes);

// The nodes of devices that could not be opened for the list and that this process does
// not hold either: open in another program, or not accessible to this user.
uint32_t count_unreadable_nodes(std::span<const FtdevDeviceNode> nodes);

// Lists the devices and prints where the cartridge is; ends the run when there is none.
uint32_t find_cartridge();

// Opens the device at `index` with 4-second time-outs and resets it.
FtdevHandle open_cartridge(uint32_t index);

} // namespace corvane::loader

#endif // CORVANE_LOADER_DEVICE_SEARCH_H
