// Opening a real channel: the serial driver of that one interface is detached on open and
// given back on close; a channel someone else holds is busy.
#include "usb_fixture.h"

#include "usb/libusb/channel.h"

namespace corvane::testing {
namespace {

using usb::Status;

class UsbClaim : public UsbTransportTest {
protected:
    size_t chip = library->add(make_fake_chip(1, {2}));

    FakeUsbDevice &device() { return library->device(chip); }

    // The log from the first entry that is not part of reading the strings.
    std::vector<std::string> log_after_listing()
    {
        std::vector<std::string> log = library->log();
        std::erase_if(log, [](const std::string &entry) { return entry.rfind("open ", 0) == 0; });
        return log;
    }
};

TEST_F(UsbClaim, OpenDetachesOnlyItsInterfaceAndCloseGivesItBack)
{
    listed();
    std::unique_ptr<usb::Channel> channel_b = open_channel("1-2", 2);
    ASSERT_TRUE(channel_b);
    EXPECT_TRUE(device().kernel_driver_bound[0]);
    EXPECT_FALSE(device().kernel_driver_bound[1]);
    EXPECT_TRUE(device().claimed[1]);

    channel_b.reset();
    EXPECT_EQ(log_after_listing(), (std::vector<std::string>{"detach 1", "claim 1", "release 1", "attach 1"}));
    EXPECT_TRUE(device().kernel_driver_bound[1]);
    EXPECT_FALSE(device().claimed[1]);
}

TEST_F(UsbClaim, ChannelsLeftOpenAtExitGiveTheSerialDriverBackOnce)
{
    // The loader ends on a failure without closing its device.
    std::unique_ptr<usb::Channel> channel = open_channel("1-2", 1);
    usb::give_back_open_channels();
    EXPECT_TRUE(device().kernel_driver_bound[0]);
    EXPECT_FALSE(device().claimed[0]);
    channel.reset();
    EXPECT_EQ(log_after_listing(), (std::vector<std::string>{"detach 0", "claim 0", "release 0", "attach 0"}));
}

TEST_F(UsbClaim, DriverThatWasNotBoundIsNotBoundAfterwards)
{
    device().kernel_driver_bound[0] = false;
    open_channel("1-2", 1).reset();
    EXPECT_EQ(log_after_listing(), (std::vector<std::string>{"claim 0", "release 0"}));
    EXPECT_FALSE(device().kernel_driver_bound[0]);
}

TEST_F(UsbClaim, ChannelHeldElsewhereIsBusyAndKeepsNothing)
{
    device().claimed_elsewhere[0] = true;
    device().kernel_driver_bound[0] = false;
    std::unique_ptr<usb::Channel> channel;
    EXPECT_EQ(transport->open("1-2", 1, channel), Status::busy);
    EXPECT_FALSE(channel);
    EXPECT_FALSE(device().claimed[0]);
}

TEST_F(UsbClaim, FailedClaimGivesTheSerialDriverBack)
{
    // Another program claims the interface between our detach and our claim.
    device().claimed_elsewhere[0] = true;
    std::unique_ptr<usb::Channel> channel;
    EXPECT_EQ(transport->open("1-2", 1, channel), Status::busy);
    EXPECT_EQ(log_after_listing(), (std::vector<std::string>{"detach 0", "claim 0", "attach 0"}));
    EXPECT_TRUE(device().kernel_driver_bound[0]);
}

TEST_F(UsbClaim, SecondOpenOfAChannelIsBusy)
{
    std::unique_ptr<usb::Channel> first = open_channel("1-2", 1);
    std::unique_ptr<usb::Channel> second;
    EXPECT_EQ(transport->open("1-2", 1, second), Status::busy);
    EXPECT_TRUE(open_channel("1-2", 2));
}

TEST_F(UsbClaim, SystemsWithoutKernelDriverCallsStillClaim)
{
    device().kernel_driver_calls_unsupported = true;
    device().kernel_driver_bound[0] = false;
    EXPECT_TRUE(open_channel("1-2", 1));
}

TEST_F(UsbClaim, RefusalsSayWhy)
{
    struct Case {
        const char *id;
        unsigned channel;
        Status status;
    };
    const Case cases[] = {
        {"1-9", 1, Status::no_device},
        {"1-2", 0, Status::invalid},
        {"1-2", 3, Status::invalid},
    };
    for (const Case &c : cases) {
        std::unique_ptr<usb::Channel> channel;
        EXPECT_EQ(transport->open(c.id, c.channel, channel), c.status) << c.id << " channel " << c.channel;
    }
    device().open_refused = true;
    std::unique_ptr<usb::Channel> channel;
    EXPECT_EQ(transport->open("1-2", 1, channel), Status::io_error);
    EXPECT_TRUE(device().kernel_driver_bound[0]);
}

TEST_F(UsbClaim, RestartHoldsEveryChannelThenGivesTheSerialDriversBack)
{
    listed();
    ASSERT_EQ(transport->reenumerate("1-2"), Status::ok);
    EXPECT_EQ(log_after_listing(), (std::vector<std::string>{"detach 0", "claim 0", "detach 1", "claim 1", "reset",
                                                             "release 0", "attach 0", "release 1", "attach 1"}));
    EXPECT_TRUE(device().kernel_driver_bound[0]);
    EXPECT_TRUE(device().kernel_driver_bound[1]);
}

TEST_F(UsbClaim, RestartOfADeviceInUseIsBusy)
{
    device().claimed_elsewhere[1] = true;
    device().kernel_driver_bound[1] = false;
    EXPECT_EQ(transport->reenumerate("1-2"), Status::busy);
    EXPECT_TRUE(device().kernel_driver_bound[0]);
    EXPECT_FALSE(device().claimed[0]);
}

TEST_F(UsbClaim, ControlRequestsReachTheDevice)
{
    device().control_answers[0x0A] = {16};
    std::unique_ptr<usb::Channel> channel = open_channel("1-2", 1);
    uint8_t latency = 0;
    uint16_t transferred = 0;
    ASSERT_EQ(channel->control({0xC0, 0x0A, 0, 1, 1}, &latency, 1000, &transferred), Status::ok);
    EXPECT_EQ(transferred, 1);
    EXPECT_EQ(latency, 16);
    ASSERT_EQ(device().control_requests.size(), 1u);
    EXPECT_EQ(device().control_requests[0].index, 1);
}

} // namespace
} // namespace corvane::testing
