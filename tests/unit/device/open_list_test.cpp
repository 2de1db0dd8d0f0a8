// Opening by property and listing: FT_OpenEx and FT_ListDevices in all their modes.
#include "support/inproc_bus.h"
#include "unit/device/device_test_support.h"

#include <string>
#include <vector>

namespace {

using corvane::device::testing::Identity;
using corvane::device::testing::identity_of;
using corvane::device::testing::OpenDevice;

void *index_value(uint32_t index)
{
    return reinterpret_cast<void *>(uintptr_t{index});
}

// Three devices: a single-channel chip and the two channels of a dual one.
class Listing : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=A1,description=Alpha", "ft2232h,serial=D2"}};
    std::vector<Identity> devices;

    void SetUp() override
    {
        for (uint32_t index = 0; index < 3; ++index)
            devices.push_back(identity_of(OpenDevice(index).get()));
        ASSERT_EQ(devices[0].description, "Alpha");
    }
};

TEST_F(Listing, CountsAndRefusesMalformedCalls)
{
    uint32_t count = 0;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, FTDEV_LIST_COUNT_ONLY), FTDEV_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(FT_ListDevices(nullptr, nullptr, FTDEV_LIST_COUNT_ONLY), FTDEV_INVALID_PARAMETER);
    char text[64];
    for (uint32_t flags : {0u, 1u, FTDEV_LIST_COUNT_ONLY | FTDEV_LIST_ALL, FTDEV_LIST_MODE_MASK})
        EXPECT_EQ(FT_ListDevices(text, &count, flags), FTDEV_INVALID_PARAMETER) << std::hex << flags;
    EXPECT_EQ(FT_ListDevices(nullptr, nullptr, FTDEV_LIST_BY_INDEX), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_ListDevices(nullptr, &count, FTDEV_LIST_ALL), FTDEV_INVALID_PARAMETER);
}

TEST_F(Listing, ReportsOneDeviceByIndex)
{
    for (uint32_t index = 0; index < 3; ++index) {
        char text[64];
        uint32_t location = 0;
        ASSERT_EQ(FT_ListDevices(index_value(index), text, FTDEV_LIST_BY_INDEX | FTDEV_OPEN_BY_SERIAL_NUMBER),
                  FTDEV_OK);
        EXPECT_EQ(text, devices[index].serial_number);
        ASSERT_EQ(FT_ListDevices(index_value(index), text, FTDEV_LIST_BY_INDEX), FTDEV_OK);
        EXPECT_EQ(text, devices[index].serial_number);
        ASSERT_EQ(FT_ListDevices(index_value(index), text, FTDEV_LIST_BY_INDEX | FTDEV_OPEN_BY_DESCRIPTION), FTDEV_OK);
        EXPECT_EQ(text, devices[index].description);
        ASSERT_EQ(FT_ListDevices(index_value(index), &location, FTDEV_LIST_BY_INDEX | FTDEV_OPEN_BY_LOCATION),
                  FTDEV_OK);
        EXPECT_EQ(location, devices[index].location);
    }
    char text[64] = "untouched";
    EXPECT_EQ(FT_ListDevices(index_value(3), text, FTDEV_LIST_BY_INDEX), FTDEV_DEVICE_NOT_FOUND);
    EXPECT_STREQ(text, "untouched");
    OpenDevice held(1);
    EXPECT_EQ(FT_ListDevices(index_value(1), text, FTDEV_LIST_BY_INDEX), FTDEV_DEVICE_NOT_OPENED);
}

