// The real-hardware transport over the fake library, with helpers to open channels.
#ifndef CORVANE_TESTS_UNIT_USB_USB_FIXTURE_H
#define CORVANE_TESTS_UNIT_USB_USB_FIXTURE_H

#include "fake_usb_library.h"

#include "usb/libusb/seam.h"

#include <gtest/gtest.h>

#include <chrono>

namespace corvane::testing {

class UsbTransportTest : public ::testing::Test {
protected:
    using Clock = std::chrono::steady_clock;

    std::shared_ptr<FakeUsbLibrary> library = std::make_shared<FakeUsbLibrary>();
    std::unique_ptr<usb::Transport> transport = usb::make_libusb_transport(library);

    std::vector<usb::DeviceIdentity> listed()
    {
        std::vector<usb::DeviceIdentity> devices;
        EXPECT_EQ(transport->list(devices), usb::Status::ok);
        return devices;
    }

    std::unique_ptr<usb::Channel> open_channel(const std::string &id, unsigned channel)
    {
        std::unique_ptr<usb::Channel> opened;
        EXPECT_EQ(transport->open(id, channel, opened), usb::Status::ok);
        return opened;
    }

    static long long elapsed_ms(Clock::time_point since)
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
    }
};

} // namespace corvane::testing

#endif // CORVANE_TESTS_UNIT_USB_USB_FIXTURE_H
