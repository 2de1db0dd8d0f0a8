#include "loader/device_search.h"

#include "loader/console.h"
#include "loader/fail.h"

#include <cstdlib>
#include <cstring>

namespace corvane::loader {

namespace {

// Long enough for a full packet to cross a busy bus, short enough to notice a stall.
constexpr uint32_t IO_TIMEOUT_MS = 4000;

} // namespace

uint32_t count_unreadable_nodes(std::span<const FtdevDeviceNode> nodes)
{
    uint32_t count = 0;
    for (const FtdevDeviceNode &node : nodes) {
        // What the list shows of a device it could not open and that this process does
        // not hold: no type, no texts.
        if ((node.flags & FTDEV_NODE_OPEN) != 0 && node.type == FTDEV_DEVICE_UNKNOWN && node.description[0] == '\0' &&
            node.serial_number[0] == '\0')
            ++count;
    }
    return count;
}

std::optional<uint32_t> find_cartridge_node(std::span<const FtdevDeviceNode> nodes)
{
    for (uint32_t index = 0; index < nodes.size(); ++index) {
        // The terminator is compared too: a longer description is another device.
        if (std::memcmp(nodes[index].description, CARTRIDGE_DESCRIPTION, sizeof CARTRIDGE_DESCRIPTION) == 0)
            return index;
    }
    return std::nullopt;
}

uint32_t find_cartridge()
{
    uint32_t count = 0;
    fail_exit(FT_CreateDeviceInfoList(&count));
    if (count == 0) {
        print(" - No devices found.\n");
        std::exit(EXIT_FAILED);
    }

    // The node holds a pointer-sized handle, so its size is the build's own.
    auto *nodes = static_cast<FtdevDeviceNode *>(std::calloc(count, sizeof(FtdevDeviceNode)));
    if (nodes == nullptr)
        fail_now(FTDEV_INSUFFICIENT_RESOURCES);
    uint32_t listed = count;
    FT_GetDeviceInfoList(nodes, &listed);
    // The list may have been rebuilt smaller since it was counted; never read past what
    // was filled, nor past what was allocated.
    if (listed > count)
        listed = count;

    std::optional<uint32_t> found = find_cartridge_node({nodes, listed});
    uint32_t unreadable = count_unreadable_nodes({nodes, listed});
    if (found)
        print(" - Found Corvane at 0x%x\n", nodes[*found].location_id);
    std::free(nodes);

    if (!found) {
        // A cartridge held by another program (or one the user may not open) is listed
        // without its description: say so rather than deny that it is there.
        if (unreadable == 1)
            print(" - A device is in use by another program or not accessible (see the udev rules);"
                  " it may be the Corvane\n");
        else if (unreadable > 1)
            print(" - %u devices are in use by another program or not accessible (see the udev rules);"
                  " one may be the Corvane\n",
                  unreadable);
        print(" - No attached devices are Corvanes\n");
        std::exit(EXIT_FAILED);
    }
    return *found;
}

FtdevHandle open_cartridge(uint32_t index)
{
    FtdevHandle device = nullptr;
    if (FT_Open(index, &device) != FTDEV_OK) {
        print(" *** Couldn't open device.\n");
        fail_now(FAIL_OPEN_DEVICE);
    }
    fail_exit(FT_SetTimeouts(device, IO_TIMEOUT_MS, IO_TIMEOUT_MS));
    fail_exit(FT_ResetDevice(device));
    return device;
}

} // namespace corvane::loader