TEST_F(Listing, ReportsAllDevicesWithAnEmptyEntryForOneHeldOpen)
{
    OpenDevice held(1);
    char texts[3][64] = {"x", "x", "x"};
    char *pointers[4] = {texts[0], texts[1], texts[2], nullptr};
    uint32_t count = 0;
    EXPECT_EQ(FT_ListDevices(pointers, &count, FTDEV_LIST_ALL | FTDEV_OPEN_BY_DESCRIPTION), FTDEV_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(texts[0], devices[0].description);
    EXPECT_STREQ(texts[1], "");
    EXPECT_EQ(texts[2], devices[2].description);

    uint32_t locations[3] = {1, 1, 1};
    EXPECT_EQ(FT_ListDevices(locations, &count, FTDEV_LIST_ALL | FTDEV_OPEN_BY_LOCATION), FTDEV_OK);
    EXPECT_EQ(locations[0], devices[0].location);
    EXPECT_EQ(locations[1], 0u);
    EXPECT_EQ(locations[2], devices[2].location);
}

TEST_F(Listing, AllDevicesReportsTheLastDevicesStatusAndStopsAtANullBuffer)
{
    OpenDevice held(2);
    char texts[3][64];
    char *pointers[4] = {texts[0], texts[1], texts[2], nullptr};
    uint32_t count = 0;
    EXPECT_EQ(FT_ListDevices(pointers, &count, FTDEV_LIST_ALL), FTDEV_DEVICE_NOT_OPENED);
    EXPECT_EQ(texts[1], devices[1].serial_number);
    EXPECT_STREQ(texts[2], "");

    char last[64] = "untouched";
    char *gapped[3] = {texts[0], nullptr, last};
    EXPECT_EQ(FT_ListDevices(gapped, &count, FTDEV_LIST_ALL), FTDEV_DEVICE_NOT_OPENED);
    EXPECT_EQ(texts[0], devices[0].serial_number);
    EXPECT_STREQ(last, "untouched");
}

TEST_F(Listing, OpensBySerialNumberDescriptionOrLocation)
{
    for (const Identity &wanted : devices) {
        const std::pair<uint32_t, const void *> ways[] = {
            {FTDEV_OPEN_BY_SERIAL_NUMBER, wanted.serial_number.c_str()},
            {FTDEV_OPEN_BY_SERIAL_NUMBER | FTDEV_OPEN_BY_DESCRIPTION, wanted.serial_number.c_str()},
            {FTDEV_OPEN_BY_DESCRIPTION, wanted.description.c_str()},
            {FTDEV_OPEN_BY_LOCATION, reinterpret_cast<void *>(uintptr_t{wanted.location})},
        };
        for (const auto &[flags, value] : ways) {
            FtdevHandle handle = nullptr;
            ASSERT_EQ(FT_OpenEx(const_cast<void *>(value), flags, &handle), FTDEV_OK) << wanted.serial_number << flags;
            EXPECT_EQ(identity_of(handle).serial_number, wanted.serial_number);
            EXPECT_EQ(FT_Close(handle), FTDEV_OK);
        }
    }
}

TEST_F(Listing, OpenByPropertyRefusesWhatMatchesNothing)
{
    FtdevHandle handle = reinterpret_cast<FtdevHandle>(0x1234);
    char serial_number[] = "A1";
    EXPECT_EQ(FT_OpenEx(serial_number, 0, &handle), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_OpenEx(serial_number, 8, &handle), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_OpenEx(nullptr, FTDEV_OPEN_BY_SERIAL_NUMBER, &handle), FTDEV_INVALID_PARAMETER);

    // Only whole, same-case texts match; a text longer than any reply is read no further
    // than its first difference.
    std::string other_case = devices[0].description;
    other_case[0] = static_cast<char>(other_case[0] ^ 0x20);
    for (const std::string &text :
         {devices[0].description.substr(0, 3), devices[0].description + "x", other_case, std::string(200, 'y')})
        EXPECT_EQ(FT_OpenEx(const_cast<char *>(text.c_str()), FTDEV_OPEN_BY_DESCRIPTION, &handle),
                  FTDEV_DEVICE_NOT_FOUND)
            << text;
    // No dead handle of a device tried on the way reached the caller.
    EXPECT_EQ(handle, reinterpret_cast<FtdevHandle>(0x1234));

    OpenDevice held(2);
    EXPECT_EQ(FT_OpenEx(const_cast<char *>(devices[2].serial_number.c_str()), FTDEV_OPEN_BY_SERIAL_NUMBER, &handle),
              FTDEV_DEVICE_NOT_OPENED);
}

TEST(ListingWithoutDevices, FindsNone)
{
    uint32_t count = 99;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, FTDEV_LIST_COUNT_ONLY), FTDEV_OK);
    EXPECT_EQ(count, 0u);
    FtdevHandle handle = nullptr;
    char serial_number[] = "A1";
    EXPECT_EQ(FT_OpenEx(serial_number, FTDEV_OPEN_BY_SERIAL_NUMBER, &handle), FTDEV_DEVICE_NOT_FOUND);
}

} // namespace
