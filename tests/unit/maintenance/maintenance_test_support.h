// Helpers shared by the bus and driver maintenance tests.
#ifndef CORVANE_TESTS_UNIT_MAINTENANCE_MAINTENANCE_TEST_SUPPORT_H
#define CORVANE_TESTS_UNIT_MAINTENANCE_MAINTENANCE_TEST_SUPPORT_H

#include "ftdev.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace corvane::maintenance::testing {

// FT_Reload's status and what it printed.
struct Reloaded {
    FtdevStatus status;
    std::string output;
};

inline Reloaded reload(uint32_t vendor_id, uint32_t product_id)
{
    ::testing::internal::CaptureStdout();
    const FtdevStatus status = FT_Reload(vendor_id, product_id);
    return {status, ::testing::internal::GetCapturedStdout()};
}

// One line of FT_Reload's output.
inline std::string reload_line(const std::string &instance_id, const char *outcome)
{
    char line[512];
    std::snprintf(line, sizeof line, "%-60s: %s\n", instance_id.c_str(), outcome);
    return line;
}

// Programs the EEPROM of the device at `index` of the device list with an image of the
// given identity. The device shows it once it re-enumerates.
inline void program_identity(uint32_t index, uint16_t product_id, const char *serial, const char *description)
{
    FtdevHandle handle = nullptr;
    ASSERT_EQ(FT_Open(index, &handle), FTDEV_OK);
    char manufacturer[] = "Corvane", manufacturer_id[] = "CV";
    char description_text[64] = {}, serial_text[16] = {};
    std::strncpy(description_text, description, sizeof description_text - 1);
    std::strncpy(serial_text, serial, sizeof serial_text - 1);
    ProgramData data{};
    data.signature_1 = FTDEV_PROGRAM_SIGNATURE_1;
    data.signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
    data.version = FTDEV_PROGRAM_VERSION_232H;
    data.vendor_id = 0x0403;
    data.product_id = product_id;
    data.manufacturer = manufacturer;
    data.manufacturer_id = manufacturer_id;
    data.description = description_text;
    data.serial_number = serial_text;
    data.max_power = 100;
    EXPECT_EQ(FT_EE_Program(handle, &data), FTDEV_OK);
    EXPECT_EQ(FT_Close(handle), FTDEV_OK);
}

// The description the device list gives the device at `index`, built afresh.
inline std::string listed_description(uint32_t index)
{
    uint32_t count = 0;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FTDEV_OK);
    char description[64] = {};
    EXPECT_EQ(FT_GetDeviceInfoDetail(index, nullptr, nullptr, nullptr, nullptr, nullptr, description, nullptr),
              FTDEV_OK);
    return description;
}

} // namespace corvane::maintenance::testing

#endif // CORVANE_TESTS_UNIT_MAINTENANCE_MAINTENANCE_TEST_SUPPORT_H
