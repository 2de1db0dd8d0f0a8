// A device that leaves the bus while it is open: every call that has to reach it answers
// with a failure status (none crashes or waits out a time-out), and FT_Close still frees
// the handle, so the device opens again once it is back.
#include "support/inproc_bus.h"

#include "ftdev.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

struct DeviceCall {
    std::string name;
    std::function<FtdevStatus(FtdevHandle)> call;
    friend void PrintTo(const DeviceCall &call, std::ostream *out) { *out << call.name; }
};

// Calls that must go to the device to do their work.
std::vector<DeviceCall> calls_that_reach_the_device()
{
    static uint32_t word;
    static uint16_t half;
    static uint8_t byte, bytes[64];
    return {
        {"Read", [](FtdevHandle h) { return FT_Read(h, bytes, sizeof bytes, &word); }},
        {"Write", [](FtdevHandle h) { return FT_Write(h, bytes, sizeof bytes, &word); }},
        {"ResetDevice", [](FtdevHandle h) { return FT_ResetDevice(h); }},
        {"SetBaudRate", [](FtdevHandle h) { return FT_SetBaudRate(h, 115200); }},
        {"SetDataCharacteristics", [](FtdevHandle h) { return FT_SetDataCharacteristics(h, 8, 0, 0); }},
        {"SetFlowControl", [](FtdevHandle h) { return FT_SetFlowControl(h, 0x0100, 0x11, 0x13); }},
        {"SetDtr", [](FtdevHandle h) { return FT_SetDtr(h); }},
        {"SetRts", [](FtdevHandle h) { return FT_SetRts(h); }},
        {"GetModemStatus", [](FtdevHandle h) { return FT_GetModemStatus(h, &word); }},
        {"SetChars", [](FtdevHandle h) { return FT_SetChars(h, 0x0A, 1, 0, 0); }},
        {"Purge", [](FtdevHandle h) { return FT_Purge(h, FTDEV_PURGE_RX | FTDEV_PURGE_TX); }},
        {"SetBreakOn", [](FtdevHandle h) { return FT_SetBreakOn(h); }},
        {"ReadEE", [](FtdevHandle h) { return FT_ReadEE(h, 0, &half); }},
        {"WriteEE", [](FtdevHandle h) { return FT_WriteEE(h, 0x20, 0x1234); }},
        {"EraseEE", [](FtdevHandle h) { return FT_EraseEE(h); }},
        {"SetLatencyTimer", [](FtdevHandle h) { return FT_SetLatencyTimer(h, 4); }},
        {"GetLatencyTimer", [](FtdevHandle h) { return FT_GetLatencyTimer(h, &byte); }},
        {"SetBitMode", [](FtdevHandle h) { return FT_SetBitMode(h, 0xFF, 1); }},
        {"GetBitMode", [](FtdevHandle h) { return FT_GetBitMode(h, &byte); }},
        {"ResetPort", [](FtdevHandle h) { return FT_ResetPort(h); }},
        {"CyclePort", [](FtdevHandle h) { return FT_CyclePort(h); }},
        {"EE_Read",
         [](FtdevHandle h) {
             static char text[4][64];
             static ProgramData record;
             record.signature_1 = FTDEV_PROGRAM_SIGNATURE_1;
             record.signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
             record.version = FTDEV_PROGRAM_VERSION_232H;
             return FT_EE_ReadEx(h, &record, text[0], text[1], text[2], text[3]);
         }},
        {"EE_Program",
         [](FtdevHandle h) {
             static ProgramData record;
             record.signature_1 = FTDEV_PROGRAM_SIGNATURE_1;
             record.signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
             record.version = FTDEV_PROGRAM_VERSION_232H;
             record.vendor_id = 0x0403;
             record.product_id = 0x6001;
             return FT_EE_ProgramEx(h, &record, const_cast<char *>("M"), const_cast<char *>("MI"),
                                    const_cast<char *>("D"), const_cast<char *>("S1"));
         }},
        {"EE_UASize", [](FtdevHandle h) { return FT_EE_UASize(h, &word); }},
        {"EE_UARead", [](FtdevHandle h) { return FT_EE_UARead(h, bytes, 4, &word); }},
        {"EE_UAWrite", [](FtdevHandle h) { return FT_EE_UAWrite(h, bytes, 4); }},
        {"EEPROM_Read",
         [](FtdevHandle h) {
             static Settings232R settings;
             static char text[4][64];
             settings.header.device_type = FTDEV_DEVICE_232R;
             return FT_EEPROM_Read(h, &settings.header, sizeof settings, text[0], text[1], text[2], text[3]);
         }},
    };
}

class VanishedDevice : public ::testing::TestWithParam<DeviceCall> {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=GONE1"}};
};

TEST_P(VanishedDevice, CallFailsAndCloseStillFreesTheHandle)
{
    FtdevHandle handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FTDEV_OK);
    ASSERT_EQ(FT_SetTimeouts(handle, 200, 200), FTDEV_OK);
    ASSERT_EQ(bus.bus().set_plugged(bus.device_id(0), false), corvane::usb::Status::ok);

    EXPECT_NE(GetParam().call(handle), FTDEV_OK);
    // Asked twice: the first failure must not leave the handle in a state that crashes.
    EXPECT_NE(GetParam().call(handle), FTDEV_OK);

    FT_Close(handle);
    EXPECT_EQ(FT_Close(handle), FTDEV_INVALID_HANDLE) << "the first close did not free the handle";

    ASSERT_EQ(bus.bus().set_plugged(bus.device_id(0), true), corvane::usb::Status::ok);
    FtdevHandle again = nullptr;
    ASSERT_EQ(FT_OpenEx(const_cast<char *>("GONE1"), FTDEV_OPEN_BY_SERIAL_NUMBER, &again), FTDEV_OK)
        << "the device stayed claimed by the freed handle";
    uint8_t timer = 0;
    EXPECT_EQ(FT_GetLatencyTimer(again, &timer), FTDEV_OK);
    EXPECT_EQ(FT_Close(again), FTDEV_OK);
}

INSTANTIATE_TEST_SUITE_P(EveryCall, VanishedDevice, ::testing::ValuesIn(calls_that_reach_the_device()),
                         [](const auto &info) { return info.param.name; });

} // namespace
