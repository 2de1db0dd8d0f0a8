// Every function that takes a device handle refuses one that is not open with status 1,
// before it touches the value or the device.
#include "device/handle_list.h"
#include "unit/device/device_test_support.h"
#include "support/inproc_bus.h"

#include <functional>
#include <string>
#include <vector>

namespace {

using corvane::device::testing::open_or_fail;

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
    static uint8_t buffer[16];
    return {
        {"FT_IoCtl", [](FtdevHandle h) { return FT_IoCtl(h, 0x00220000u + 4u * 93u, nullptr, 0, &byte, 1, &word, nullptr); }},
        {"FT_Read", [](FtdevHandle h) { return FT_Read(h, buffer, sizeof buffer, &word); }},
        {"FT_Write", [](FtdevHandle h) { return FT_Write(h, buffer, sizeof buffer, &word); }},
        {"FT_Close", [](FtdevHandle h) { return FT_Close(h); }},
        {"FT_ResetDevice", [](FtdevHandle h) { return FT_ResetDevice(h); }},
        {"FT_SetBaudRate", [](FtdevHandle h) { return FT_SetBaudRate(h, 9600); }},
        {"FT_SetDivisor", [](FtdevHandle h) { return FT_SetDivisor(h, 0x4138); }},
        {"FT_SetDataCharacteristics", [](FtdevHandle h) { return FT_SetDataCharacteristics(h, 8, 0, 0); }},
        {"FT_SetFlowControl", [](FtdevHandle h) { return FT_SetFlowControl(h, 0, 0x11, 0x13); }},
        {"FT_SetDtr", [](FtdevHandle h) { return FT_SetDtr(h); }},
        {"FT_ClrDtr", [](FtdevHandle h) { return FT_ClrDtr(h); }},
        {"FT_SetRts", [](FtdevHandle h) { return FT_SetRts(h); }},
        {"FT_ClrRts", [](FtdevHandle h) { return FT_ClrRts(h); }},
        {"FT_GetModemStatus", [](FtdevHandle h) { return FT_GetModemStatus(h, &word); }},
        {"FT_SetChars", [](FtdevHandle h) { return FT_SetChars(h, 0, 0, 0, 0); }},
        {"FT_Purge", [](FtdevHandle h) { return FT_Purge(h, FTDEV_PURGE_RX | FTDEV_PURGE_TX); }},
        {"FT_SetTimeouts", [](FtdevHandle h) { return FT_SetTimeouts(h, 100, 100); }},
        {"FT_GetQueueStatus", [](FtdevHandle h) { return FT_GetQueueStatus(h, &word); }},
        {"FT_GetQueueStatusEx", [](FtdevHandle h) { return FT_GetQueueStatusEx(h, &word); }},
        {"FT_SetEventNotification", [](FtdevHandle h) { return FT_SetEventNotification(h, 0, nullptr); }},
        {"FT_GetEventStatus", [](FtdevHandle h) { return FT_GetEventStatus(h, &word); }},
        {"FT_GetStatus", [](FtdevHandle h) { return FT_GetStatus(h, &word, &word, &word); }},
        {"FT_SetBreakOn", [](FtdevHandle h) { return FT_SetBreakOn(h); }},
        {"FT_SetBreakOff", [](FtdevHandle h) { return FT_SetBreakOff(h); }},
        {"FT_SetWaitMask", [](FtdevHandle h) { return FT_SetWaitMask(h, 0); }},
        {"FT_WaitOnMask", [](FtdevHandle h) { return FT_WaitOnMask(h, &word); }},
        {"FT_ReadEE", [](FtdevHandle h) { return FT_ReadEE(h, 0, &half); }},
        {"FT_WriteEE", [](FtdevHandle h) { return FT_WriteEE(h, 0, 0); }},
        {"FT_EraseEE", [](FtdevHandle h) { return FT_EraseEE(h); }},
        {"FT_SetLatencyTimer", [](FtdevHandle h) { return FT_SetLatencyTimer(h, 16); }},
        {"FT_GetLatencyTimer", [](FtdevHandle h) { return FT_GetLatencyTimer(h, &byte); }},
        {"FT_SetBitMode", [](FtdevHandle h) { return FT_SetBitMode(h, 0, 0); }},
        {"FT_GetBitMode", [](FtdevHandle h) { return FT_GetBitMode(h, &byte); }},
        {"FT_SetUSBParameters", [](FtdevHandle h) { return FT_SetUSBParameters(h, 4096, 4096); }},
        {"FT_SetDeadmanTimeout", [](FtdevHandle h) { return FT_SetDeadmanTimeout(h, 5000); }},
        {"FT_StopInTask", [](FtdevHandle h) { return FT_StopInTask(h); }},
        {"FT_RestartInTask", [](FtdevHandle h) { return FT_RestartInTask(h); }},
        {"FT_SetResetPipeRetryCount", [](FtdevHandle h) { return FT_SetResetPipeRetryCount(h, 50); }},
        {"FT_ResetPort", [](FtdevHandle h) { return FT_ResetPort(h); }},
        {"FT_CyclePort", [](FtdevHandle h) { return FT_CyclePort(h); }},
        {"FT_GetDeviceInfo", [](FtdevHandle h) { return FT_GetDeviceInfo(h, &word, &word, text, text, &word); }},
    };
}

