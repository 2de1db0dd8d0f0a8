// Hostile arguments, function by function: null pointers where an output or a buffer is
// expected, counts and indexes far past anything that exists, for every exported call
// that takes them. Each must answer with a failure status and write nothing; none may
// crash (the sanitizers watch every access). Never-issued and closed handles are the
// device tests' (HandleChecks).
#include "driver/request_index.h"
#include "support/inproc_bus.h"

#include "ftdev.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

struct HostileCall {
    std::string name;
    std::function<FtdevStatus(FtdevHandle)> call;
    friend void PrintTo(const HostileCall &call, std::ostream *out) { *out << call.name; }
};

constexpr uint32_t huge = 0xFFFFFFFFu;
constexpr uint32_t latency_code = corvane::driver::primary_code_base + 4u * corvane::driver::request_get_latency;

// Null outputs and buffers: refused, since there is nowhere to put the answer.
std::vector<HostileCall> null_pointer_calls()
{
    static uint32_t word;
    static uint8_t byte;
    return {
        {"Read_null_count", [](FtdevHandle h) { return FT_Read(h, &byte, 1, nullptr); }},
        {"Read_null_buffer", [](FtdevHandle h) { return FT_Read(h, nullptr, 16, &word); }},
        {"Write_null_count", [](FtdevHandle h) { return FT_Write(h, &byte, 1, nullptr); }},
        {"Write_null_buffer", [](FtdevHandle h) { return FT_Write(h, nullptr, 16, &word); }},
        {"IoCtl_null_in_with_size",
         [](FtdevHandle h) { return FT_IoCtl(h, latency_code, nullptr, 64, &byte, 1, &word, nullptr); }},
        {"IoCtl_null_out_with_size",
         [](FtdevHandle h) { return FT_IoCtl(h, latency_code, nullptr, 0, nullptr, 64, &word, nullptr); }},
        {"GetModemStatus", [](FtdevHandle h) { return FT_GetModemStatus(h, nullptr); }},
        {"GetQueueStatus", [](FtdevHandle h) { return FT_GetQueueStatus(h, nullptr); }},
        {"GetQueueStatusEx", [](FtdevHandle h) { return FT_GetQueueStatusEx(h, nullptr); }},
        {"GetEventStatus", [](FtdevHandle h) { return FT_GetEventStatus(h, nullptr); }},
        {"GetStatus_rx", [](FtdevHandle h) { return FT_GetStatus(h, nullptr, &word, &word); }},
        {"GetStatus_event", [](FtdevHandle h) { return FT_GetStatus(h, &word, &word, nullptr); }},
        {"WaitOnMask", [](FtdevHandle h) { return FT_WaitOnMask(h, nullptr); }},
        {"ReadEE", [](FtdevHandle h) { return FT_ReadEE(h, 0, nullptr); }},
        {"GetLatencyTimer", [](FtdevHandle h) { return FT_GetLatencyTimer(h, nullptr); }},
        {"GetBitMode", [](FtdevHandle h) { return FT_GetBitMode(h, nullptr); }},
        {"GetDriverVersion", [](FtdevHandle h) { return FT_GetDriverVersion(h, nullptr); }},
        {"GetComPortNumber", [](FtdevHandle h) { return FT_GetComPortNumber(h, nullptr); }},
        {"EE_Program", [](FtdevHandle h) { return FT_EE_Program(h, nullptr); }},
        {"EE_Read", [](FtdevHandle h) { return FT_EE_Read(h, nullptr); }},
        {"EE_ProgramEx", [](FtdevHandle h) { return FT_EE_ProgramEx(h, nullptr, nullptr, nullptr, nullptr, nullptr); }},
        {"EE_ReadEx", [](FtdevHandle h) { return FT_EE_ReadEx(h, nullptr, nullptr, nullptr, nullptr, nullptr); }},
        {"EE_UASize", [](FtdevHandle h) { return FT_EE_UASize(h, nullptr); }},
        {"EE_UARead_null_buffer", [](FtdevHandle h) { return FT_EE_UARead(h, nullptr, 8, &word); }},
        {"EE_UARead_null_count", [](FtdevHandle h) { return FT_EE_UARead(h, &byte, 1, nullptr); }},
        {"EE_UAWrite_null_data", [](FtdevHandle h) { return FT_EE_UAWrite(h, nullptr, 8); }},
        {"EEPROM_Read_null_settings",
         [](FtdevHandle h) {
             static char text[4][64];
             return FT_EEPROM_Read(h, nullptr, sizeof(Settings232R), text[0], text[1], text[2], text[3]);
         }},
        {"EEPROM_Read_null_texts",
         [](FtdevHandle h) {
             static Settings232R settings;
             settings.header.device_type = FTDEV_DEVICE_232R;
             return FT_EEPROM_Read(h, &settings.header, sizeof settings, nullptr, nullptr, nullptr, nullptr);
         }},
        {"EEPROM_Program_null_settings",
         [](FtdevHandle h) { return FT_EEPROM_Program(h, nullptr, sizeof(Settings232R), "M", "MI", "D", "S"); }},
        {"EE_ReadConfig", [](FtdevHandle h) { return FT_EE_ReadConfig(h, 0, nullptr); }},
        {"EE_ReadECC", [](FtdevHandle h) { return FT_EE_ReadECC(h, 0, nullptr); }},
    };
}

