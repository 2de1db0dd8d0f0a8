// The device library over the real libusb, against emulated chips: what a user with a
// chip on a Linux machine gets.
#include "usbfs_fixture.h"

#include "ftdev.h"

#include <gmock/gmock.h>

#include <cstring>

namespace corvane::usbfs {
namespace {

std::vector<FtdevDeviceNode> device_list()
{
    uint32_t count = 0, copied = 0;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FTDEV_OK);
    std::vector<FtdevDeviceNode> nodes(count);
    if (count > 0) {
        EXPECT_EQ(FT_GetDeviceInfoList(nodes.data(), &copied), FTDEV_OK);
    }
    return nodes;
}

// A full-speed chip on port 1 and the two channels of a high-speed one on port 2.
TEST_F(UsbfsTest, ListShowsEachChannelWithItsStringsPlaceAndSpeed)
{
    start_bus({"ft232r,serial=FS0001,description=Full Speed", "ft2232h,serial=HS0002,description=High Speed"});
    const std::vector<FtdevDeviceNode> nodes = device_list();
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].type, uint32_t{FTDEV_DEVICE_232R});
    EXPECT_EQ(nodes[0].id, 0x04036001u);
    EXPECT_STREQ(nodes[0].serial_number, "FS0001");
    EXPECT_STREQ(nodes[0].description, "Full Speed");
    EXPECT_EQ(nodes[0].location_id, 0x111u);
    EXPECT_EQ(nodes[0].flags, 0u);

    EXPECT_EQ(nodes[1].type, uint32_t{FTDEV_DEVICE_2232H});
    EXPECT_EQ(nodes[1].id, 0x04036010u);
    EXPECT_STREQ(nodes[1].serial_number, "HS0002A");
    EXPECT_STREQ(nodes[1].description, "High Speed A");
    EXPECT_EQ(nodes[1].location_id, 0x121u);
    EXPECT_EQ(nodes[1].flags, uint32_t{FTDEV_NODE_HIGH_SPEED});
    EXPECT_STREQ(nodes[2].serial_number, "HS0002B");
    EXPECT_STREQ(nodes[2].description, "High Speed B");
    EXPECT_EQ(nodes[2].location_id, 0x122u);
    // Listing reads strings only: no channel was taken from the serial driver.
    EXPECT_TRUE(bus().driver_bound(0, 0));
    EXPECT_TRUE(bus().driver_bound(1, 1));
}

} // namespace
} // namespace corvane::usbfs
