// The device list: built by opening each device briefly, read whole or node by node.
#include "support/inproc_bus.h"
#include "unit/device/device_test_support.h"

#include <cstddef>
#include <cstdlib>
#include <vector>

namespace {

using corvane::device::testing::identity_of;
using corvane::device::testing::OpenDevice;

static_assert(offsetof(FtdevDeviceNode, description) == 32 && offsetof(FtdevDeviceNode, handle) == 96);

std::vector<FtdevDeviceNode> build_list()
{
    uint32_t count = 0, copied = 0;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FTDEV_OK);
    std::vector<FtdevDeviceNode> nodes(count);
    EXPECT_EQ(FT_GetDeviceInfoList(nodes.data(), &copied), FTDEV_OK);
    EXPECT_EQ(copied, count);
    return nodes;
}

// Only a process that has never built a list can see this, hence a child of its own.
TEST(DeviceListBeforeAnyBuild, HasNoNodes)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(FT_GetDeviceInfoDetail(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) ==
                                  FTDEV_DEVICE_NOT_FOUND
                              ? 0
                              : 1),
                ::testing::ExitedWithCode(0), "");
}

TEST(DeviceListWithoutDevices, IsEmpty)
{
    uint32_t count = 99;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FTDEV_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(FT_GetDeviceInfoDetail(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              FTDEV_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_CreateDeviceInfoList(nullptr), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_GetDeviceInfoList(nullptr, nullptr), FTDEV_INVALID_PARAMETER);
}

// A full-speed chip and the two channels of a high-speed one.
class DeviceList : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=A1,description=Alpha", "ft2232h,serial=D2"}};
};

TEST_F(DeviceList, DescribesFreeDevicesAndLeavesThemClosed)
{
    const std::vector<FtdevDeviceNode> nodes = build_list();
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].flags, 0u);
    EXPECT_EQ(nodes[0].type, uint32_t{FTDEV_DEVICE_232R});
    EXPECT_STREQ(nodes[0].serial_number, "A1");
    EXPECT_STREQ(nodes[0].description, "Alpha");
    EXPECT_EQ(nodes[1].flags, uint32_t{FTDEV_NODE_HIGH_SPEED});
    EXPECT_EQ(nodes[2].type, uint32_t{FTDEV_DEVICE_2232H});
    for (uint32_t index = 0; index < 3; ++index) {
        EXPECT_EQ(nodes[index].handle, nullptr);
        OpenDevice device(index);
        EXPECT_EQ(nodes[index].location_id, identity_of(device.get()).location) << index;
    }
    uint32_t count = 0;
    EXPECT_EQ(FT_GetDeviceInfoList(nullptr, &count), FTDEV_OK);
    EXPECT_EQ(count, 3u);
}

TEST_F(DeviceList, ShowsDevicesThisProcessHoldsWithTheirHandles)
{
    OpenDevice slow(0), fast(2);
    const std::vector<FtdevDeviceNode> nodes = build_list();
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].flags, uint32_t{FTDEV_NODE_OPEN});
    EXPECT_EQ(nodes[0].handle, slow.get());
    EXPECT_EQ(nodes[0].type, uint32_t{FTDEV_DEVICE_232R});
    EXPECT_STREQ(nodes[0].description, "Alpha");
    EXPECT_EQ(nodes[0].location_id, identity_of(slow.get()).location);
    EXPECT_EQ(nodes[1].flags, uint32_t{FTDEV_NODE_HIGH_SPEED});
    EXPECT_EQ(nodes[2].flags, uint32_t{FTDEV_NODE_OPEN | FTDEV_NODE_HIGH_SPEED});
    EXPECT_EQ(nodes[2].handle, fast.get());

    // Field by field, the same.
    uint32_t flags = 0, type = 0, id = 0, location = 0;
    char serial_number[16], description[64];
    FtdevHandle handle = nullptr;
    ASSERT_EQ(FT_GetDeviceInfoDetail(2, &flags, &type, &id, &location, serial_number, description, &handle), FTDEV_OK);
    EXPECT_EQ(flags, nodes[2].flags);
    EXPECT_EQ(id, nodes[2].id);
    EXPECT_EQ(location, nodes[2].location_id);
    EXPECT_STREQ(description, nodes[2].description);
    EXPECT_EQ(handle, fast.get());
    EXPECT_EQ(FT_GetDeviceInfoDetail(3, &flags, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              FTDEV_DEVICE_NOT_FOUND);
}

TEST_F(DeviceList, ShowsADeviceAnotherProgramHoldsAsUnknown)
{
    corvane::sim::VirtualBus &virtual_bus = bus.bus();
    const auto other_program = virtual_bus.add_client();
    ASSERT_EQ(virtual_bus.claim(other_program, corvane::testing::InprocBus::device_id(0), 1), corvane::usb::Status::ok);
    const std::vector<FtdevDeviceNode> nodes = build_list();
    virtual_bus.remove_client(other_program);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].flags, uint32_t{FTDEV_NODE_OPEN});
    EXPECT_EQ(nodes[0].type, uint32_t{FTDEV_DEVICE_UNKNOWN});
    EXPECT_EQ(nodes[0].id | nodes[0].location_id, 0u);
    EXPECT_STREQ(nodes[0].description, "");
    EXPECT_EQ(nodes[0].handle, nullptr);
    // A rebuild replaces the former list.
    EXPECT_EQ(build_list()[0].flags, 0u);
}

} // namespace
