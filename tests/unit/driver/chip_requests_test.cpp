// The vendor requests that the driver's requests become, byte for byte.
#include "unit/driver/driver_fixture.h"

namespace corvane::testing {
namespace {

using namespace driver; // the request index names

constexpr uint8_t out = 0x40, in = 0xC0;

struct VendorCase {
    const char *name;
    unsigned request;
    Bytes input;
    uint8_t vendor_request;
    uint16_t value;
    uint16_t index;
};

class VendorRequest : public DriverFixture, public ::testing::WithParamInterface<VendorCase> {};

TEST_P(VendorRequest, SendsTheChipRequest)
{
    const VendorCase &c = GetParam();
    open(single_channel_chip());
    chat_->expect_control(out, c.vendor_request, c.value, c.index);
    EXPECT_EQ(ERROR_SUCCESS, request(c.request, c.input));
}

INSTANTIATE_TEST_SUITE_P(
    SingleChannelChip, VendorRequest,
    ::testing::Values(VendorCase{"Reset", request_reset, {}, 0x00, 0x0000, 1},
                      VendorCase{"EightNoneOne", request_data_characteristics, {0x00, 0x00, 0x08}, 0x04, 0x0008, 1},
                      VendorCase{"SevenEvenTwo", request_data_characteristics, {0x02, 0x02, 0x07}, 0x04, 0x1207, 1},
                      VendorCase{"BreakBeforeAnyCharacteristics", request_break_on, {}, 0x04, 0x4008, 1},
                      VendorCase{"NoFlowControl", request_flow_control, {0x00, 0x00, 0x11, 0x13}, 0x02, 0x1311, 0x0001},
                      VendorCase{"RtsCts", request_flow_control, {0x00, 0x01, 0x11, 0x13}, 0x02, 0x1311, 0x0101},
                      VendorCase{"XonXoff", request_flow_control, {0x00, 0x04, 0x11, 0x13}, 0x02, 0x1311, 0x0401},
                      VendorCase{"SetDtr", request_set_dtr, {}, 0x01, 0x0101, 1},
                      VendorCase{"ClearDtr", request_clear_dtr, {}, 0x01, 0x0100, 1},
                      VendorCase{"SetRts", request_set_rts, {}, 0x01, 0x0202, 1},
                      VendorCase{"ClearRts", request_clear_rts, {}, 0x01, 0x0200, 1},
                      VendorCase{"PurgeTransmit", request_purge, u32_bytes(2), 0x00, 0x0002, 1},
                      VendorCase{"Latency", request_set_latency, {2}, 0x09, 2, 1},
                      VendorCase{"BitMode", request_set_bit_mode, {0xF0, 0x01}, 0x0B, 0x01F0, 1},
                      VendorCase{"BaudRate", request_baud_rate, u32_bytes(115200), 0x03, 0x001A, 0},
                      VendorCase{"Divisor", request_divisor, {0x38, 0x41}, 0x03, 0x4138, 0},
                      VendorCase{"EepromWord", request_eeprom_write, {0x05, 0x00, 0x34, 0x12}, 0x91, 0x1234, 5},
                      VendorCase{"EepromErase", request_eeprom_erase, {0xAD, 0x0B, 0xEE, 0xAD}, 0x92, 0, 0}),
    [](const auto &info) { return std::string(info.param.name); });

struct RefusedCase {
    const char *name;
    unsigned request;
    Bytes input;
};

class RefusedInput : public DriverFixture, public ::testing::WithParamInterface<RefusedCase> {};

// Refused in the driver: nothing reaches the chip (the script expects no request).
TEST_P(RefusedInput, ReachesNoChip)
{
    open(single_channel_chip());
    EXPECT_EQ(ERROR_INVALID_PARAMETER, request(GetParam().request, GetParam().input));
}

INSTANTIATE_TEST_SUITE_P(
    SingleChannelChip, RefusedInput,
    ::testing::Values(RefusedCase{"FiveDataBits", request_data_characteristics, {0x00, 0x00, 0x05}},
                      RefusedCase{"OneAndAHalfStopBits", request_data_characteristics, {0x01, 0x00, 0x08}},
                      RefusedCase{"UnknownParity", request_data_characteristics, {0x00, 0x05, 0x08}},
                      RefusedCase{"ShortCharacteristics", request_data_characteristics, {0x00, 0x00}},
                      RefusedCase{"TwoFlowControls", request_flow_control, {0x00, 0x03, 0x11, 0x13}},
                      RefusedCase{"EraseWithoutGuard", request_eeprom_erase, {}},
                      RefusedCase{"EraseWithWrongGuard", request_eeprom_erase, {0xAD, 0x0B, 0xEE, 0xAE}},
                      RefusedCase{"LatencyZero", request_set_latency, {0}},
                      RefusedCase{"PurgeUnknownBit", request_purge, u32_bytes(4)},
                      RefusedCase{"UnreachableBaudRate", request_baud_rate, u32_bytes(2500000)},
                      RefusedCase{"BaudRateZero", request_baud_rate, u32_bytes(0)},
                      RefusedCase{"ShortTimeouts", request_timeouts, {0x10, 0x00, 0x00, 0x00}},
                      RefusedCase{
                          "TransferSizeNotWholePackets", request_transfer_sizes, {0x10, 0x00, 0, 0, 0, 0, 0, 0}}),
    [](const auto &info) { return std::string(info.param.name); });

using ChipRequest = DriverFixture;

TEST_F(ChipRequest, BreakKeepsTheDataCharacteristics)
{
    open(single_channel_chip());
    chat_->expect_control(out, 0x04, 0x1207, 1);
    chat_->expect_control(out, 0x04, 0x5207, 1);
    chat_->expect_control(out, 0x04, 0x1207, 1);
    ASSERT_EQ(ERROR_SUCCESS, request(request_data_characteristics, {0x02, 0x02, 0x07}));
    EXPECT_EQ(ERROR_SUCCESS, request(request_break_on, {}));
    EXPECT_EQ(ERROR_SUCCESS, request(request_break_off, {}));
}

TEST_F(ChipRequest, RefusedCharacteristicsAreNotRememberedForBreak)
{
    open(single_channel_chip());
    chat_->expect_control(out, 0x04, 0x0107, 1, {}, usb::Status::stall);
    chat_->expect_control(out, 0x04, 0x4008, 1);
    EXPECT_EQ(ERROR_GEN_FAILURE, request(request_data_characteristics, {0x00, 0x01, 0x07}));
    EXPECT_EQ(ERROR_SUCCESS, request(request_break_on, {}));
}

TEST_F(ChipRequest, SpecialCharactersSetEventThenErrorCharacter)
{
    open(single_channel_chip());
    chat_->expect_control(out, 0x06, 0x017E, 1);
    chat_->expect_control(out, 0x07, 0x0021, 1);
    EXPECT_EQ(ERROR_SUCCESS, request(request_special_characters, {0x7E, 1, 0x21, 0}));
}

TEST_F(ChipRequest, PurgeBothBuffers)
{
    open(single_channel_chip());
    chat_->expect_control(out, 0x00, 1, 1);
    chat_->expect_control(out, 0x00, 2, 1);
    EXPECT_EQ(ERROR_SUCCESS, request(request_purge, u32_bytes(3)));
}

TEST_F(ChipRequest, EepromWordReadCarriesTheAddress)
{
    open(single_channel_chip());
    chat_->expect_control(in, 0x90, 0, 0x42, {0x34, 0x12});
    Bytes word(2);
    uint32_t returned = 0;
    EXPECT_EQ(ERROR_SUCCESS, request(request_eeprom_read, u32_bytes(0x42), &word, &returned));
    EXPECT_EQ((Bytes{0x34, 0x12}), word);
    EXPECT_EQ(2u, returned);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, request(request_eeprom_read, u32_bytes(0x10000), &word));
}

TEST_F(ChipRequest, ModemStatusMasksTheReservedBits)
{
    open(single_channel_chip());
    chat_->expect_control(in, 0x05, 0, 1, {0xF3, 0x60});
    Bytes status(4, 0xEE);
    EXPECT_EQ(ERROR_SUCCESS, request(request_modem_status, {}, &status));
    EXPECT_EQ((Bytes{0xF0, 0x60, 0x00, 0x00}), status);
}

TEST_F(ChipRequest, ShortReplyFromTheChipFails)
{
    open(single_channel_chip());
    chat_->expect_short_reply(0x05, 0, 1, 2, {0xF3});
    Bytes status(4);
    EXPECT_NE(ERROR_SUCCESS,
              file_->io_control(request_code(request_modem_status), nullptr, 0, status.data(), 4, nullptr));
}

TEST_F(ChipRequest, SecondChannelIsAddressedByItsNumber)
{
    open(dual_channel_chip(), 2);
    chat_->expect_control(out, 0x09, 16, 2);
    chat_->expect_control(in, 0x0A, 0, 2, {16});
    chat_->expect_control(out, 0x03, 0x04E2, 0x0202);
    EXPECT_EQ(ERROR_SUCCESS, request(request_set_latency, {16}));
    Bytes timer(1);
    EXPECT_EQ(ERROR_SUCCESS, request(request_get_latency, {}, &timer));
    EXPECT_EQ(16, timer[0]);
    EXPECT_EQ(ERROR_SUCCESS, request(request_baud_rate, u32_bytes(9600)));
}

TEST_F(ChipRequest, ModelOnlyRequestsNeverReachARealChip)
{
    open(single_channel_chip());
    Bytes value(2);
    EXPECT_EQ(ERROR_NOT_SUPPORTED, request(request_read_config, {0x10}, &value));
    EXPECT_EQ(ERROR_NOT_SUPPORTED, request(request_write_config, {0x10, 0x55}));
    EXPECT_EQ(ERROR_NOT_SUPPORTED, request(request_read_ecc, {0x00}, &value));
}

TEST_F(ChipRequest, ModelOnlyRequestsReachAVirtualChip)
{
    usb::DeviceIdentity identity = single_channel_chip();
    identity.virtual_model = true;
    open(identity);
    chat_->expect_control(in, 0xE0, 0, 0x10, {0xA5});
    chat_->expect_control(out, 0xE1, 0x55, 0x10);
    chat_->expect_control(in, 0xE2, 1, 0, {0x01, 0x02});
    Bytes byte(1), word(2);
    EXPECT_EQ(ERROR_SUCCESS, request(request_read_config, {0x10}, &byte));
    EXPECT_EQ(0xA5, byte[0]);
    EXPECT_EQ(ERROR_SUCCESS, request(request_write_config, {0x10, 0x55}));
    EXPECT_EQ(ERROR_SUCCESS, request(request_read_ecc, {0x01}, &word));
    EXPECT_EQ((Bytes{0x01, 0x02}), word);
}

TEST_F(ChipRequest, CyclePortLeavesTheChannelGone)
{
    open(single_channel_chip());
    EXPECT_EQ(ERROR_SUCCESS, request(request_cycle_port, {}));
    EXPECT_EQ(1u, chat_->reenumerations());
    EXPECT_EQ(ERROR_DEVICE_NOT_CONNECTED, request(request_set_dtr, {}));
    uint8_t byte = 0;
    uint32_t done = 0;
    EXPECT_EQ(ERROR_DEVICE_NOT_CONNECTED, file_->read(&byte, 1, &done));
    EXPECT_EQ(ERROR_DEVICE_NOT_CONNECTED, file_->write(&byte, 1, &done));
}

} // namespace
} // namespace corvane::testing
