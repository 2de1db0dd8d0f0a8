// The data path, the general request and the request tables, over the whole stack.
#include "device/handle_list.h"
#include "unit/device/device_test_support.h"
#include "support/inproc_bus.h"

#include <array>
#include <cstring>
#include <numeric>

namespace {

using corvane::device::testing::OpenDevice;
using corvane::device::testing::open_or_fail;

constexpr uint32_t primary_code(unsigned index) { return 0x00220000u + 4u * index; }
constexpr uint32_t alternate_code(unsigned index) { return 0x00222000u + 4u * index; }

class DataPath : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=A1"}};
};

TEST_F(DataPath, BytesWrittenComeBackThroughTheLoopback)
{
    OpenDevice device(0);
    ASSERT_EQ(FT_SetTimeouts(device.get(), 1000, 1000), FTDEV_OK);
    std::array<uint8_t, 300> sent;
    std::iota(sent.begin(), sent.end(), uint8_t{1});
    uint32_t written = 0;
    ASSERT_EQ(FT_Write(device.get(), sent.data(), sent.size(), &written), FTDEV_OK);
    EXPECT_EQ(written, sent.size());

    std::array<uint8_t, 300> received{};
    uint32_t read = 0;
    ASSERT_EQ(FT_Read(device.get(), received.data(), received.size(), &read), FTDEV_OK);
    EXPECT_EQ(read, received.size());
    EXPECT_EQ(received, sent);
}

TEST_F(DataPath, AReadThatTimesOutEmptySucceedsWithNothing)
{
    OpenDevice device(0);
    ASSERT_EQ(FT_SetTimeouts(device.get(), 20, 20), FTDEV_OK);
    uint8_t byte = 0;
    uint32_t read = 12345;
    EXPECT_EQ(FT_Read(device.get(), &byte, 1, &read), FTDEV_OK);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(FT_Read(device.get(), &byte, 0, &read), FTDEV_OK);
    EXPECT_EQ(read, 0u);
}

TEST_F(DataPath, MissingCountsAreRefusedRatherThanWrittenThrough)
{
    OpenDevice device(0);
    uint8_t buffer[4] = {};
    uint32_t count = 0;
    EXPECT_EQ(FT_Read(device.get(), buffer, sizeof buffer, nullptr), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_Write(device.get(), buffer, sizeof buffer, nullptr), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_Read(device.get(), nullptr, 4, &count), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_Write(device.get(), nullptr, 4, &count), FTDEV_INVALID_PARAMETER);
}

TEST_F(DataPath, ClosingTwiceIsRefusedTheSecondTime)
{
    FtdevHandle handle = open_or_fail(0);
    EXPECT_EQ(FT_Close(handle), FTDEV_OK);
    EXPECT_EQ(FT_Close(handle), FTDEV_INVALID_HANDLE);
    // The device is free again.
    OpenDevice again(0);
    EXPECT_NE(again.get(), nullptr);
}

class Requests : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=A1", "ft232r,serial=B2,alt=1"}};
};

// Indexes the tables hold no request for, at both ends of the gaps.
TEST_F(Requests, UnassignedIndexesReachTheDriverAndAreRefused)
{
    for (uint32_t index : {0u, 1u}) {
        OpenDevice device(index);
        for (unsigned request : {4u, 15u, 17u, 31u, 42u, 64u, 66u, 70u, 75u, 78u, 80u, 84u, 85u, 88u, 108u, 110u}) {
            uint8_t reply[8] = {};
            uint32_t returned = 0;
            EXPECT_EQ(FT_IoCtl(device.get(), primary_code(request), reply, sizeof reply, reply, sizeof reply,
                               &returned, nullptr),
                      FTDEV_IO_ERROR)
                << "device " << index << " request " << request;
        }
    }
}

TEST_F(Requests, IndexesPastTheTablesAreRefused)
{
    OpenDevice device(0);
    uint8_t reply[8] = {};
    uint32_t returned = 0;
    for (uint32_t code : {primary_code(119), primary_code(0xFFF), 0xFFFFFFFFu})
        EXPECT_EQ(FT_IoCtl(device.get(), code, reply, sizeof reply, reply, sizeof reply, &returned, nullptr),
                  FTDEV_IO_ERROR)
            << std::hex << code;
}

TEST_F(Requests, EitherGenerationOfCodeReachesTheSameRequest)
{
    OpenDevice device(0);
    ASSERT_EQ(FT_SetLatencyTimer(device.get(), 42), FTDEV_OK);
    uint8_t latency = 0;
    uint32_t returned = 0;
    ASSERT_EQ(FT_IoCtl(device.get(), alternate_code(93), nullptr, 0, &latency, 1, &returned, nullptr), FTDEV_OK);
    EXPECT_EQ(latency, 42);
    latency = 0;
    ASSERT_EQ(FT_IoCtl(device.get(), primary_code(93), nullptr, 0, &latency, 1, nullptr, nullptr), FTDEV_OK);
    EXPECT_EQ(latency, 42);
}