// Counts, sizes and addresses past what exists: refused before anything is touched.
std::vector<HostileCall> oversized_calls()
{
    static uint32_t word;
    static uint16_t half;
    static uint8_t bytes[16];
    return {
        {"ReadEE_past_the_part", [](FtdevHandle h) { return FT_ReadEE(h, huge, &half); }},
        {"EE_UAWrite_more_than_the_user_area",
         [](FtdevHandle h) {
             static uint8_t many[4096];
             return FT_EE_UAWrite(h, many, sizeof many);
         }},
        {"EEPROM_Read_size_of_another_chip",
         [](FtdevHandle h) {
             static SettingsX settings; // an FT232R is open
             static char text[4][64];
             settings.header.device_type = FTDEV_DEVICE_232R;
             return FT_EEPROM_Read(h, &settings.header, sizeof settings, text[0], text[1], text[2], text[3]);
         }},
        {"EEPROM_Read_huge_size",
         [](FtdevHandle h) {
             static Settings232R settings;
             static char text[4][64];
             settings.header.device_type = FTDEV_DEVICE_232R;
             return FT_EEPROM_Read(h, &settings.header, huge, text[0], text[1], text[2], text[3]);
         }},
        {"EEPROM_Program_huge_size",
         [](FtdevHandle h) {
             static Settings232R settings;
             settings.header.device_type = FTDEV_DEVICE_232R;
             settings.header.vendor_id = 0x0403;
             settings.header.product_id = 0x6001;
             return FT_EEPROM_Program(h, &settings.header, huge, "M", "MI", "D", "S1");
         }},
        // A structure smaller than the header it must begin with: refused by its size,
        // never read past its end (found by the programming fuzz target).
        {"EEPROM_Program_smaller_than_the_header",
         [](FtdevHandle h) {
             auto tiny = std::make_unique<uint8_t[]>(2);
             return FT_EEPROM_Program(h, reinterpret_cast<const SettingsHeader *>(tiny.get()), 2, "M", "MI", "D", "S1");
         }},
        {"EEPROM_Read_smaller_than_the_header",
         [](FtdevHandle h) {
             auto tiny = std::make_unique<uint8_t[]>(3);
             static char text[4][64];
             return FT_EEPROM_Read(h, reinterpret_cast<SettingsHeader *>(tiny.get()), 3, text[0], text[1], text[2],
                                   text[3]);
         }},
        {"IoCtl_unknown_function",
         [](FtdevHandle h) { return FT_IoCtl(h, 0x00220000u + 4u * 0x7FFu, bytes, 16, bytes, 16, &word, nullptr); }},
        {"IoCtl_out_size_past_the_reply",
         [](FtdevHandle h) { return FT_IoCtl(h, huge, bytes, 16, bytes, 16, &word, nullptr); }},
        {"SetUSBParameters_huge", [](FtdevHandle h) { return FT_SetUSBParameters(h, huge, huge); }},
        {"SetBaudRate_zero", [](FtdevHandle h) { return FT_SetBaudRate(h, 0); }},
        {"SetDataCharacteristics_nonsense", [](FtdevHandle h) { return FT_SetDataCharacteristics(h, 99, 99, 99); }},
    };
}

