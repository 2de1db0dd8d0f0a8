// Request decoding and what the driver tells about the device itself.
#include "unit/driver/driver_fixture.h"

#include <cstring>
#include <string>

namespace corvane::testing {
namespace {

using namespace driver; // the request index names

struct Information {
    uint32_t status, chip_code, id, reserved;
    std::string serial, description;
    bool serial_terminated, description_terminated;
};

class DeviceInformation : public DriverFixture {
protected:
    Information ask(uint32_t code = request_code(request_device_information))
    {
        Bytes reply(96, 0);
        reply[0] = 17;
        std::memcpy(reply.data() + 12, "\xEF\xBE\xAD\xDE", 4);
        uint32_t returned = 0;
        last_error = file_->io_control(code, reply.data(), 96, reply.data(), 96, &returned);
        Information info{u32_at(reply),
                         u32_at(reply, 4),
                         u32_at(reply, 8),
                         u32_at(reply, 12),
                         std::string(reinterpret_cast<char *>(reply.data() + 16),
                                     strnlen(reinterpret_cast<char *>(reply.data() + 16), 16)),
                         std::string(reinterpret_cast<char *>(reply.data() + 32),
                                     strnlen(reinterpret_cast<char *>(reply.data() + 32), 64)),
                         std::memchr(reply.data() + 16, 0, 16) != nullptr,
                         std::memchr(reply.data() + 32, 0, 64) != nullptr};
        return info;
    }
    uint32_t last_error = 0;
};

TEST_F(DeviceInformation, SingleChannelChipGivesItsStringsAsTheyAre)
{
    open(single_channel_chip());
    Information info = ask();
    ASSERT_EQ(ERROR_SUCCESS, last_error);
    EXPECT_EQ(0u, info.status);
    EXPECT_EQ(0x40360012u, info.chip_code);
    EXPECT_EQ(0x04036001u, info.id);
    EXPECT_EQ(0xDEADBEEFu, info.reserved);
    EXPECT_EQ("CV000001", info.serial);
    EXPECT_EQ("Corvane serial", info.description);
}

TEST_F(DeviceInformation, EachChannelListsWithItsLetter)
{
    open(dual_channel_chip(), 2);
    Information info = ask();
    EXPECT_EQ(0x40360101u, info.chip_code);
    EXPECT_EQ(0x04036010u, info.id);
    EXPECT_EQ("CV000002B", info.serial);
    EXPECT_EQ("Corvane USB device B", info.description);
}

TEST_F(DeviceInformation, LongStringsAreBoundedAndKeepTheChannelLetter)
{
    usb::DeviceIdentity identity = dual_channel_chip();
    identity.serial = std::string(40, 'S');
    identity.product = std::string(100, 'P');
    open(identity, 1);
    Information info = ask();
    EXPECT_TRUE(info.serial_terminated);
    EXPECT_TRUE(info.description_terminated);
    EXPECT_EQ(std::string(14, 'S') + "A", info.serial);
    EXPECT_EQ(std::string(61, 'P') + " A", info.description);
}

TEST_F(DeviceInformation, UnknownChipHasAChipCodeOutsideTheTable)
{
    usb::DeviceIdentity identity = single_channel_chip();
    identity.bcd_device = 0x4242;
    open(identity);
    EXPECT_EQ(0x40360000u, ask().chip_code);
}

TEST_F(DeviceInformation, TextsLocationAndPacketSizeOfAChannel)
{
    open(dual_channel_chip(), 2);
    Bytes text(64, 0xFF);
    uint32_t returned = 0;
    ASSERT_EQ(ERROR_SUCCESS, request(request_description, Bytes(64, 0), &text, &returned));
    EXPECT_STREQ("Corvane USB device B", reinterpret_cast<char *>(text.data()));
    EXPECT_EQ(20u, returned);
    ASSERT_EQ(ERROR_SUCCESS, request(request_serial_number, Bytes(64, 0), &text, &returned));
    EXPECT_STREQ("CV000002B", reinterpret_cast<char *>(text.data()));
    Bytes location(4);
    ASSERT_EQ(ERROR_SUCCESS, request(request_location, location, &location));
    EXPECT_EQ(0x2212u, u32_at(location));
    Bytes packet_size(2);
    ASSERT_EQ(ERROR_SUCCESS, request(request_packet_size, {}, &packet_size, &returned));
    EXPECT_EQ((Bytes{0x00, 0x02}), packet_size);
    EXPECT_EQ(2u, returned);
}

using RequestCode = DeviceInformation;

TEST_F(RequestCode, EitherGenerationReachesTheSameRequest)
{
    open(single_channel_chip());
    for (uint32_t code :
         {request_code(request_device_information), alternate_request_code(request_device_information)}) {
        Information info = ask(code);
        EXPECT_EQ(ERROR_SUCCESS, last_error);
        EXPECT_EQ(0x40360012u, info.chip_code);
    }
}

TEST_F(RequestCode, AlternateOnlyDeviceRefusesThePrimaryCodes)
{
    usb::DeviceIdentity identity = single_channel_chip();
    identity.alternate_codes_only = true;
    open(identity);
    Information info = ask(request_code(request_device_information));
    EXPECT_EQ(ERROR_INVALID_FUNCTION, last_error);
    EXPECT_EQ(17u, info.status) << "a refused request leaves the reply alone";
    info = ask(alternate_request_code(request_device_information));
    EXPECT_EQ(ERROR_SUCCESS, last_error);
    EXPECT_EQ(0u, info.status);
}

TEST_F(RequestCode, CodesOutsideTheTablesAreRefused)
{
    open(single_channel_chip());
    for (uint32_t code : {0xFFFFFFFFu, request_code(request_index_count), request_code(2), request_code(86),
                          request_code(75), 0x00220001u, alternate_request_code(0x7FF), 0x00230000u}) {
        uint32_t returned = 7;
        EXPECT_EQ(ERROR_INVALID_FUNCTION, file_->io_control(code, nullptr, 0, nullptr, 0, &returned))
            << std::hex << code;
        EXPECT_EQ(0u, returned);
    }
}

TEST_F(RequestCode, ClosedFileRefusesEverything)
{
    open(single_channel_chip());
    file_->close();
    uint8_t byte = 0;
    uint32_t done = 0;
    EXPECT_EQ(ERROR_INVALID_HANDLE, request(request_packet_size, {}, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, file_->read(&byte, 1, &done));
    EXPECT_EQ(ERROR_INVALID_HANDLE, file_->write(&byte, 1, &done));
}

} // namespace
} // namespace corvane::testing
