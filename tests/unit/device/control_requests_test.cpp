// The control requests as the chip received them: the bytes each function packs must
// arrive as the right vendor request with the right values.
#include "platform/platform.h"
#include "support/inproc_bus.h"
#include "unit/device/device_test_support.h"
#include "wire/ftdi_protocol.h"

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

namespace {

using corvane::device::testing::OpenDevice;
namespace ftdi = corvane::usb::ftdi;

struct ControlCase {
    const char *name;
    std::function<FtdevStatus(FtdevHandle)> call;
    uint8_t request;
    uint16_t value;
    std::optional<uint16_t> index; // only where it carries more than the channel
};

class ControlRequests : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=A1"}};
    OpenDevice device{0};

    std::optional<corvane::testing::RecordedControl> last_request(size_t since, uint8_t request)
    {
        const auto log = bus.control_log(0);
        std::optional<corvane::testing::RecordedControl> found;
        for (size_t i = since; i < log.size(); ++i)
            if (log[i].setup.request == request)
                found = log[i];
        return found;
    }
};

TEST_F(ControlRequests, EachArrivesWithItsValues)
{
    const uint32_t latency_above_a_byte = 0x1FF; // only the low byte may reach the chip
    const ControlCase cases[] = {
        {"8/0/0",
         [](FtdevHandle h) { return FT_SetDataCharacteristics(h, 8, 0, 0); },
         ftdi::data_characteristics,
         0x0008,
         {}},
        {"7/2/1",
         [](FtdevHandle h) { return FT_SetDataCharacteristics(h, 7, 2, 1); },
         ftdi::data_characteristics,
         0x1107,
         {}},
        {"write EE", [](FtdevHandle h) { return FT_WriteEE(h, 5, 0x1234); }, ftdi::write_eeprom, 0x1234, 5},
        {"write EE high offset", [](FtdevHandle h) { return FT_WriteEE(h, 0x10006, 0xBEEF); }, ftdi::write_eeprom,
         0xBEEF, 6},
        {"erase EE", [](FtdevHandle h) { return FT_EraseEE(h); }, ftdi::erase_eeprom, 0, {}},
        {"latency",
         [&](FtdevHandle h) { return FT_SetLatencyTimer(h, static_cast<uint8_t>(latency_above_a_byte)); },
         ftdi::set_latency,
         0x00FF,
         {}},
        {"bit mode", [](FtdevHandle h) { return FT_SetBitMode(h, 0xF0, 0x01); }, ftdi::set_bit_mode, 0x01F0, {}},
        {"event char", [](FtdevHandle h) { return FT_SetChars(h, 0x7E, 1, 0x55, 0); }, ftdi::event_char, 0x017E, {}},
        {"error char", [](FtdevHandle h) { return FT_SetChars(h, 0x7E, 1, 0x55, 1); }, ftdi::error_char, 0x0155, {}},
        {"set DTR", [](FtdevHandle h) { return FT_SetDtr(h); }, ftdi::modem_control, 0x0101, {}},
        {"clear RTS", [](FtdevHandle h) { return FT_ClrRts(h); }, ftdi::modem_control, 0x0200, {}},
        {"reset", [](FtdevHandle h) { return FT_ResetDevice(h); }, ftdi::reset_purge, ftdi::reset_channel, {}},
        {"flow",
         [](FtdevHandle h) { return FT_SetFlowControl(h, ftdi::flow_xon_xoff, 0x11, 0x13); },
         ftdi::flow_control,
         0x1311,
         {}},
        {"divisor", [](FtdevHandle h) { return FT_SetDivisor(h, 0x4138); }, ftdi::baud_rate, 0x4138, {}},
    };
    for (const ControlCase &entry : cases) {
        const size_t since = bus.control_log(0).size();
        ASSERT_EQ(entry.call(device.get()), FTDEV_OK) << entry.name;
        const auto received = last_request(since, entry.request);
        ASSERT_TRUE(received.has_value()) << entry.name;
        EXPECT_EQ(received->setup.request_type, ftdi::request_out) << entry.name;
        EXPECT_EQ(received->setup.value, entry.value) << entry.name;
        if (entry.index) {
            EXPECT_EQ(received->setup.index, *entry.index) << entry.name;
        }
    }
}

TEST_F(ControlRequests, GettersReturnWhatTheChipHolds)
{
    uint16_t word = 0;
    ASSERT_EQ(FT_WriteEE(device.get(), 9, 0xCAFE), FTDEV_OK);
    ASSERT_EQ(FT_ReadEE(device.get(), 9, &word), FTDEV_OK);
    EXPECT_EQ(word, 0xCAFE);
    uint8_t latency = 0;
    ASSERT_EQ(FT_SetLatencyTimer(device.get(), 33), FTDEV_OK);
    ASSERT_EQ(FT_GetLatencyTimer(device.get(), &latency), FTDEV_OK);
    EXPECT_EQ(latency, 33);
    // Outputs the driver would write through are refused when null.
    EXPECT_EQ(FT_ReadEE(device.get(), 9, nullptr), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_GetStatus(device.get(), nullptr, nullptr, nullptr), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_GetModemStatus(device.get(), nullptr), FTDEV_INVALID_PARAMETER);
}

TEST_F(ControlRequests, StatusAndEventNotificationFollowArrivingBytes)
{
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    ASSERT_EQ(FT_SetEventNotification(device.get(), FTDEV_EVENT_RX_CHAR, event), FTDEV_OK);
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    uint32_t written = 0;
    ASSERT_EQ(FT_Write(device.get(), bytes, sizeof bytes, &written), FTDEV_OK);
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);

    // The loopback may hand the bytes back over more than one packet.
    uint32_t rx = 0, tx = 99, events = 0;
    for (int tries = 0; tries < 400 && rx < sizeof bytes; ++tries) {
        ASSERT_EQ(FT_GetStatus(device.get(), &rx, &tx, &events), FTDEV_OK);
        if (rx < sizeof bytes)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(rx, sizeof bytes);
    uint32_t queued = 0;
    ASSERT_EQ(FT_GetQueueStatus(device.get(), &queued), FTDEV_OK);
    EXPECT_EQ(queued, sizeof bytes);
    CloseHandle(event);
}

TEST_F(ControlRequests, ARefusedBaudRateIsABadRate)
{
    const size_t since = bus.control_log(0).size();
    ASSERT_EQ(FT_SetBaudRate(device.get(), 9600), FTDEV_OK);
    EXPECT_TRUE(last_request(since, ftdi::baud_rate).has_value());
    EXPECT_EQ(FT_SetBaudRate(device.get(), 0xFFFFFFFFu), FTDEV_INVALID_BAUD_RATE);
}

} // namespace