class HostileArguments : public ::testing::TestWithParam<HostileCall> {
protected:
    void SetUp() override { ASSERT_EQ(FT_Open(0, &handle), FTDEV_OK); }
    void TearDown() override { EXPECT_EQ(FT_Close(handle), FTDEV_OK) << "the handle did not survive the call"; }

    corvane::testing::InprocBus bus{{"ft232r"}};
    FtdevHandle handle = nullptr;
};

TEST_P(HostileArguments, AreRefusedWithAFailureStatus)
{
    std::vector<uint16_t> before = bus.eeprom_words(0);
    FtdevStatus status = GetParam().call(handle);
    EXPECT_NE(status, FTDEV_OK);
    EXPECT_NE(status, FTDEV_INVALID_HANDLE) << "the handle was good";
    EXPECT_EQ(bus.eeprom_words(0), before) << "a refused call changed the EEPROM";
    // The device still answers normally afterwards.
    uint8_t timer = 0;
    EXPECT_EQ(FT_GetLatencyTimer(handle, &timer), FTDEV_OK);
}

INSTANTIATE_TEST_SUITE_P(NullPointers, HostileArguments, ::testing::ValuesIn(null_pointer_calls()),
                         [](const auto &info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(OversizedCounts, HostileArguments, ::testing::ValuesIn(oversized_calls()),
                         [](const auto &info) { return info.param.name; });

// Calls without a handle, with indexes and outputs no caller can mean.
TEST(HostileListing, IndexesPastTheListAndNullOutputsAreRefused)
{
    corvane::testing::InprocBus bus{{"ft232r", "ft2232h"}};
    FtdevHandle handle = nullptr;
    EXPECT_EQ(FT_Open(huge, &handle), FTDEV_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(FT_Open(0, nullptr), FTDEV_OK);
    EXPECT_NE(FT_OpenEx(nullptr, FTDEV_OPEN_BY_SERIAL_NUMBER, &handle), FTDEV_OK);
    EXPECT_NE(FT_OpenEx(const_cast<char *>("x"), 0x7F8, &handle), FTDEV_OK);
    EXPECT_NE(FT_CreateDeviceInfoList(nullptr), FTDEV_OK);

    uint32_t count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FTDEV_OK);
    ASSERT_EQ(count, 3u);
    char serial[16] = {};
    EXPECT_NE(FT_GetDeviceInfoDetail(count, nullptr, nullptr, nullptr, nullptr, serial, nullptr, nullptr), FTDEV_OK);
    EXPECT_NE(FT_GetDeviceInfoDetail(huge, nullptr, nullptr, nullptr, nullptr, serial, nullptr, nullptr), FTDEV_OK);
    EXPECT_EQ(serial[0], '\0');
    EXPECT_NE(FT_GetDeviceInfoList(nullptr, nullptr), FTDEV_OK);

    char text[64] = {};
    EXPECT_NE(FT_ListDevices(reinterpret_cast<void *>(static_cast<uintptr_t>(huge)), text,
                             FTDEV_LIST_BY_INDEX | FTDEV_OPEN_BY_SERIAL_NUMBER),
              FTDEV_OK);
    EXPECT_NE(FT_ListDevices(nullptr, nullptr, FTDEV_LIST_COUNT_ONLY), FTDEV_OK);
    EXPECT_NE(FT_ListDevices(&count, text, FTDEV_LIST_MODE_MASK), FTDEV_OK);
    EXPECT_NE(FT_GetLibraryVersion(nullptr), FTDEV_OK);
}

} // namespace
