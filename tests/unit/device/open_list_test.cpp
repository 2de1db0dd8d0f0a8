// Opening by property and listing: FT_OpenEx and FT_ListDevices in all their modes.
#include "unit/device/device_test_support.h"
#include "support/inproc_bus.h"

#include <string>
#include <vector>

namespace {

using corvane::device::testing::description_of;
using corvane::device::testing::location_of;
using corvane::device::testing::OpenDevice;
using corvane::device::testing::serial_number_of;

// Three devices: a single-channel chip and the two channels of a dual one.
class Listing : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=A1,description=Alpha", "ft2232h,serial=D2"}};

    struct Identity {
        std::string serial_number, description;
        uint32_t location;
    };

    void SetUp() override
    {
        for (uint32_t index = 0; index < 3; ++index) {
            OpenDevice device(index);
            devices.push_back({serial_number_of(device.get()), description_of(device.get()), location_of(device.get())});
        }
    }

    std::vector<Identity> devices;
};

TEST_F(Listing, CountsTheDevices)
{
    uint32_t count = 0;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, FTDEV_LIST_COUNT_ONLY), FTDEV_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(FT_ListDevices(nullptr, nullptr, FTDEV_LIST_COUNT_ONLY), FTDEV_INVALID_PARAMETER);
}

TEST_F(Listing, RefusesModesThatAreNotOne)
{
    char text[64];
    uint32_t count = 0;
    for (uint32_t flags : {0u, 1u, FTDEV_LIST_COUNT_ONLY | FTDEV_LIST_ALL, FTDEV_LIST_MODE_MASK, 0x10000000u})
        EXPECT_EQ(FT_ListDevices(text, &count, flags), FTDEV_INVALID_PARAMETER) << std::hex << flags;
    EXPECT_EQ(FT_ListDevices(nullptr, nullptr, FTDEV_LIST_BY_INDEX), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_ListDevices(nullptr, &count, FTDEV_LIST_ALL), FTDEV_INVALID_PARAMETER);
}

TEST_F(Listing, ReportsOneDeviceByIndex)
{
    for (uint32_t index = 0; index < 3; ++index) {
        char text[64];
        auto *first = reinterpret_cast<void *>(uintptr_t{index});
        ASSERT_EQ(FT_ListDevices(first, text, FTDEV_LIST_BY_INDEX | FTDEV_OPEN_BY_SERIAL_NUMBER), FTDEV_OK);
        EXPECT_EQ(text, devices[index].serial_number);
        ASSERT_EQ(FT_ListDevices(first, text, FTDEV_LIST_BY_INDEX), FTDEV_OK);
        EXPECT_EQ(text, devices[index].serial_number) << "no property given means the serial number";
        ASSERT_EQ(FT_ListDevices(first, text, FTDEV_LIST_BY_INDEX | FTDEV_OPEN_BY_DESCRIPTION), FTDEV_OK);
        EXPECT_EQ(text, devices[index].description);
        uint32_t location = 0;
        ASSERT_EQ(FT_ListDevices(first, &location, FTDEV_LIST_BY_INDEX | FTDEV_OPEN_BY_LOCATION), FTDEV_OK);
        EXPECT_EQ(location, devices[index].location);
    }
    EXPECT_EQ(devices[0].description, "Alpha");
    EXPECT_NE(devices[1].location, devices[2].location);
}

TEST_F(Listing, AnIndexPastTheDevicesFindsNothing)
{
    char text[64] = "untouched";
    EXPECT_EQ(FT_ListDevices(reinterpret_cast<void *>(uintptr_t{3}), text, FTDEV_LIST_BY_INDEX),
              FTDEV_DEVICE_NOT_FOUND);
    EXPECT_STREQ(text, "untouched");
}

TEST_F(Listing, AnOpenDeviceByIndexReportsTheFailedOpen)
{
    OpenDevice held(1);
    char text[64];
    EXPECT_EQ(FT_ListDevices(reinterpret_cast<void *>(uintptr_t{1}), text, FTDEV_LIST_BY_INDEX),
              FTDEV_DEVICE_NOT_OPENED);
}