TEST_F(Requests, ADriverOfTheOtherGenerationGetsTheAlternateTable)
{
    OpenDevice primary(0);
    OpenDevice alternate(1);
    const auto *primary_record = corvane::device::find_open(primary.get());
    const auto *alternate_record = corvane::device::find_open(alternate.get());
    ASSERT_NE(primary_record, nullptr);
    ASSERT_NE(alternate_record, nullptr);
    EXPECT_EQ(primary_record->request_table, corvane::device::primary_requests);
    EXPECT_EQ(alternate_record->request_table, corvane::device::alternate_requests);

    // The identity came through on the second try, and later requests keep working.
    EXPECT_EQ(alternate_record->device_type, uint32_t{FTDEV_DEVICE_232R});
    EXPECT_STREQ(alternate_record->serial_number, "B2");
    EXPECT_GT(alternate_record->packet_size, 0u);
    ASSERT_EQ(FT_SetLatencyTimer(alternate.get(), 7), FTDEV_OK);
    uint8_t latency = 0;
    ASSERT_EQ(FT_GetLatencyTimer(alternate.get(), &latency), FTDEV_OK);
    EXPECT_EQ(latency, 7);
    EXPECT_EQ(FT_GetDeviceInfo(alternate.get(), nullptr, nullptr, nullptr, nullptr, nullptr), FTDEV_OK);
}

TEST(RequestTables, HoldTheSupportedIndexesAndNothingElse)
{
    using corvane::device::alternate_requests;
    using corvane::device::primary_requests;
    unsigned supported = 0;
    for (unsigned index = 0; index < corvane::device::request_count; ++index) {
        if (primary_requests[index] == 0xFFFFFFFFu) {
            EXPECT_EQ(alternate_requests[index], 0xFFFFFFFFu) << index;
            continue;
        }
        ++supported;
        EXPECT_EQ(primary_requests[index], primary_code(index)) << index;
        EXPECT_EQ(alternate_requests[index], alternate_code(index)) << index;
    }
    EXPECT_EQ(supported, 57u);
    for (unsigned index : {0u, 3u, 16u, 32u, 41u, 65u, 67u, 69u, 71u, 74u, 76u, 77u, 81u, 83u, 86u, 87u, 89u, 107u,
                           111u, 118u})
        EXPECT_NE(primary_requests[index], 0xFFFFFFFFu) << index;
}

class Opening : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=A1", "ft232r,serial=B2"}};
};

TEST_F(Opening, AnOpenDeviceCannotBeOpenedAgain)
{
    OpenDevice device(0);
    FtdevHandle second = reinterpret_cast<FtdevHandle>(0x1234);
    EXPECT_EQ(FT_Open(0, &second), FTDEV_DEVICE_NOT_OPENED);
    EXPECT_EQ(second, reinterpret_cast<FtdevHandle>(0x1234));
}

TEST_F(Opening, AnIndexAtOrPastTheCountFindsNothing)
{
    FtdevHandle handle = reinterpret_cast<FtdevHandle>(0x1234);
    EXPECT_EQ(FT_Open(2, &handle), FTDEV_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Open(0xFFFFFFFFu, &handle), FTDEV_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, reinterpret_cast<FtdevHandle>(0x1234));
    EXPECT_EQ(FT_Open(0, nullptr), FTDEV_INVALID_PARAMETER);
}

TEST_F(Opening, ClosingTheEarlierOfTwoLeavesTheLaterValid)
{
    FtdevHandle earlier = open_or_fail(0);
    OpenDevice later(1);
    EXPECT_EQ(static_cast<corvane::device::HandleRecord *>(later.get())->next,
              static_cast<corvane::device::HandleRecord *>(earlier));
    EXPECT_EQ(FT_Close(earlier), FTDEV_OK);
    EXPECT_EQ(FT_ResetDevice(later.get()), FTDEV_OK);
    EXPECT_EQ(corvane::device::find_open(later.get())->next, nullptr);
}

TEST_F(Opening, TheRecordDescribesTheDevice)
{
    OpenDevice device(1);
    const auto *record = corvane::device::find_open(device.get());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->self, record);
    EXPECT_EQ(record->open_flags, 0u);
    EXPECT_NE(record->path_block, nullptr);
    EXPECT_EQ(record->device_type, uint32_t{FTDEV_DEVICE_232R});
    EXPECT_EQ(record->listed_device_type, uint32_t{FTDEV_DEVICE_232R});
    EXPECT_STREQ(record->serial_number, "B2");
    EXPECT_EQ(record->packet_size, 64u);

    uint32_t type = 99, id = 0, reserved = 0;
    char serial_number[16], description[64];
    ASSERT_EQ(FT_GetDeviceInfo(device.get(), &type, &id, serial_number, description, &reserved), FTDEV_OK);
    EXPECT_EQ(type, uint32_t{FTDEV_DEVICE_232R});
    EXPECT_EQ(id, record->id);
    EXPECT_STREQ(serial_number, "B2");
    EXPECT_STREQ(description, record->description);
}

} // namespace
