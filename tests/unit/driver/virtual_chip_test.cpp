// The driver against the virtual chips of the in-process bus: the same model the
// simulator serves, so these check that the driver and the chip model agree.
#include "driver/device_file.h"
#include "driver/request_index.h"
#include "platform/platform.h"
#include "platform/posix/kernel_objects.h"
#include "support/inproc_bus.h"

#include "ftdev.h"

#include <gtest/gtest.h>

#include <numeric>

namespace corvane::testing {
namespace {

using namespace driver; // the request index names

constexpr uint32_t code(unsigned index)
{
    return primary_code_base + 4u * index;
}

class DriverOverVirtualChip : public ::testing::Test {
protected:
    std::unique_ptr<driver::DeviceFile> open_channel(size_t device, unsigned channel)
    {
        for (usb::Transport *transport : usb::transports()) {
            if (transport->name() != "inproc")
                continue;
            std::vector<usb::DeviceIdentity> devices;
            if (transport->list(devices) != usb::Status::ok || device >= devices.size())
                return nullptr;
            std::unique_ptr<usb::Channel> link;
            if (transport->open(devices[device].id, channel, link) != usb::Status::ok)
                return nullptr;
            return driver::DeviceFile::open(std::move(link), devices[device], channel, platform::signal_event);
        }
        return nullptr;
    }

    static uint32_t set_timeouts(driver::DeviceFile &file, uint32_t read_ms, uint32_t write_ms)
    {
        uint32_t timeouts[2] = {read_ms, write_ms};
        return file.io_control(code(request_timeouts), timeouts, sizeof timeouts, nullptr, 0, nullptr);
    }

    InprocBus bus_{{"ft232r,serial=R1", "ft2232h,serial=H2,description=Corvane USB device"}};
};

TEST_F(DriverOverVirtualChip, BytesWrittenComeBackWithoutStatusBytes)
{
    auto file = open_channel(0, 1);
    ASSERT_TRUE(file);
    ASSERT_EQ(ERROR_SUCCESS, set_timeouts(*file, 2000, 2000));
    std::vector<uint8_t> sent(1000);
    std::iota(sent.begin(), sent.end(), 0);
    uint32_t done = 0;
    ASSERT_EQ(ERROR_SUCCESS, file->write(sent.data(), 1000, &done));
    ASSERT_EQ(1000u, done);
    std::vector<uint8_t> got(1000);
    ASSERT_EQ(ERROR_SUCCESS, file->read(got.data(), 1000, &done));
    EXPECT_EQ(1000u, done);
    EXPECT_EQ(sent, got);
}

TEST_F(DriverOverVirtualChip, SettingsReachTheChip)
{
    auto file = open_channel(1, 2);
    ASSERT_TRUE(file);
    uint32_t baud = 9600;
    ASSERT_EQ(ERROR_SUCCESS, file->io_control(code(request_baud_rate), &baud, 4, nullptr, 0, nullptr));
    uint8_t characteristics[3] = {2, 2, 7};
    ASSERT_EQ(ERROR_SUCCESS,
              file->io_control(code(request_data_characteristics), characteristics, 3, nullptr, 0, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, file->io_control(code(request_break_on), nullptr, 0, nullptr, 0, nullptr));
    uint8_t latency = 4;
    ASSERT_EQ(ERROR_SUCCESS, file->io_control(code(request_set_latency), &latency, 1, nullptr, 0, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, file->io_control(code(request_set_dtr), nullptr, 0, nullptr, 0, nullptr));
    sim::ChannelSettings settings = bus_.channel_settings(1, 2);
    EXPECT_EQ(0x20000u | 1250u, settings.baud_divisor) << "12 MHz clock, divisor 1250";
    EXPECT_EQ(0x5207, settings.data_characteristics);
    EXPECT_EQ(4, settings.latency_ms);
    EXPECT_TRUE(settings.dtr);
    uint8_t timer = 0;
    ASSERT_EQ(ERROR_SUCCESS, file->io_control(code(request_get_latency), nullptr, 0, &timer, 1, nullptr));
    EXPECT_EQ(4, timer);
}

TEST_F(DriverOverVirtualChip, EepromWordsRoundTrip)
{
    auto file = open_channel(1, 1);
    ASSERT_TRUE(file);
    uint8_t write[4] = {0x05, 0x00, 0x34, 0x12};
    ASSERT_EQ(ERROR_SUCCESS, file->io_control(code(request_eeprom_write), write, 4, nullptr, 0, nullptr));
    uint32_t address = 5;
    uint16_t word = 0;
    ASSERT_EQ(ERROR_SUCCESS, file->io_control(code(request_eeprom_read), &address, 4, &word, 2, nullptr));
    EXPECT_EQ(0x1234, word);
    uint8_t guard[4] = {0xAD, 0x0B, 0xEE, 0xAD};
    ASSERT_EQ(ERROR_SUCCESS, file->io_control(code(request_eeprom_erase), guard, 4, nullptr, 0, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, file->io_control(code(request_eeprom_read), &address, 4, &word, 2, nullptr));
    EXPECT_EQ(0xFFFF, word);
}

TEST_F(DriverOverVirtualChip, ModemLineChangeSignalsTheEvent)
{
    auto file = open_channel(0, 1);
    ASSERT_TRUE(file);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    struct {
        void *device;
        uint32_t mask;
        void *parameter;
    } record{nullptr, FTDEV_EVENT_MODEM_STATUS, event};
    ASSERT_EQ(ERROR_SUCCESS,
              file->io_control(code(request_event_notification), &record, sizeof record, nullptr, 0, nullptr));
    // Let the task learn the lines as they are before they change.
    Sleep(100);
    bus_.set_modem_lines(0, 1, 0x30);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 2000));
    uint32_t status = 0;
    ASSERT_EQ(ERROR_SUCCESS, file->io_control(code(request_modem_status), nullptr, 0, &status, 4, nullptr));
    EXPECT_EQ(0x30u, status & 0xFF);
    CloseHandle(event);
}

TEST_F(DriverOverVirtualChip, UnpluggedDeviceFailsReadsAndWrites)
{
    auto file = open_channel(0, 1);
    ASSERT_TRUE(file);
    ASSERT_EQ(ERROR_SUCCESS, set_timeouts(*file, 500, 500));
    ASSERT_EQ(usb::Status::ok, bus_.bus().set_plugged(InprocBus::device_id(0), false));
    uint8_t byte = 0;
    uint32_t done = 0;
    EXPECT_EQ(ERROR_DEVICE_NOT_CONNECTED, file->read(&byte, 1, &done));
    EXPECT_EQ(ERROR_DEVICE_NOT_CONNECTED, file->write(&byte, 1, &done));
}

} // namespace
} // namespace corvane::testing
