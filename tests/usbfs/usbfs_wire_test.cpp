// What libusb itself sees of an emulated chip, below our transport: the claims and the
// serial driver as the kernel keeps them, and the bytes of each IN packet.
#include "usbfs_fixture.h"

#include <libusb.h>

#include <gmock/gmock.h>

namespace corvane::usbfs {
namespace {

TEST_F(UsbfsTest, LibusbSeesClaimsDriverAndStatusBytesAsOnTheBus)
{
    start_bus({"ft2232h,serial=HS0002"});
    libusb_context *context = nullptr;
    ASSERT_EQ(libusb_init(&context), LIBUSB_SUCCESS);
    libusb_device_handle *first = libusb_open_device_with_vid_pid(context, 0x0403, 0x6010);
    libusb_device_handle *second = libusb_open_device_with_vid_pid(context, 0x0403, 0x6010);
    ASSERT_TRUE(first && second);

    // Channel B is interface 1, bulk endpoints 0x83 and 0x04.
    EXPECT_EQ(libusb_kernel_driver_active(first, 1), 1);
    EXPECT_EQ(libusb_claim_interface(first, 1), LIBUSB_ERROR_BUSY) << "the serial driver holds it";
    EXPECT_EQ(libusb_detach_kernel_driver(first, 1), LIBUSB_SUCCESS);
    EXPECT_EQ(libusb_detach_kernel_driver(first, 1), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_claim_interface(first, 1), LIBUSB_SUCCESS);
    EXPECT_EQ(libusb_claim_interface(first, 1), LIBUSB_SUCCESS) << "the same open claims again";
    EXPECT_EQ(libusb_claim_interface(second, 1), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(libusb_kernel_driver_active(second, 0), 1) << "channel A untouched";

    // Nothing to send: the status bytes alone, once the latency timer runs out.
    uint8_t in[2048];
    int moved = 0;
    EXPECT_EQ(libusb_bulk_transfer(first, 0x83, in, sizeof in, &moved, 5000), LIBUSB_SUCCESS);
    EXPECT_EQ(moved, 2);

    // 1000 bytes come back as a full packet (2 + 510) and a short one (2 + 490) that ends
    // the transfer.
    std::vector<uint8_t> out(1000);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint8_t>(i * 7 + 1);
    EXPECT_EQ(libusb_bulk_transfer(first, 0x04, out.data(), 1000, &moved, 5000), LIBUSB_SUCCESS);
    EXPECT_EQ(moved, 1000);
    EXPECT_EQ(libusb_bulk_transfer(first, 0x83, in, sizeof in, &moved, 5000), LIBUSB_SUCCESS);
    ASSERT_EQ(moved, 1004);
    EXPECT_EQ(in[0] & 0xF0, 0x00);
    EXPECT_EQ(in[1], 0x60) << "line status: transmitter empty";
    EXPECT_EQ(in[512], in[0]);
    EXPECT_EQ(in[513], in[1]);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 510, in + 2));
    EXPECT_TRUE(std::equal(out.begin() + 510, out.end(), in + 514));

    // A pending read given up ends as cancelled.
    libusb_transfer *transfer = libusb_alloc_transfer(0);
    int completed = 0;
    libusb_fill_bulk_transfer(
        transfer, first, 0x83, in, 512, [](libusb_transfer *done) { *static_cast<int *>(done->user_data) = 1; },
        &completed, 0);
    ASSERT_EQ(libusb_control_transfer(first, 0x40, 0x09, 255, 2, nullptr, 0, 1000), 0) << "latency 255 ms";
    ASSERT_EQ(libusb_submit_transfer(transfer), LIBUSB_SUCCESS);
    EXPECT_EQ(libusb_cancel_transfer(transfer), LIBUSB_SUCCESS);
    while (!completed)
        libusb_handle_events_completed(context, &completed);
    EXPECT_EQ(transfer->status, LIBUSB_TRANSFER_CANCELLED);
    libusb_free_transfer(transfer);

    EXPECT_EQ(libusb_release_interface(first, 1), LIBUSB_SUCCESS);
    EXPECT_EQ(libusb_release_interface(first, 1), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_attach_kernel_driver(first, 1), LIBUSB_SUCCESS);
    EXPECT_TRUE(bus().driver_bound(0, 1));
    libusb_close(second);
    libusb_close(first);
    libusb_exit(context);
}

} // namespace
} // namespace corvane::usbfs
