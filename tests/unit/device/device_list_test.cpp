// The device list: built by opening each device briefly, read whole or node by node.
#include "device/handle_list.h"
#include "unit/device/device_test_support.h"
#include "support/inproc_bus.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using corvane::device::testing::location_of;
using corvane::device::testing::OpenDevice;

static_assert(offsetof(FtdevDeviceNode, serial_number) == 16);
static_assert(offsetof(FtdevDeviceNode, description) == 32);
static_assert(offsetof(FtdevDeviceNode, handle) == 96);
static_assert(sizeof(FtdevDeviceNode) >= 100);

std::vector<FtdevDeviceNode> build_list()
{
    uint32_t count = 0;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FTDEV_OK);
    std::vector<FtdevDeviceNode> nodes(count);
    uint32_t copied = 0;
    EXPECT_EQ(FT_GetDeviceInfoList(nodes.data(), &copied), FTDEV_OK);
    EXPECT_EQ(copied, count);
    return nodes;
}

// Must run in a process that has never built a list, hence a child of its own.
TEST(DeviceListBeforeAnyBuild, HasNoNodes)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            uint32_t flags = 0;
            std::exit(FT_GetDeviceInfoDetail(0, &flags, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) ==
                              FTDEV_DEVICE_NOT_FOUND
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(DeviceListWithoutDevices, IsEmpty)
{
    uint32_t count = 99;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FTDEV_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(FT_GetDeviceInfoDetail(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              FTDEV_DEVICE_NOT_FOUND);
    count = 99;
    EXPECT_EQ(FT_GetDeviceInfoList(nullptr, &count), FTDEV_OK);
    EXPECT_EQ(count, 0u);
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
    EXPECT_EQ(nodes[0].handle, nullptr);
    for (size_t index : {1u, 2u}) {
        EXPECT_EQ(nodes[index].flags, uint32_t{FTDEV_NODE_HIGH_SPEED}) << index;
        EXPECT_EQ(nodes[index].type, uint32_t{FTDEV_DEVICE_2232H}) << index;
        EXPECT_EQ(nodes[index].handle, nullptr) << index;
    }
    for (uint32_t index = 0; index < 3; ++index) {
        OpenDevice device(index);
        EXPECT_EQ(nodes[index].location_id, location_of(device.get())) << index;
    }
}

TEST_F(DeviceList, ShowsADeviceThisProcessHoldsWithItsHandle)
{
    OpenDevice slow(0);
    OpenDevice fast(2);
    const std::vector<FtdevDeviceNode> nodes = build_list();
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].flags, uint32_t{FTDEV_NODE_OPEN});
    EXPECT_EQ(nodes[0].handle, slow.get());
    EXPECT_EQ(nodes[0].type, uint32_t{FTDEV_DEVICE_232R});
    EXPECT_STREQ(nodes[0].serial_number, "A1");
    EXPECT_STREQ(nodes[0].description, "Alpha");
    EXPECT_EQ(nodes[0].location_id, location_of(slow.get()));
    EXPECT_EQ(nodes[2].flags, uint32_t{FTDEV_NODE_OPEN | FTDEV_NODE_HIGH_SPEED});
    EXPECT_EQ(nodes[2].handle, fast.get());
    EXPECT_EQ(nodes[1].flags, uint32_t{FTDEV_NODE_HIGH_SPEED});

    // The handles were left as they were.
    EXPECT_EQ(FT_ResetDevice(slow.get()), FTDEV_OK);
    EXPECT_EQ(FT_ResetDevice(fast.get()), FTDEV_OK);
}

TEST_F(DeviceList, ShowsADeviceAnotherProgramHoldsAsUnknown)
{
    corvane::sim::VirtualBus &virtual_bus = bus.bus();
    const auto other_program = virtual_bus.add_client();
    ASSERT_EQ(virtual_bus.claim(other_program, corvane::testing::InprocBus::device_id(0), 1),
              corvane::usb::Status::ok);
    const std::vector<FtdevDeviceNode> nodes = build_list();
    virtual_bus.remove_client(other_program);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].flags, uint32_t{FTDEV_NODE_OPEN});
    EXPECT_EQ(nodes[0].type, uint32_t{FTDEV_DEVICE_UNKNOWN});
    EXPECT_EQ(nodes[0].id, 0u);
    EXPECT_EQ(nodes[0].location_id, 0u);
    EXPECT_STREQ(nodes[0].serial_number, "");
    EXPECT_STREQ(nodes[0].description, "");
    EXPECT_EQ(nodes[0].handle, nullptr);
    EXPECT_EQ(nodes[1].flags, uint32_t{FTDEV_NODE_HIGH_SPEED});
}

TEST_F(DeviceList, ReadsNodesFieldByField)
{
    OpenDevice held(0);
    const std::vector<FtdevDeviceNode> nodes = build_list();
    ASSERT_EQ(nodes.size(), 3u);
    for (uint32_t index = 0; index < 3; ++index) {
        uint32_t flags = 99, type = 99, id = 99, location = 99;
        char serial_number[16], description[64];
        FtdevHandle handle = reinterpret_cast<FtdevHandle>(0x1);
        ASSERT_EQ(FT_GetDeviceInfoDetail(index, &flags, &type, &id, &location, serial_number, description, &handle),
                  FTDEV_OK);
        EXPECT_EQ(flags, nodes[index].flags);
        EXPECT_EQ(type, nodes[index].type);
        EXPECT_EQ(id, nodes[index].id);
        EXPECT_EQ(location, nodes[index].location_id);
        EXPECT_STREQ(serial_number, nodes[index].serial_number);
        EXPECT_STREQ(description, nodes[index].description);
        EXPECT_EQ(handle, nodes[index].handle);
    }
    EXPECT_EQ(FT_GetDeviceInfoDetail(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), FTDEV_OK);
    EXPECT_EQ(FT_GetDeviceInfoDetail(3, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              FTDEV_DEVICE_NOT_FOUND);
}

TEST_F(DeviceList, ANullDestinationOnlyReportsTheCount)
{
    build_list();
    uint32_t count = 0;
    EXPECT_EQ(FT_GetDeviceInfoList(nullptr, &count), FTDEV_OK);
    EXPECT_EQ(count, 3u);
}

TEST_F(DeviceList, ARebuildReplacesTheFormerList)
{
    {
        OpenDevice held(1);
        EXPECT_EQ(build_list()[1].flags, uint32_t{FTDEV_NODE_OPEN | FTDEV_NODE_HIGH_SPEED});
    }
    EXPECT_EQ(build_list()[1].flags, uint32_t{FTDEV_NODE_HIGH_SPEED});
}

} // namespace
