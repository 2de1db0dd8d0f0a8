// Which chips the EEPROM functions serve, and the configuration calls of the FT232H and
// FT-X series that pass straight to the driver.
#include "eeprom_bus_fixture.h"

namespace corvane::eeprom::testing {
namespace {

class LayoutChoice : public EepromBusTest {};

// The record functions have no layout for the FT-X: they refuse it rather than write the
// FT232B image over its configuration. A settings structure of another size is refused
// before the part is touched.
TEST_F(LayoutChoice, FtxIsRefusedByTheRecordFunctionsNotMisprogrammed)
{
    open_bus({"ftx"});
    const auto before = part_words();
    Record record = cable_record_of(0x6015);
    EXPECT_EQ(FT_EE_Program(handle, &record.data), FTDEV_NOT_SUPPORTED);
    EXPECT_EQ(FT_EE_Read(handle, &record.data), FTDEV_NOT_SUPPORTED);
    SettingsX settings{};
    settings.header.device_type = FTDEV_DEVICE_X_SERIES;
    char m[64], id[64], d[64], s[64];
    EXPECT_EQ(FT_EEPROM_Read(handle, &settings.header, sizeof settings - 4, m, id, d, s), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(part_words(), before);
}

TEST_F(LayoutChoice, ConfigurationCallsReachTheFtxChip)
{
    open_bus({"ftx"});
    bus->set_error_correction_word(0, 0xA55A);
    uint16_t word = 0;
    ASSERT_EQ(FT_EE_ReadECC(handle, 0, &word), FTDEV_OK);
    EXPECT_EQ(word, 0xA55A);

    ASSERT_EQ(FT_EE_WriteConfig(handle, 3, 0x5C), FTDEV_OK);
    uint8_t value = 0;
    ASSERT_EQ(FT_EE_ReadConfig(handle, 3, &value), FTDEV_OK);
    EXPECT_EQ(value, 0x5C);

    EXPECT_EQ(FT_EE_ReadConfig(handle, 3, nullptr), FTDEV_INVALID_PARAMETER);
    EXPECT_EQ(FT_EE_ReadECC(handle, 0, nullptr), FTDEV_INVALID_PARAMETER);
}

TEST_F(LayoutChoice, ConfigurationCallsAreRefusedOnOtherChips)
{
    open_bus({"ft232r"});
    uint8_t value = 0;
    uint16_t word = 0;
    EXPECT_EQ(FT_EE_ReadConfig(handle, 0, &value), FTDEV_NOT_SUPPORTED);
    EXPECT_EQ(FT_EE_WriteConfig(handle, 0, 1), FTDEV_NOT_SUPPORTED);
    EXPECT_EQ(FT_EE_ReadECC(handle, 0, &word), FTDEV_NOT_SUPPORTED);
}

} // namespace
} // namespace corvane::eeprom::testing
