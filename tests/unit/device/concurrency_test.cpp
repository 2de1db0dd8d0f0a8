// Several threads opening, using, listing and closing devices at once: no deadlock
// between the two locks, no record lost or freed twice (the sanitizers watch), and
// every device free again at the end.
#include "support/inproc_bus.h"
#include "unit/device/device_test_support.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

namespace {

using corvane::device::testing::OpenDevice;

constexpr uint32_t device_count = 4; // ft232r, the two channels of ft2232h, ft232h

// Whatever a thread gets to open it uses and closes; a device another thread holds is
// a 3, never anything else.
void run_rounds(unsigned thread_number, std::atomic<unsigned> &unexpected)
{
    auto expect = [&](bool good, const char *what, FtdevStatus status) {
        if (!good) {
            std::fprintf(stderr, "thread %u: %s gave %u\n", thread_number, what, status);
            ++unexpected;
        }
    };
    for (unsigned round = 0; round < 30; ++round) {
        FtdevHandle handle = nullptr;
        FtdevStatus status = FT_Open((thread_number + round) % device_count, &handle);
        expect(status == FTDEV_OK || status == FTDEV_DEVICE_NOT_OPENED, "FT_Open", status);
        if (status == FTDEV_OK) {
            status = FT_SetLatencyTimer(handle, static_cast<uint8_t>(2 + round));
            expect(status == FTDEV_OK, "FT_SetLatencyTimer", status);
        }
        uint32_t count = 0;
        if (round % 2 == 0) {
            status = FT_CreateDeviceInfoList(&count);
            expect(status == FTDEV_OK && count == device_count, "FT_CreateDeviceInfoList", status);
            status = FT_GetDeviceInfoDetail(round % device_count, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr);
            expect(status == FTDEV_OK || status == FTDEV_DEVICE_NOT_FOUND, "FT_GetDeviceInfoDetail", status);
        } else {
            char texts[device_count][64];
            char *pointers[device_count + 1] = {texts[0], texts[1], texts[2], texts[3], nullptr};
            status = FT_ListDevices(pointers, &count, FTDEV_LIST_ALL | FTDEV_OPEN_BY_DESCRIPTION);
            expect(status == FTDEV_OK || status == FTDEV_DEVICE_NOT_OPENED, "FT_ListDevices", status);
        }
        if (handle != nullptr) {
            status = FT_Close(handle);
            expect(status == FTDEV_OK, "FT_Close", status);
            status = FT_Close(handle);
            expect(status == FTDEV_INVALID_HANDLE, "second FT_Close", status);
        }
    }
}

// A deadlock would hang the whole test program; end it loudly instead.
void finish_within(std::future<void> &work, std::chrono::seconds limit)
{
    if (work.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "the threads did not finish in %lld s (deadlock?)\n",
                     static_cast<long long>(limit.count()));
        std::abort();
    }
}

TEST(Concurrency, ThreadsOpenUseListAndCloseWithoutInterference)
{
    corvane::testing::InprocBus bus{{"ft232r", "ft2232h", "ft232h"}};
    std::atomic<unsigned> unexpected{0};
    auto work = std::async(std::launch::async, [&] {
        std::vector<std::thread> threads;
        for (unsigned number = 0; number < 4; ++number)
            threads.emplace_back(run_rounds, number, std::ref(unexpected));
        for (std::thread &thread : threads)
            thread.join();
    });
    finish_within(work, std::chrono::seconds(120));
    EXPECT_EQ(unexpected.load(), 0u);
    for (uint32_t index = 0; index < device_count; ++index)
        OpenDevice again(index);
}

TEST(Concurrency, TwoThreadsClosingOneHandleCloseItOnce)
{
    corvane::testing::InprocBus bus{{"ft232r"}};
    for (int round = 0; round < 50; ++round) {
        FtdevHandle handle = nullptr;
        ASSERT_EQ(FT_Open(0, &handle), FTDEV_OK);
        std::atomic<bool> go{false};
        std::atomic<FtdevStatus> results[2] = {99, 99};
        auto close = [&](int which) {
            while (!go) {
            }
            results[which] = FT_Close(handle);
        };
        std::thread first(close, 0), second(close, 1);
        go = true;
        first.join();
        second.join();
        EXPECT_EQ(results[0] + results[1], FTDEV_OK + FTDEV_INVALID_HANDLE);
        EXPECT_TRUE(results[0] == FTDEV_OK || results[1] == FTDEV_OK);
    }
}

} // namespace
