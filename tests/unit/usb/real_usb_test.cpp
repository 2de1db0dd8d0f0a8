// The transport the platform really gets for USB: on a machine without FTDI devices (or
// without a USB bus at all) it lists nothing and reports no error.
#include "usb/transport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace corvane::testing {
namespace {

TEST(RealUsb, ListingIsQuietWhereThereIsNothingToList)
{
    // The registry is built on first use; this test runs alone in its process under CTest.
    unsetenv("CORVANE_USB");
    const std::vector<usb::Transport *> transports = usb::transports();
    ASSERT_FALSE(transports.empty());
    usb::Transport &real = *transports.front();
    EXPECT_EQ(real.name(), "usb");
    std::vector<usb::DeviceIdentity> devices;
    ASSERT_EQ(real.list(devices), usb::Status::ok);
    for (const usb::DeviceIdentity &device : devices) {
        EXPECT_EQ(device.vendor_id, 0x0403);
        EXPECT_FALSE(device.virtual_model);
        EXPECT_NE(device.location, 0u);
    }
    std::unique_ptr<usb::Channel> channel;
    EXPECT_NE(real.open("99-9.9", 1, channel), usb::Status::ok);
    EXPECT_FALSE(channel);
}

} // namespace
} // namespace corvane::testing
