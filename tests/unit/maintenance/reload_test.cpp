// FT_Reload: which devices a pass restarts, what it prints, and what a restart changes.
#include "support/inproc_bus.h"
#include "unit/maintenance/maintenance_test_support.h"

namespace {

using corvane::maintenance::testing::listed_description;
using corvane::maintenance::testing::reload;
using corvane::maintenance::testing::reload_line;
using corvane::maintenance::testing::program_identity;

constexpr const char *ft232r_id = "USB\\VID_0403&PID_6001\\A1";

// A full-speed FT232R (list index 0) and a high-speed FT2232H (indexes 1 and 2) on one bus,
// the test's in-process bus, which is the platform's second transport (bus number 1).
class Reload : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=A1", "ft2232h,serial=B2"}};
};

TEST_F(Reload, RestartsOnlyTheDeviceOfTheVendorAndProduct)
{
    program_identity(0, 0x6001, "A1", "Renamed R");
    program_identity(1, 0x6010, "B2", "Renamed H");
    const std::string fast_before = listed_description(1);

    const auto [status, output] = reload(0x0403, 0x6001);

    EXPECT_EQ(status, FTDEV_OK);
    EXPECT_EQ(output, reload_line(ft232r_id, "restarted"));
    // The restarted chip read its reprogrammed EEPROM again; the other one did not.
    EXPECT_EQ(listed_description(0), "Renamed R");
    EXPECT_EQ(listed_description(1), fast_before);
}

TEST_F(Reload, TakesTheLow16BitsOfEachIdentifierAndAnyCase)
{
    EXPECT_EQ(reload(0xABCD0403, 0x12346001).output, reload_line(ft232r_id, "restarted"));
}

TEST_F(Reload, ProductZeroIsOnePassThatMatchesNothingHere)
{
    const auto [status, output] = reload(0x0403, 0);
    EXPECT_EQ(status, FTDEV_OK);
    EXPECT_EQ(output, "");
}

// A device someone holds is not pulled from under its user: the line says that the
// restart waits, the status stays a success, and the open handle keeps working.
TEST_F(Reload, LeavesADeviceInUseRunningAndSaysItNeedsAReboot)
{
    program_identity(0, 0x6001, "A1", "Renamed R");
    FtdevHandle handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FTDEV_OK);

    const auto [status, output] = reload(0x0403, 0x6001);

    EXPECT_EQ(status, FTDEV_OK);
    EXPECT_EQ(output, reload_line(ft232r_id, "restart needs a reboot"));
    uint32_t written = 0;
    EXPECT_EQ(FT_Write(handle, "ping", 4, &written), FTDEV_OK);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(FT_Close(handle), FTDEV_OK);
    EXPECT_NE(listed_description(0), "Renamed R");
}

// Both identifiers 0: a pass for "USB\ROOT_HUB", then one for "USB\ROOT_HUB20"; the bus
// turns high-speed with a high-speed device on it.
TEST(ReloadRootHubs, RestartsTheRootHubOfEachKindAndTheDevicesOnIt)
{
    {
        corvane::testing::InprocBus slow{{"ft232r,serial=A1"}};
        program_identity(0, 0x6001, "A1", "Renamed R");
        const auto [status, output] = reload(0, 0);
        EXPECT_EQ(status, FTDEV_OK);
        EXPECT_EQ(output, reload_line("USB\\ROOT_HUB\\1", "restarted"));
        EXPECT_EQ(listed_description(0), "Renamed R");
    }
    {
        corvane::testing::InprocBus fast{{"ft232r,serial=A1", "ft2232h,serial=B2"}};
        const auto [status, output] = reload(0, 0);
        EXPECT_EQ(status, FTDEV_OK);
        EXPECT_EQ(output, reload_line("USB\\ROOT_HUB20\\1", "restarted"));
    }
}

TEST(ReloadWithoutDevices, PrintsNothingAndSucceeds)
{
    EXPECT_EQ(reload(0, 0).output, "");
    EXPECT_EQ(reload(0x0403, 0x6010).status, FTDEV_OK);
}

} // namespace
