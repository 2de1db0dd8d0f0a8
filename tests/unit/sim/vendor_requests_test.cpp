// The vendor requests of the chip model and their effect on the chip's state.
#include "sim_test_helpers.h"

namespace corvane::testing {
namespace {

namespace ftdi = usb::ftdi;

class VendorRequests : public ::testing::Test {
protected:
    InprocBus fixture{{"ft232r", "ft2232h", "ft232h", "ftx", "ft232b"}};
    std::unique_ptr<usb::Transport> transport = usb::make_inproc_transport(fixture.bus());
};

// The single-channel chips before the H series carry divisor bits 16 and up in the whole
// of wIndex; the others in its high byte, with the channel in the low byte.
TEST_F(VendorRequests, BaudDivisorHighBitsFollowTheChipsIndexLayout)
{
    struct Case {
        const char *id;
        unsigned channel;
        uint16_t value, index;
        uint32_t divisor;
    };
    const Case cases[] = {
        {"0", 1, 0x4138, 0x0001, 0x14138},
        {"1", 2, 0x001A, 0x0202, 0x2001A},
        {"2", 1, 0x0004, 0x0201, 0x20004},
    };
    for (const Case &c : cases) {
        auto channel = open_channel(*transport, c.id, c.channel);
        ASSERT_EQ(send_out(*channel, ftdi::baud_rate, c.value, c.index), usb::Status::ok);
        EXPECT_EQ(fixture.channel_settings(std::stoul(c.id), c.channel).baud_divisor, c.divisor) << c.id;
    }
    EXPECT_EQ(fixture.channel_settings(1, 1).baud_divisor, 0u);
}

TEST_F(VendorRequests, DataCharacteristicsKeepTheBreakBitAndRefuseWhatAUartCannotDo)
{
    auto channel = open_channel(*transport, "0");
    ASSERT_EQ(send_out(*channel, ftdi::data_characteristics, 0x5207, 1), usb::Status::ok);
    EXPECT_EQ(fixture.channel_settings(0, 1).data_characteristics, 0x5207);
    struct Case {
        uint16_t value;
        usb::Status expected;
    };
    const Case cases[] = {
        {0x0008, usb::Status::ok},    {0x0408, usb::Status::ok},    {0x1008, usb::Status::ok},
        {0x0006, usb::Status::stall}, {0x0009, usb::Status::stall}, {0x0508, usb::Status::stall},
        {0x0808, usb::Status::stall}, {0x1808, usb::Status::stall},
    };
    for (const Case &c : cases)
        EXPECT_EQ(send_out(*channel, ftdi::data_characteristics, c.value, 1), c.expected) << std::hex << c.value;
    EXPECT_EQ(fixture.channel_settings(0, 1).data_characteristics, 0x1008);
}

TEST_F(VendorRequests, LatencyTimerReadsBackAndRefusesValuesOutsideOneTo255)
{
    auto channel = open_channel(*transport, "1", 2);
    std::vector<uint8_t> reply;
    ASSERT_EQ(read_in(*channel, ftdi::get_latency, 2, reply, 1), usb::Status::ok);
    EXPECT_EQ(reply, std::vector<uint8_t>{16});
    ASSERT_EQ(send_out(*channel, ftdi::set_latency, 255, 2), usb::Status::ok);
    EXPECT_EQ(send_out(*channel, ftdi::set_latency, 0, 2), usb::Status::stall);
    EXPECT_EQ(send_out(*channel, ftdi::set_latency, 256, 2), usb::Status::stall);
    ASSERT_EQ(read_in(*channel, ftdi::get_latency, 2, reply, 1), usb::Status::ok);
    EXPECT_EQ(reply, std::vector<uint8_t>{255});
    ASSERT_EQ(read_in(*channel, ftdi::get_latency, 1, reply, 1), usb::Status::ok);
    EXPECT_EQ(reply, std::vector<uint8_t>{16});
}

TEST_F(VendorRequests, BitBangOutputsReadBackThroughThePins)
{
    auto channel = open_channel(*transport, "0");
    std::vector<uint8_t> reply;
    ASSERT_EQ(read_in(*channel, ftdi::read_pins, 1, reply, 1), usb::Status::ok);
    EXPECT_EQ(reply, std::vector<uint8_t>{0xFF});
    ASSERT_EQ(send_out(*channel, ftdi::set_bit_mode, 0x010F, 1), usb::Status::ok);
    EXPECT_EQ(fixture.channel_settings(0, 1).bit_mode, 0x01);
    EXPECT_EQ(fixture.channel_settings(0, 1).bit_mask, 0x0F);
    const uint8_t pattern[] = {0x00, 0x05};
    size_t sent = 0;
    ASSERT_EQ(channel->bulk_out(pattern, 2, 100, &sent), usb::Status::ok);
    ASSERT_EQ(read_in(*channel, ftdi::read_pins, 1, reply, 1), usb::Status::ok);
    EXPECT_EQ(reply, std::vector<uint8_t>{0xF5});
}

TEST_F(VendorRequests, ResetAndBothPurgeValuesDropBytesInFlight)
{
    auto channel = open_channel(*transport, "0");
    for (uint16_t value : {ftdi::reset_channel, ftdi::purge_rx, ftdi::purge_tx}) {
        const uint8_t data[] = {1, 2, 3};
        size_t sent = 0, got = 0;
        ASSERT_EQ(channel->bulk_out(data, 3, 100, &sent), usb::Status::ok);
        ASSERT_EQ(send_out(*channel, ftdi::reset_purge, value, 1), usb::Status::ok);
        std::vector<uint8_t> buffer(64);
        ASSERT_EQ(channel->bulk_in(buffer.data(), buffer.size(), 100, &got), usb::Status::ok);
        EXPECT_EQ(got, 2u) << "purge value " << value;
    }
    EXPECT_EQ(send_out(*channel, ftdi::reset_purge, 3, 1), usb::Status::stall);
}

TEST_F(VendorRequests, RefusedRequestsStall)
{
    auto single = open_channel(*transport, "0");
    auto dual = open_channel(*transport, "1");
    struct Case {
        usb::Channel *channel;
        uint8_t type, request;
        uint16_t value, index;
        usb::Status expected;
    };
    const Case cases[] = {
        {single.get(), ftdi::request_out, 0x08, 0, 1, usb::Status::stall},               // unknown bRequest
        {single.get(), ftdi::request_out, ftdi::set_latency, 16, 2, usb::Status::stall}, // no channel B
        {single.get(), ftdi::request_out, ftdi::set_latency, 16, 0, usb::Status::ok},    // its only channel
        {dual.get(), ftdi::request_out, ftdi::set_latency, 16, 0, usb::Status::stall},
        {dual.get(), ftdi::request_out, ftdi::set_latency, 16, 3, usb::Status::stall},
        {single.get(), ftdi::request_out, ftdi::modem_status, 0, 1, usb::Status::stall}, // wrong direction
        {single.get(), ftdi::request_in, ftdi::set_latency, 16, 1, usb::Status::stall},
        {single.get(), ftdi::request_out, ftdi::flow_control, 0, 0x0301, usb::Status::stall},
        {single.get(), ftdi::request_out, ftdi::event_char, 0x200, 1, usb::Status::stall},
    };
    for (const Case &c : cases) {
        usb::ControlSetup setup{c.type, c.request, c.value, c.index, 0};
        uint16_t transferred = 0;
        EXPECT_EQ(c.channel->control(setup, nullptr, 100, &transferred), c.expected)
            << std::hex << int(c.request) << " " << c.index;
    }
}

TEST_F(VendorRequests, ModelOnlyConfigurationRequestsOnFt232hAndFtxOnly)
{
    for (const char *id : {"2", "3"}) {
        auto channel = open_channel(*transport, id);
        std::vector<uint8_t> reply;
        ASSERT_EQ(send_out(*channel, ftdi::model_write_config, 0xA5, 0x10), usb::Status::ok);
        ASSERT_EQ(read_in(*channel, ftdi::model_read_config, 0x10, reply, 1), usb::Status::ok);
        EXPECT_EQ(reply, std::vector<uint8_t>{0xA5});
        EXPECT_EQ(send_out(*channel, ftdi::model_write_config, 0x1A5, 0x10), usb::Status::stall);
        EXPECT_EQ(send_out(*channel, ftdi::model_write_config, 0x01, 0x100), usb::Status::stall);
    }
    fixture.set_error_correction_word(3, 0xBEEF);
    auto ftx = open_channel(*transport, "3");
    std::vector<uint8_t> reply;
    ASSERT_EQ(read_in(*ftx, ftdi::model_read_ecc, 0, reply, 2), usb::Status::ok);
    EXPECT_EQ(reply, (std::vector<uint8_t>{0xEF, 0xBE}));
    for (const char *id : {"0", "1", "4"}) {
        auto other = open_channel(*transport, id);
        EXPECT_EQ(read_in(*other, ftdi::model_read_config, 0, reply, 1), usb::Status::stall) << id;
        EXPECT_EQ(read_in(*other, ftdi::model_read_ecc, 0, reply, 2), usb::Status::stall) << id;
    }
}

TEST_F(VendorRequests, ControlLogHoldsEveryRequestWithDataAsSentOrAnswered)
{
    auto channel = open_channel(*transport, "0");
    fixture.clear_control_log(0);
    ASSERT_EQ(send_out(*channel, ftdi::set_latency, 9, 1), usb::Status::ok);
    std::vector<uint8_t> reply;
    ASSERT_EQ(read_in(*channel, ftdi::get_latency, 1, reply, 1), usb::Status::ok);
    EXPECT_EQ(send_out(*channel, 0x42, 1, 2), usb::Status::stall);
    std::vector<RecordedControl> log = fixture.control_log(0);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].setup.request, ftdi::set_latency);
    EXPECT_EQ(log[0].setup.value, 9);
    EXPECT_TRUE(log[0].data.empty());
    EXPECT_EQ(log[1].setup.request_type, ftdi::request_in);
    EXPECT_EQ(log[1].data, std::vector<uint8_t>{9});
    EXPECT_EQ(log[2].setup.request, 0x42);
    fixture.clear_control_log(0);
    EXPECT_TRUE(fixture.control_log(0).empty());
}

} // namespace
} // namespace corvane::testing
