// Handles, mutexes and events with their Win32 meanings.
#include "platform/platform.h"
#include "driver/request_index.h"
#include "platform/posix/kernel_objects.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace corvane::platform_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Runs `body` on a thread of its own and waits for it, so that ownership is tested
// from a thread that is not the creator's.
template <class Body>
void on_other_thread(Body body)
{
    std::thread other(body);
    other.join();
}

class Handles : public ::testing::Test {};

TEST_F(Handles, NeverIssuedAndClosedHandlesAreRefusedEverywhere)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    const HANDLE made_up = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFF0004));
    for (HANDLE bad : {event, made_up, HANDLE(nullptr), INVALID_HANDLE_VALUE}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_FALSE(ResetEvent(bad));
        EXPECT_FALSE(ReleaseMutex(bad));
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(platform::signal_event(bad));
        DWORD done = 7;
        char byte = 0;
        EXPECT_FALSE(ReadFile(bad, &byte, 1, &done, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(done, 0u);
        const DWORD reset = driver::primary_code_base + 4 * driver::request_reset;
        EXPECT_FALSE(DeviceIoControl(bad, reset, nullptr, 0, nullptr, 0, &done, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

TEST_F(Handles, ValuesAreNotReusedAfterClose)
{
    HANDLE first = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(first));
    HANDLE second = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_NE(first, second);
    EXPECT_FALSE(SetEvent(first));
    EXPECT_TRUE(CloseHandle(second));
}

class Mutexes : public ::testing::Test {
protected:
    void TearDown() override { CloseHandle(mutex_); }
    HANDLE mutex_ = nullptr;
};

TEST_F(Mutexes, OwnerMayTakeItAgainAndMustReleaseAsOften)
{
    mutex_ = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(mutex_, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex_, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex_, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex_));
    on_other_thread([this] { EXPECT_EQ(WaitForSingleObject(mutex_, 0), WAIT_TIMEOUT); });
    EXPECT_TRUE(ReleaseMutex(mutex_));
    EXPECT_FALSE(ReleaseMutex(mutex_));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    on_other_thread([this] {
        EXPECT_EQ(WaitForSingleObject(mutex_, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseMutex(mutex_));
    });
}

TEST_F(Mutexes, OnlyTheOwnerMayReleaseIt)
{
    mutex_ = CreateMutexA(nullptr, TRUE, nullptr);
    on_other_thread([this] {
        EXPECT_FALSE(ReleaseMutex(mutex_));
        EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
        const auto start = Clock::now();
        EXPECT_EQ(WaitForSingleObject(mutex_, 30), WAIT_TIMEOUT);
        EXPECT_GE(Clock::now() - start, 30ms);
    });
    EXPECT_TRUE(ReleaseMutex(mutex_));
}

TEST_F(Mutexes, AWaiterGetsItWhenTheOwnerLetsGo)
{
    mutex_ = CreateMutexA(nullptr, TRUE, nullptr);
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] {
        result = WaitForSingleObject(mutex_, 5000);
        ReleaseMutex(mutex_);
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(result.load(), WAIT_FAILED);
    EXPECT_TRUE(ReleaseMutex(mutex_));
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
}

TEST_F(Mutexes, AThreadThatEndsOwningItAbandonsIt)
{
    mutex_ = CreateMutexA(nullptr, FALSE, nullptr);
    on_other_thread([this] { EXPECT_EQ(WaitForSingleObject(mutex_, 0), WAIT_OBJECT_0); });
    EXPECT_EQ(WaitForSingleObject(mutex_, 1000), WAIT_ABANDONED);
    // The abandonment is reported once; the new owner holds it as usual.
    EXPECT_TRUE(ReleaseMutex(mutex_));
    EXPECT_EQ(WaitForSingleObject(mutex_, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex_));
}

class Events : public ::testing::Test {
protected:
    void TearDown() override { CloseHandle(event_); }
    HANDLE event_ = nullptr;
};

TEST_F(Events, AWaitTimesOutOnAnUnsignalledEvent)
{
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_TIMEOUT);
    const auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event_, 40), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, 40ms);
}

TEST_F(Events, ManualResetStaysSignalledUntilReset)
{
    event_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(event_));
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_TIMEOUT);
}

TEST_F(Events, AutoResetReleasesOneWaitPerSignal)
{
    event_ = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(event_));
    EXPECT_TRUE(SetEvent(event_)); // signals do not add up
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_TIMEOUT);
}

TEST_F(Events, SignalEventWakesAWaiterOfAnotherThread)
{
    event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] { result = WaitForSingleObject(event_, INFINITE); });
    std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(platform::signal_event(event_));
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_TIMEOUT);
}

TEST_F(Events, SignalEventRefusesAnythingButAnEvent)
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_FALSE(platform::signal_event(mutex));
    EXPECT_FALSE(SetEvent(mutex));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    // The mutex was not touched by the attempt.
    on_other_thread([mutex] {
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseMutex(mutex));
    });
    EXPECT_TRUE(CloseHandle(mutex));
}

} // namespace
} // namespace corvane::platform_test
