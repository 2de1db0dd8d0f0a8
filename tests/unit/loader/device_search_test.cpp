// Picking the cartridge from the device list, and what the list says of devices it could
// not open.
#include "loader/device_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace corvane::loader {
namespace {

FtdevDeviceNode node(uint32_t flags, uint32_t type, const char *description)
{
    FtdevDeviceNode listed{};
    listed.flags = flags;
    listed.type = type;
    std::strncpy(listed.description, description, sizeof listed.description - 1);
    return listed;
}

TEST(DeviceSearch, CountsOnlyDevicesHeldElsewhere)
{
    std::vector<FtdevDeviceNode> nodes = {
        node(FTDEV_NODE_OPEN, FTDEV_DEVICE_UNKNOWN, ""),                         // held elsewhere
        node(FTDEV_NODE_OPEN | FTDEV_NODE_HIGH_SPEED, FTDEV_DEVICE_UNKNOWN, ""), // so is this
        node(FTDEV_NODE_OPEN, FTDEV_DEVICE_2232H, "Corvane USB device A"),       // open here
        node(0, FTDEV_DEVICE_UNKNOWN, ""),                                       // free, unknown chip
        node(0, FTDEV_DEVICE_232R, "FT232R USB UART"),
    };
    EXPECT_EQ(count_unreadable_nodes(nodes), 2u);
    EXPECT_EQ(count_unreadable_nodes({nodes.data() + 2, 3}), 0u);
    EXPECT_EQ(find_cartridge_node(nodes), 2u);
}

} // namespace
} // namespace corvane::loader
