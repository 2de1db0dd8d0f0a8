// Every function that takes a device handle refuses one that is not open with status 1,
// before it touches the value or the device.
#include "support/inproc_bus.h"
#include "unit/device/device_test_support.h"

#include <functional>
#include <string>
#include <vector>

namespace {

using corvane::device::testing::open_or_fail;
using corvane::device::testing::request_code;

struct HandleCall {
    std::string name;
    std::function<FtdevStatus(FtdevHandle)> call;
};

std::vector<HandleCall> every_handle_call()
{
    static uint32_t word;
    static uint16_t half;
    static uint8_t byte;
    static char text[64];
    return {
        {"IoCtl",
         [](FtdevHandle h) {
             return FT_IoCtl(h, request_code(corvane::driver::request_get_latency), nullptr, 0, &byte, 1, &word,
                             nullptr);
         }},
        {"Read", [](FtdevHandle h) { return FT_Read(h, text, 1, &word); }},
        {"Write", [](FtdevHandle h) { return FT_Write(h, text, 1, &word); }},
        {"Close", [](FtdevHandle h) { return FT_Close(h); }},
        {"ResetDevice", [](FtdevHandle h) { return FT_ResetDevice(h); }},
        {"SetBaudRate", [](FtdevHandle h) { return FT_SetBaudRate(h, 9600); }},
        {"SetDivisor", [](FtdevHandle h) { return FT_SetDivisor(h, 0x4138); }},
        {"SetDataCharacteristics", [](FtdevHandle h) { return FT_SetDataCharacteristics(h, 8, 0, 0); }},
        {"SetFlowControl", [](FtdevHandle h) { return FT_SetFlowControl(h, 0, 0x11, 0x13); }},
        {"SetDtr", [](FtdevHandle h) { return FT_SetDtr(h); }},
        {"ClrDtr", [](FtdevHandle h) { return FT_ClrDtr(h); }},
        {"SetRts", [](FtdevHandle h) { return FT_SetRts(h); }},
        {"ClrRts", [](FtdevHandle h) { return FT_ClrRts(h); }},
        {"GetModemStatus", [](FtdevHandle h) { return FT_GetModemStatus(h, &word); }},
        {"SetChars", [](FtdevHandle h) { return FT_SetChars(h, 0, 0, 0, 0); }},
        {"Purge", [](FtdevHandle h) { return FT_Purge(h, FTDEV_PURGE_RX | FTDEV_PURGE_TX); }},
        {"SetTimeouts", [](FtdevHandle h) { return FT_SetTimeouts(h, 100, 100); }},
        {"GetQueueStatus", [](FtdevHandle h) { return FT_GetQueueStatus(h, &word); }},
        {"GetQueueStatusEx", [](FtdevHandle h) { return FT_GetQueueStatusEx(h, &word); }},
        {"SetEventNotification", [](FtdevHandle h) { return FT_SetEventNotification(h, 0, nullptr); }},
        {"GetEventStatus", [](FtdevHandle h) { return FT_GetEventStatus(h, &word); }},
        {"GetStatus", [](FtdevHandle h) { return FT_GetStatus(h, &word, &word, &word); }},
        {"SetBreakOn", [](FtdevHandle h) { return FT_SetBreakOn(h); }},
        {"SetBreakOff", [](FtdevHandle h) { return FT_SetBreakOff(h); }},
        {"SetWaitMask", [](FtdevHandle h) { return FT_SetWaitMask(h, 0); }},
        {"WaitOnMask", [](FtdevHandle h) { return FT_WaitOnMask(h, &word); }},
        {"ReadEE", [](FtdevHandle h) { return FT_ReadEE(h, 0, &half); }},
        {"WriteEE", [](FtdevHandle h) { return FT_WriteEE(h, 0, 0); }},
        {"EraseEE", [](FtdevHandle h) { return FT_EraseEE(h); }},
        {"SetLatencyTimer", [](FtdevHandle h) { return FT_SetLatencyTimer(h, 16); }},
        {"GetLatencyTimer", [](FtdevHandle h) { return FT_GetLatencyTimer(h, &byte); }},
        {"SetBitMode", [](FtdevHandle h) { return FT_SetBitMode(h, 0, 0); }},
        {"GetBitMode", [](FtdevHandle h) { return FT_GetBitMode(h, &byte); }},
        {"SetUSBParameters", [](FtdevHandle h) { return FT_SetUSBParameters(h, 4096, 4096); }},
        {"SetDeadmanTimeout", [](FtdevHandle h) { return FT_SetDeadmanTimeout(h, 5000); }},
        {"StopInTask", [](FtdevHandle h) { return FT_StopInTask(h); }},
        {"RestartInTask", [](FtdevHandle h) { return FT_RestartInTask(h); }},
        {"SetResetPipeRetryCount", [](FtdevHandle h) { return FT_SetResetPipeRetryCount(h, 50); }},
        {"ResetPort", [](FtdevHandle h) { return FT_ResetPort(h); }},
        {"CyclePort", [](FtdevHandle h) { return FT_CyclePort(h); }},
        {"GetDeviceInfo", [](FtdevHandle h) { return FT_GetDeviceInfo(h, &word, &word, text, text, &word); }},
    };
}

class HandleChecks : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=A1"}};
};

TEST_F(HandleChecks, NeverIssuedValuesAreRefusedWithoutBeingRead)
{
    // Values that crash, or trip the sanitizers, if anything reads through them.
    int on_the_stack = 0;
    // The freed block's address is kept as a number, which C++ lets a program still use
    // once the block is gone; the volatile keeps GCC 12 from following the number back to
    // the freed pointer and warning (-Wuse-after-free) about a handle that is never read.
    auto *block = new uint64_t[4];
    const volatile auto freed = reinterpret_cast<uintptr_t>(block);
    delete[] block;
    const FtdevHandle never_issued[] = {nullptr, reinterpret_cast<FtdevHandle>(0x10), &on_the_stack,
                                        reinterpret_cast<FtdevHandle>(freed),
                                        reinterpret_cast<FtdevHandle>(~uintptr_t{0})};
    for (const HandleCall &entry : every_handle_call())
        for (FtdevHandle handle : never_issued)
            EXPECT_EQ(entry.call(handle), FTDEV_INVALID_HANDLE) << entry.name << " with " << handle;
}

TEST_F(HandleChecks, ClosedHandlesAreRefused)
{
    for (const HandleCall &entry : every_handle_call()) {
        FtdevHandle handle = open_or_fail(0);
        ASSERT_EQ(FT_Close(handle), FTDEV_OK);
        EXPECT_EQ(entry.call(handle), FTDEV_INVALID_HANDLE) << entry.name;
    }
}

} // namespace