class HandleChecks : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{{"ft232r,serial=A1"}};
};

TEST_F(HandleChecks, NeverIssuedValuesAreRefusedWithoutBeingRead)
{
    // Values that crash or trip the sanitizers if anything reads through them.
    int on_the_stack = 0;
    auto *freed = new uint64_t[4];
    delete[] freed;
    const FtdevHandle never_issued[] = {nullptr, reinterpret_cast<FtdevHandle>(0x10), &on_the_stack, freed,
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

TEST_F(HandleChecks, GettersLeaveTheirOutputsAloneOnAClosedHandle)
{
    FtdevHandle handle = open_or_fail(0);
    ASSERT_EQ(FT_Close(handle), FTDEV_OK);
    uint32_t rx = 0xAAAA, tx = 0xBBBB, events = 0xCCCC;
    EXPECT_EQ(FT_GetStatus(handle, &rx, &tx, &events), FTDEV_INVALID_HANDLE);
    EXPECT_EQ(rx, 0xAAAAu);
    EXPECT_EQ(tx, 0xBBBBu);
    EXPECT_EQ(events, 0xCCCCu);
}

TEST_F(HandleChecks, SetBaudRateOnAClosedHandleIsAnInvalidHandleNotABadRate)
{
    FtdevHandle handle = open_or_fail(0);
    ASSERT_EQ(FT_Close(handle), FTDEV_OK);
    EXPECT_EQ(FT_SetBaudRate(handle, 9600), FTDEV_INVALID_HANDLE);
}

// The list's own bookkeeping: newest first, and a removal that leaves the others valid.
TEST(HandleList, LaterRecordsGoFirstAndRemovalKeepsTheOthers)
{
    using namespace corvane::device;
    HandleLock lock;
    HandleRecord *earlier = add_record();
    HandleRecord *later = add_record();
    ASSERT_NE(earlier, nullptr);
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(later->next, earlier);
    EXPECT_EQ(remove_record(earlier), FTDEV_OK);
    EXPECT_FALSE(is_open(earlier));
    EXPECT_TRUE(is_open(later));
    EXPECT_EQ(find_open(later), later);

    HandleRecord outsider{};
    EXPECT_EQ(remove_record(&outsider), FTDEV_DEVICE_NOT_FOUND);
    EXPECT_EQ(remove_record(later), FTDEV_OK);
    EXPECT_EQ(remove_record(later), FTDEV_DEVICE_NOT_FOUND);
}

TEST(HandleList, UnknownInstancesMatchNothing)
{
    using namespace corvane::device;
    HandleLock lock;
    HandleRecord *record = add_record();
    ASSERT_NE(record, nullptr);
    record->device_instance = 0;
    EXPECT_EQ(find_by_instance(0), nullptr);
    record->device_instance = 77;
    EXPECT_EQ(find_by_instance(77), record);
    EXPECT_EQ(find_by_instance(78), nullptr);
    EXPECT_EQ(remove_record(record), FTDEV_OK);
}

} // namespace
