// Several threads opening, using, listing and closing devices at once: no deadlock
// between the two locks, no record lost or freed twice (the sanitizers watch), and
// every device free again at the end.
#include "unit/device/device_test_support.h"
#include "support/inproc_bus.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <set>
#include <thread>
#include <vector>

namespace {

using corvane::device::testing::OpenDevice;

constexpr uint32_t device_count = 4;

// One thread's round: whatever it gets to open, it uses and closes; a device another
// thread holds is a 3, never anything else.
void run_rounds(unsigned thread_number, unsigned rounds, std::atomic<unsigned> &unexpected)
{
    auto expect = [&](bool good, const char *what, FtdevStatus status) {
        if (!good) {
            std::fprintf(stderr, "thread %u: %s gave %u\n", thread_number, what, status);
            ++unexpected;
        }
    };
    for (unsigned round = 0; round < rounds; ++round) {
        const uint32_t index = (thread_number + round) % device_count;
        FtdevHandle handle = nullptr;
        FtdevStatus status = FT_Open(index, &handle);
        expect(status == FTDEV_OK || status == FTDEV_DEVICE_NOT_OPENED, "FT_Open", status);
        if (status == FTDEV_OK) {
            status = FT_SetLatencyTimer(handle, static_cast<uint8_t>(2 + round % 200));
            expect(status == FTDEV_OK, "FT_SetLatencyTimer", status);
            uint32_t queued = 0;
            status = FT_GetQueueStatus(handle, &queued);
            expect(status == FTDEV_OK, "FT_GetQueueStatus", status);
        }

        uint32_t count = 0;
        switch (round % 3) {
        case 0: {
            status = FT_CreateDeviceInfoList(&count);
            expect(status == FTDEV_OK && count == device_count, "FT_CreateDeviceInfoList", status);
            uint32_t flags = 0;
            status = FT_GetDeviceInfoDetail(round % device_count, &flags, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr);
            expect(status == FTDEV_OK || status == FTDEV_DEVICE_NOT_FOUND, "FT_GetDeviceInfoDetail", status);
            break;
        }
        case 1: {
            char texts[device_count][64];
            char *pointers[device_count + 1] = {texts[0], texts[1], texts[2], texts[3], nullptr};
            status = FT_ListDevices(pointers, &count, FTDEV_LIST_ALL | FTDEV_OPEN_BY_DESCRIPTION);
            expect(status == FTDEV_OK || status == FTDEV_DEVICE_NOT_OPENED, "FT_ListDevices", status);
            break;
        }
        default: {
            FtdevDeviceNode nodes[device_count];
            status = FT_GetDeviceInfoList(nodes, &count);
            expect(status == FTDEV_OK && count <= device_count, "FT_GetDeviceInfoList", status);
            break;
        }
        }

        if (handle != nullptr) {
            status = FT_Close(handle);
            expect(status == FTDEV_OK, "FT_Close", status);
            status = FT_Close(handle);
            expect(status == FTDEV_INVALID_HANDLE, "second FT_Close", status);
        }
    }
}

TEST(Concurrency, ThreadsOpenUseListAndCloseWithoutInterference)
{
    corvane::testing::InprocBus bus{{"ft232r", "ft2232h", "ft232h"}};
    uint32_t count = 0;
    ASSERT_EQ(FT_ListDevices(&count, nullptr, FTDEV_LIST_COUNT_ONLY), FTDEV_OK);
    ASSERT_EQ(count, device_count);

    std::atomic<unsigned> unexpected{0};
    auto all_threads = std::async(std::launch::async, [&] {
        std::vector<std::thread> threads;
        for (unsigned number = 0; number < 4; ++number)
            threads.emplace_back(run_rounds, number, 30u, std::ref(unexpected));
        for (std::thread &thread : threads)
            thread.join();
    });
    // A deadlock would hang the whole test program; end it loudly instead.
    if (all_threads.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
        std::fprintf(stderr, "Concurrency: the threads did not finish in 120 s (deadlock?)\n");
        std::abort();
    }
    EXPECT_EQ(unexpected.load(), 0u);

    // Every handle was closed: each device opens again.
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
        FtdevStatus results[2] = {};
        std::thread first([&] {
            while (!go) {
            }
            results[0] = FT_Close(handle);
        });
        std::thread second([&] {
            while (!go) {
            }
            results[1] = FT_Close(handle);
        });
        go = true;
        first.join();
        second.join();
        const std::multiset<FtdevStatus> outcome{results[0], results[1]};
        EXPECT_EQ(outcome, (std::multiset<FtdevStatus>{FTDEV_OK, FTDEV_INVALID_HANDLE}));
    }
}

} // namespace
