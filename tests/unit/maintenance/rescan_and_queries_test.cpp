// FT_Rescan, and the version and COM port queries with their argument checks.
#include "platform/platform.h"
#include "support/inproc_bus.h"
#include "unit/maintenance/maintenance_test_support.h"

#include <string>

namespace {

DEVINST located(const char *instance_id)
{
    DEVINST node = 0;
    EXPECT_EQ(CM_Locate_DevNode_ExA(&node, const_cast<char *>(instance_id), CM_LOCATE_DEVNODE_NORMAL, nullptr),
              CR_SUCCESS)
        << instance_id;
    return node;
}

uint32_t listed_count()
{
    uint32_t count = 0;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FTDEV_OK);
    return count;
}

class Rescan : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=A1", "ft2232h,serial=B2"}};
};

// The high-speed chip arrives after the first listing: the rescan shows it, the bus's
// root hub becomes a high-speed one, and the device that stayed keeps its instance.
TEST_F(Rescan, ShowsADevicePluggedInLaterAndKeepsTheInstancesOfThoseThatStayed)
{
    ASSERT_EQ(bus.bus().set_plugged("1", false), corvane::usb::Status::ok);
    ASSERT_EQ(listed_count(), 1u);
    const DEVINST stayed = located("USB\\VID_0403&PID_6001\\A1");
    located("USB\\ROOT_HUB\\1");

    ASSERT_EQ(bus.bus().set_plugged("1", true), corvane::usb::Status::ok);
    EXPECT_EQ(FT_Rescan(), FTDEV_OK);

    EXPECT_EQ(listed_count(), 3u);
    EXPECT_EQ(located("USB\\VID_0403&PID_6001\\A1"), stayed);
    located("USB\\VID_0403&PID_6010\\B2");
    located("USB\\ROOT_HUB20\\1");
}

TEST(RescanWithoutDevices, StillSucceeds)
{
    EXPECT_EQ(FT_Rescan(), FTDEV_OK);
}

TEST(LibraryVersion, Is3_02_07)
{
    uint32_t version = 0;
    EXPECT_EQ(FT_GetLibraryVersion(&version), FTDEV_OK);
    EXPECT_EQ(version, 0x00030207u);
    EXPECT_EQ(FT_GetLibraryVersion(nullptr), FTDEV_INVALID_PARAMETER);
}

class DeviceQueries : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(FT_Open(0, &handle), FTDEV_OK); }
    void TearDown() override { FT_Close(handle); }

    corvane::testing::InprocBus bus{{"ft232r,serial=A1"}};
    FtdevHandle handle = nullptr;
};

TEST_F(DeviceQueries, DriverVersionComesFromTheDriver)
{
    uint32_t version = 0;
    EXPECT_EQ(FT_GetDriverVersion(handle, &version), FTDEV_OK);
    EXPECT_EQ(version, 0x00010000u);
}

TEST_F(DeviceQueries, ComPortZeroReadsAsNoPort)
{
    int32_t port = 1234;
    EXPECT_EQ(FT_GetComPortNumber(handle, &port), FTDEV_OK);
    EXPECT_EQ(port, -1);
}

TEST_F(DeviceQueries, RefuseNullOutputs)
{
    EXPECT_EQ(FT_GetDriverVersion(handle, nullptr), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_GetComPortNumber(handle, nullptr), FTDEV_INVALID_PARAMETER);
}

// A closed handle is refused before anything is touched, the caller's variable included.
TEST_F(DeviceQueries, RefuseAClosedHandleAndLeaveTheOutputAlone)
{
    ASSERT_EQ(FT_Close(handle), FTDEV_OK);
    uint32_t version = 77;
    int32_t port = 0;
    EXPECT_EQ(FT_GetDriverVersion(handle, &version), FTDEV_INVALID_HANDLE);
    EXPECT_EQ(FT_GetComPortNumber(handle, &port), FTDEV_INVALID_HANDLE);
    EXPECT_EQ(FT_GetComPortNumber(handle, nullptr), FTDEV_INVALID_HANDLE);
    EXPECT_EQ(version, 77u);
    EXPECT_EQ(port, 0);
    ASSERT_EQ(FT_Open(0, &handle), FTDEV_OK); // for TearDown
}

} // namespace
