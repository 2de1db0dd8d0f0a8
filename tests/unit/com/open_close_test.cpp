// FT_W32_CreateFile and FT_W32_CloseHandle, and what every COM-style call does with a
// handle that is not open.
#include "device/handle_list.h"
#include "unit/com/com_fixture.h"
#include "unit/device/device_test_support.h"

#include <functional>
#include <utility>
#include <vector>

namespace {

using corvane::com::testing::ComDevice;
using corvane::com::testing::ComTest;
using corvane::device::find_open;
using corvane::device::testing::identity_of;
using corvane::device::testing::Identity;
using corvane::device::testing::OpenDevice;

class ComOpen : public ComTest {
protected:
    std::vector<Identity> devices;

    void SetUp() override
    {
        for (uint32_t index = 0; index < 3; ++index)
            devices.push_back(identity_of(OpenDevice(index).get()));
    }
};

TEST_F(ComOpen, FindsEachDeviceBySerialNumberDescriptionOrLocation)
{
    for (const Identity &wanted : devices) {
        const std::pair<uint32_t, const void *> ways[] = {
            {FTDEV_OPEN_BY_SERIAL_NUMBER, wanted.serial_number.c_str()},
            {FTDEV_OPEN_BY_SERIAL_NUMBER | FTDEV_OPEN_BY_LOCATION, wanted.serial_number.c_str()},
            {FTDEV_OPEN_BY_DESCRIPTION, wanted.description.c_str()},
            {FTDEV_OPEN_BY_LOCATION, reinterpret_cast<const void *>(uintptr_t{wanted.location})},
        };
        for (const auto &[flags, name] : ways) {
            ComDevice device(FT_W32_CreateFile(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                               flags | FILE_FLAG_OVERLAPPED, nullptr));
            ASSERT_TRUE(device.valid()) << wanted.serial_number << " flags " << flags;
            EXPECT_EQ(identity_of(device.get()).serial_number, wanted.serial_number);
            // The name bits are the library's; the rest went to the device open.
            const corvane::device::HandleRecord *record = find_open(device.get());
            EXPECT_EQ(record->open_flags, FILE_FLAG_OVERLAPPED);
            EXPECT_EQ(record->device_type,
                      wanted.serial_number == "A1" ? uint32_t{FTDEV_DEVICE_232R} : uint32_t{FTDEV_DEVICE_2232H});
        }
    }
}

TEST_F(ComOpen, OpensNothingWhenNothingMatches)
{
    const std::pair<uint32_t, const void *> misses[] = {
        {FTDEV_OPEN_BY_SERIAL_NUMBER, "A"},   // a prefix is not a match
        {FTDEV_OPEN_BY_DESCRIPTION, "alpha"}, // nor another case
        {FTDEV_OPEN_BY_LOCATION, reinterpret_cast<const void *>(uintptr_t{0xBEEF})},
        {FTDEV_OPEN_BY_SERIAL_NUMBER, nullptr}, // no text to compare
        {FILE_FLAG_OVERLAPPED, "A1"},           // no name kind at all
    };
    for (const auto &[flags, name] : misses) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(FT_W32_CreateFile(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr),
                  FTDEV_W32_NO_HANDLE)
            << flags;
        EXPECT_NE(FT_W32_GetLastError(nullptr), ERROR_SUCCESS) << flags;
    }
    // Every device was closed again on the way.
    for (uint32_t index = 0; index < 3; ++index)
        OpenDevice check(index);
}

TEST_F(ComOpen, ADeviceHeldElsewhereIsNotOpenedTwice)
{
    OpenDevice held(0);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(open_serial("A1"), FTDEV_W32_NO_HANDLE);
    EXPECT_EQ(FT_W32_GetLastError(nullptr), ERROR_SHARING_VIOLATION);
}

TEST_F(ComOpen, ClosesOnceAndThenRefusesEveryCall)
{
    FtdevHandle handle = open_serial("A1");
    ASSERT_NE(handle, FTDEV_W32_NO_HANDLE);
    EXPECT_TRUE(FT_W32_CloseHandle(handle));
    OpenDevice reopened(0); // the device is free again

    uint8_t buffer[4] = {};
    uint32_t count = 7, value = 0;
    DCB state{};
    COMMTIMEOUTS timeouts{};
    COMSTAT status{};
    OVERLAPPED record{};
    const std::vector<std::pair<const char *, std::function<FtdevBool()>>> calls = {
        {"CloseHandle", [&] { return FT_W32_CloseHandle(handle); }},
        {"ReadFile", [&] { return FT_W32_ReadFile(handle, buffer, 4, &count, nullptr); }},
        {"WriteFile", [&] { return FT_W32_WriteFile(handle, buffer, 4, &count, nullptr); }},
        {"GetOverlappedResult", [&] { return FT_W32_GetOverlappedResult(handle, &record, &count, FALSE); }},
        {"CancelIo", [&] { return FT_W32_CancelIo(handle); }},
        {"SetupComm", [&] { return FT_W32_SetupComm(handle, 4096, 4096); }},
        {"SetCommBreak", [&] { return FT_W32_SetCommBreak(handle); }},
        {"ClearCommBreak", [&] { return FT_W32_ClearCommBreak(handle); }},
        {"ClearCommError", [&] { return FT_W32_ClearCommError(handle, &value, &status); }},
        {"EscapeCommFunction", [&] { return FT_W32_EscapeCommFunction(handle, SETDTR); }},
        {"GetCommModemStatus", [&] { return FT_W32_GetCommModemStatus(handle, &value); }},
        {"GetCommState", [&] { return FT_W32_GetCommState(handle, &state); }},
        {"SetCommState", [&] { return FT_W32_SetCommState(handle, &state); }},
        {"GetCommTimeouts", [&] { return FT_W32_GetCommTimeouts(handle, &timeouts); }},
        {"SetCommTimeouts", [&] { return FT_W32_SetCommTimeouts(handle, &timeouts); }},
        {"PurgeComm", [&] { return FT_W32_PurgeComm(handle, PURGE_RXCLEAR); }},
        {"SetCommMask", [&] { return FT_W32_SetCommMask(handle, EV_RXCHAR); }},
        {"GetCommMask", [&] { return FT_W32_GetCommMask(handle, &value); }},
        {"WaitCommEvent", [&] { return FT_W32_WaitCommEvent(handle, &value, nullptr); }},
    };
    const size_t requests_before = bus.control_log(0).size();
    for (const auto &[name, call] : calls) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(call()) << name;
        EXPECT_EQ(FT_W32_GetLastError(handle), ERROR_INVALID_HANDLE) << name;
    }
    EXPECT_EQ(bus.control_log(0).size(), requests_before);
    EXPECT_EQ(count, 7u); // the counts are not touched either
}

} // namespace
