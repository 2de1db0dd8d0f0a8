// The performance counter and Sleep: a monotonic clock counted in nanoseconds.
#include "platform/platform.h"

#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int64_t counts_per_second = 1'000'000'000;

} // namespace

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER *lpFrequency)
{
    if (!lpFrequency) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    lpFrequency->QuadPart = counts_per_second;
    return TRUE;
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER *lpPerformanceCount)
{
    if (!lpPerformanceCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto since_epoch = Clock::now().time_since_epoch();
    lpPerformanceCount->QuadPart = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
    return TRUE;
}

void WINAPI Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds != INFINITE) {
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
        return;
    }
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(24));
}