TEST_F(Listing, ReportsAllDevicesWithAnEmptyEntryForOneHeldOpen)
{
    OpenDevice held(1);
    char texts[3][64];
    for (auto &text : texts)
        std::fill(std::begin(text), std::end(text), 'x');
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

TEST_F(Listing, AllDevicesReportsTheStatusOfTheLastOne)
{
    OpenDevice held(2);
    char texts[3][64];
    char *pointers[4] = {texts[0], texts[1], texts[2], nullptr};
    uint32_t count = 0;
    EXPECT_EQ(FT_ListDevices(pointers, &count, FTDEV_LIST_ALL | FTDEV_OPEN_BY_SERIAL_NUMBER),
              FTDEV_DEVICE_NOT_OPENED);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(texts[0], devices[0].serial_number);
    EXPECT_EQ(texts[1], devices[1].serial_number);
    EXPECT_STREQ(texts[2], "");
}

TEST_F(Listing, ANullPointerEndsTheTextCopying)
{
    char first[64], last[64] = "untouched";
    char *pointers[3] = {first, nullptr, last};
    uint32_t count = 0;
    EXPECT_EQ(FT_ListDevices(pointers, &count, FTDEV_LIST_ALL | FTDEV_OPEN_BY_SERIAL_NUMBER), FTDEV_OK);
    EXPECT_EQ(first, devices[0].serial_number);
    EXPECT_STREQ(last, "untouched");
}

TEST_F(Listing, OpensBySerialNumberDescriptionOrLocation)
{
    for (uint32_t index = 0; index < 3; ++index) {
        const Identity &wanted = devices[index];
        const std::pair<uint32_t, void *> ways[] = {
            {FTDEV_OPEN_BY_SERIAL_NUMBER, const_cast<char *>(wanted.serial_number.c_str())},
            {FTDEV_OPEN_BY_SERIAL_NUMBER | FTDEV_OPEN_BY_DESCRIPTION, const_cast<char *>(wanted.serial_number.c_str())},
            {FTDEV_OPEN_BY_DESCRIPTION, const_cast<char *>(wanted.description.c_str())},
            {FTDEV_OPEN_BY_DESCRIPTION | FTDEV_OPEN_BY_LOCATION, const_cast<char *>(wanted.description.c_str())},
            {FTDEV_OPEN_BY_LOCATION, reinterpret_cast<void *>(uintptr_t{wanted.location})},
        };
        for (const auto &[flags, value] : ways) {
            FtdevHandle handle = nullptr;
            ASSERT_EQ(FT_OpenEx(value, flags, &handle), FTDEV_OK) << "device " << index << " flags " << flags;
            EXPECT_EQ(serial_number_of(handle), wanted.serial_number);
            EXPECT_EQ(FT_Close(handle), FTDEV_OK);
        }
    }
}

TEST_F(Listing, OpenByPropertyRefusesFlagsThatNameNoProperty)
{
    FtdevHandle handle = reinterpret_cast<FtdevHandle>(0x1234);
    char serial_number[] = "A1";
    EXPECT_EQ(FT_OpenEx(serial_number, 0, &handle), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_OpenEx(serial_number, 8, &handle), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_OpenEx(nullptr, FTDEV_OPEN_BY_SERIAL_NUMBER, &handle), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_OpenEx(serial_number, FTDEV_OPEN_BY_SERIAL_NUMBER, nullptr), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(handle, reinterpret_cast<FtdevHandle>(0x1234));
}

TEST_F(Listing, OpenByPropertyMatchesWholeTextsOnly)
{
    FtdevHandle handle = reinterpret_cast<FtdevHandle>(0x1234);
    const std::string prefix = devices[0].description.substr(0, 3);
    const std::string longer = devices[0].description + "x";
    std::string other_case = devices[0].description;
    other_case[0] = static_cast<char>(other_case[0] ^ 0x20);
    for (const std::string &text : {prefix, longer, other_case, std::string(200, 'y')})
        EXPECT_EQ(FT_OpenEx(const_cast<char *>(text.c_str()), FTDEV_OPEN_BY_DESCRIPTION, &handle),
                  FTDEV_DEVICE_NOT_FOUND)
            << text;
    // Devices tried on the way were closed again, and no dead handle reached the caller.
    EXPECT_EQ(handle, reinterpret_cast<FtdevHandle>(0x1234));
    OpenDevice all_free(0);
}

TEST_F(Listing, OpenByPropertyReportsTheLastDeviceOpenElsewhere)
{
    OpenDevice held(2);
    FtdevHandle handle = nullptr;
    char nothing[] = "no such device";
    EXPECT_EQ(FT_OpenEx(nothing, FTDEV_OPEN_BY_SERIAL_NUMBER, &handle), FTDEV_DEVICE_NOT_OPENED);
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
    EXPECT_EQ(FT_Open(0, &handle), FTDEV_DEVICE_NOT_FOUND);
}

} // namespace
