// The data path, the general request and the request tables, over the whole stack.
#include "device/handle_list.h"
#include "driver/request_index.h"
#include "support/inproc_bus.h"
#include "unit/device/device_test_support.h"

#include <array>
#include <numeric>

namespace {

using corvane::device::find_open;
using corvane::device::testing::OpenDevice;
using corvane::device::testing::open_or_fail;

using corvane::driver::request_get_latency;

constexpr uint32_t primary_code(unsigned index)
{
    return corvane::driver::primary_code_base + 4u * index;
}
constexpr uint32_t alternate_code(unsigned index)
{
    return corvane::driver::alternate_code_base + 4u * index;
}

// A plain chip and one whose driver knows only the alternate request codes.
class DeviceIo : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=A1", "ft232r,serial=B2,alt=1"}};
};

TEST_F(DeviceIo, BytesWrittenComeBackThroughTheLoopback)
{
    OpenDevice device(0);
    ASSERT_EQ(FT_SetTimeouts(device.get(), 1000, 1000), FTDEV_OK);
    std::array<uint8_t, 300> sent, received{};
    std::iota(sent.begin(), sent.end(), uint8_t{1});
    uint32_t written = 0, read = 0;
    ASSERT_EQ(FT_Write(device.get(), sent.data(), sent.size(), &written), FTDEV_OK);
    EXPECT_EQ(written, sent.size());
    ASSERT_EQ(FT_Read(device.get(), received.data(), received.size(), &read), FTDEV_OK);
    EXPECT_EQ(read, received.size());
    EXPECT_EQ(received, sent);

    // Nothing more to come: the read times out empty, which is not a failure.
    ASSERT_EQ(FT_SetTimeouts(device.get(), 20, 20), FTDEV_OK);
    read = 12345;
    EXPECT_EQ(FT_Read(device.get(), received.data(), 1, &read), FTDEV_OK);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(FT_Read(device.get(), received.data(), 1, nullptr), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_Write(device.get(), nullptr, 4, &written), FTDEV_INVALID_PARAMETER);
}

TEST_F(DeviceIo, RequestsWithoutATableEntryAreRefusedByTheDriver)
{
    for (uint32_t index : {0u, 1u}) {
        OpenDevice device(index);
        uint8_t reply[8] = {};
        uint32_t returned = 0;
        // Gaps of the tables (sent as 0xFFFFFFFF), and codes past their end.
        for (uint32_t code : {primary_code(4), primary_code(42), primary_code(88), primary_code(110),
                              primary_code(corvane::driver::request_index_count),
                              alternate_code(corvane::driver::request_index_count), 0xFFFFFFFFu})
            EXPECT_EQ(FT_IoCtl(device.get(), code, reply, sizeof reply, reply, sizeof reply, &returned, nullptr),
                      FTDEV_IO_ERROR)
                << "device " << index << " code " << std::hex << code;
    }
}

TEST_F(DeviceIo, EitherGenerationOfCodeReachesTheRequest)
{
    for (uint32_t index : {0u, 1u}) {
        OpenDevice device(index);
        ASSERT_EQ(FT_SetLatencyTimer(device.get(), 42), FTDEV_OK);
        for (uint32_t code : {primary_code(request_get_latency), alternate_code(request_get_latency)}) {
            uint8_t latency = 0;
            ASSERT_EQ(FT_IoCtl(device.get(), code, nullptr, 0, &latency, 1, nullptr, nullptr), FTDEV_OK) << code;
            EXPECT_EQ(latency, 42);
        }
    }
}

TEST_F(DeviceIo, ADriverOfTheOtherGenerationGetsTheAlternateTable)
{
    OpenDevice primary(0), alternate(1);
    EXPECT_EQ(find_open(primary.get())->request_table, corvane::device::primary_requests);
    const corvane::device::HandleRecord *record = find_open(alternate.get());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->request_table, corvane::device::alternate_requests);
    // The identity came through on the second try.
    EXPECT_EQ(record->device_type, uint32_t{FTDEV_DEVICE_232R});
    EXPECT_STREQ(record->serial_number, "B2");
    EXPECT_EQ(record->packet_size, 64u);
    EXPECT_EQ(record->self, record);
}

TEST_F(DeviceIo, OpenDevicesCannotBeOpenedTwice)
{
    OpenDevice device(0);
    FtdevHandle untouched = reinterpret_cast<FtdevHandle>(0x1234);
    EXPECT_EQ(FT_Open(0, &untouched), FTDEV_DEVICE_NOT_OPENED);
    EXPECT_EQ(FT_Open(2, &untouched), FTDEV_DEVICE_NOT_FOUND);
    EXPECT_EQ(untouched, reinterpret_cast<FtdevHandle>(0x1234));
    EXPECT_EQ(FT_Open(1, nullptr), FTDEV_INVALID_PARAMETER);
}

TEST_F(DeviceIo, ClosingTheEarlierOfTwoLeavesTheLaterValid)
{
    FtdevHandle earlier = open_or_fail(0);
    OpenDevice later(1);
    EXPECT_EQ(find_open(later.get())->next, earlier); // newest first
    EXPECT_EQ(FT_Close(earlier), FTDEV_OK);
    EXPECT_EQ(FT_Close(earlier), FTDEV_INVALID_HANDLE);
    EXPECT_EQ(FT_ResetDevice(later.get()), FTDEV_OK);
    OpenDevice reopened(0);
}

TEST(RequestTables, HoldFiftySevenRequestsInBothGenerations)
{
    unsigned supported = 0;
    for (unsigned index = 0; index < corvane::device::request_count; ++index) {
        const uint32_t primary = corvane::device::primary_requests[index];
        const uint32_t alternate = corvane::device::alternate_requests[index];
        if (primary == 0xFFFFFFFFu) {
            EXPECT_EQ(alternate, 0xFFFFFFFFu) << index;
            continue;
        }
        ++supported;
        EXPECT_EQ(primary, primary_code(index));
        EXPECT_EQ(alternate, alternate_code(index));
    }
    EXPECT_EQ(supported, 57u);
}

} // namespace
