// Opening device paths and routing reads, writes and requests to the bus driver stand-in.
#include "support/inproc_bus.h"
#include "platform/platform.h"
#include "driver/request_index.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace corvane::platform_test {
namespace {

using namespace std::chrono_literals;

constexpr DWORD read_write = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD timeouts_request = driver::primary_code_base + 4 * driver::request_timeouts;
constexpr DWORD no_request = 0xFFFFFFFF;

const std::string single = "\\\\?\\corvane#inproc#0#1";
const std::string dual_a = "\\\\?\\corvane#inproc#1#1";
const std::string dual_b = "\\\\?\\corvane#inproc#1#2";

class DeviceFiles : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (HANDLE handle : opened_)
            CloseHandle(handle);
    }

    HANDLE open(const std::string &path, DWORD access = read_write)
    {
        HANDLE handle = CreateFileA(path.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            opened_.push_back(handle);
        return handle;
    }

    void set_timeouts(HANDLE device, uint32_t read_ms, uint32_t write_ms)
    {
        uint32_t both[2] = {read_ms, write_ms};
        DWORD returned = 99;
        ASSERT_TRUE(DeviceIoControl(device, timeouts_request, both, sizeof both, nullptr, 0, &returned, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    }

    // Whether another client of the bus could claim the channel now.
    bool claimable(const char *id, unsigned channel)
    {
        sim::VirtualBus &bus = bus_.bus();
        const sim::VirtualBus::ClientId other = bus.add_client();
        const bool free = bus.claim(other, id, channel) == usb::Status::ok;
        bus.remove_client(other);
        return free;
    }

    testing::InprocBus bus_{{"ft232r", "ft2232h"}};
    std::vector<HANDLE> opened_;
};

TEST_F(DeviceFiles, AChannelIsOwnedByOneHandleAtATime)
{
    HANDLE first = open(dual_a);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(dual_a), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_NE(open(dual_b), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(claimable("1", 1));

    ASSERT_TRUE(CloseHandle(first));
    EXPECT_TRUE(claimable("1", 1));
    EXPECT_NE(open(dual_a), INVALID_HANDLE_VALUE);
}

TEST_F(DeviceFiles, AChannelHeldByAnotherProgramDoesNotOpen)
{
    sim::VirtualBus &bus = bus_.bus();
    const sim::VirtualBus::ClientId other_program = bus.add_client();
    ASSERT_EQ(bus.claim(other_program, "0", 1), usb::Status::ok);
    EXPECT_EQ(open(single), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    // The failed attempt left no claim of its own behind.
    bus.remove_client(other_program);
    EXPECT_NE(open(single), INVALID_HANDLE_VALUE);
}

TEST_F(DeviceFiles, PathsOfNoPresentChannelAreNotFound)
{
    ASSERT_EQ(bus_.bus().set_plugged("0", false), usb::Status::ok);
    for (const std::string &path :
         {single, std::string("\\\\?\\corvane#inproc#1#3"), std::string("\\\\?\\corvane#other#1#1"),
          std::string("/etc/hostname"), std::string("\\\\?\\corvane#inproc#1")}) {
        EXPECT_EQ(open(path), INVALID_HANDLE_VALUE) << path;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << path;
    }
    EXPECT_EQ(CreateFileA(nullptr, read_write, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
}

TEST_F(DeviceFiles, WritesAndReadsReachTheChannel)
{
    // The chip's channel loops what is written back to its reader.
    HANDLE device = open(single);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    set_timeouts(device, 500, 500);

    DWORD written = 0;
    ASSERT_TRUE(WriteFile(device, "hello", 5, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(written, 5u);
    char received[5] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(device, received, sizeof received, &read, nullptr));
    EXPECT_EQ(std::string(received, read), "hello");
}

TEST_F(DeviceFiles, ARequestSucceedsExactlyWhenTheDriverSaysSo)
{
    HANDLE device = open(single);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    DWORD returned = 99;
    EXPECT_FALSE(DeviceIoControl(device, no_request, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(returned, 0u);
    set_timeouts(device, 100, 100);
    // A size without a buffer never reaches the driver.
    EXPECT_FALSE(DeviceIoControl(device, timeouts_request, nullptr, 8, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(DeviceFiles, ASynchronousDeviceCompletesOverlappedCallsBeforeReturning)
{
    HANDLE device = open(single);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    set_timeouts(device, 1000, 1000);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(device, "x", 1, &count, &overlapped));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(overlapped.InternalHigh, 1u);
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_OBJECT_0);
    char byte = 0;
    EXPECT_TRUE(ReadFile(device, &byte, 1, &count, &overlapped));
    EXPECT_EQ(byte, 'x');
    count = 0;
    EXPECT_TRUE(GetOverlappedResult(device, &overlapped, &count, FALSE));
    EXPECT_EQ(count, 1u);
    // A refused request leaves its failure in the record as well.
    EXPECT_FALSE(DeviceIoControl(device, timeouts_request, nullptr, 0, nullptr, 0, &count, &overlapped));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(GetOverlappedResult(device, &overlapped, &count, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(overlapped.hEvent);
}

TEST_F(DeviceFiles, AccessAskedForLimitsTheCalls)
{
    HANDLE device = open(single, GENERIC_READ);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    DWORD written = 9;
    EXPECT_FALSE(WriteFile(device, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(written, 0u);
}

TEST_F(DeviceFiles, AClosedDeviceHandleIsRefusedAndSetsAreNotFiles)
{
    HANDLE device = open(single);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(device));
    EXPECT_EQ(WaitForSingleObject(device, 0), WAIT_FAILED);
    ASSERT_TRUE(CloseHandle(device));
    opened_.clear();

    DWORD count = 5;
    char byte = 0;
    EXPECT_FALSE(WriteFile(device, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(device));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    const GUID device_class = {0x219D0508, 0x57A8, 0x4FF5, {0x97, 0xA1, 0xBD, 0x86, 0x58, 0x7C, 0x6C, 0x7E}};
    HDEVINFO set = SetupDiGetClassDevsA(&device_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_FALSE(CloseHandle(set));
    EXPECT_FALSE(ReadFile(set, &byte, 1, &count, nullptr));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(DeviceFiles, ClosingEndsAReadOfAnotherThreadAndFreesTheChannel)
{
    HANDLE device = open(single);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    set_timeouts(device, 10000, 1000);
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        char buffer[16];
        DWORD read = 0;
        ReadFile(device, buffer, sizeof buffer, &read, nullptr);
        returned = true;
    });
    std::this_thread::sleep_for(30ms);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(CloseHandle(device));
    opened_.clear();
    reader.join();
    EXPECT_TRUE(returned.load());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(claimable("0", 1));
    EXPECT_NE(open(single), INVALID_HANDLE_VALUE);
}

} // namespace
} // namespace corvane::platform_test
