// The bus driver stand-in as the platform sees it: one DeviceFile per open channel.
//
// The platform stand-in's CreateFileA claims a channel through its transport and hands it
// here; DeviceIoControl, ReadFile and WriteFile on the resulting handle come to the
// members below. Each member returns a Win32 error code (ERROR_SUCCESS on success),
// which the platform keeps as the thread's last error.
#ifndef CORVANE_DRIVER_DEVICE_FILE_H
#define CORVANE_DRIVER_DEVICE_FILE_H

#include "usb/transport.h"
#include "win32/types.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace corvane::driver {

// The driver's side of one overlapped call. The platform cancels it for CancelIo and then
// calls wake_cancelled() so that a call that waits notices. The driver says when the call
// has taken its place among the device's calls (a read begun, a wait registered): the
// platform returns ERROR_IO_PENDING only then, so that whatever the caller does next
// comes after it, as on Windows.
class OverlappedCall {
public:
    explicit OverlappedCall(std::function<void()> on_queued = {}) : on_queued_(std::move(on_queued)) {}
    OverlappedCall(const OverlappedCall &) = delete;
    OverlappedCall &operator=(const OverlappedCall &) = delete;

    void cancel() { cancelled_.store(true, std::memory_order_release); }
    bool cancelled() const { return cancelled_.load(std::memory_order_acquire); }
    void queued() const
    {
        if (on_queued_)
            on_queued_();
    }

private:
    std::atomic<bool> cancelled_{false};
    const std::function<void()> on_queued_;
};

inline bool is_cancelled(const OverlappedCall *call)
{
    return call != nullptr && call->cancelled();
}
inline void mark_queued(const OverlappedCall *call)
{
    if (call != nullptr)
        call->queued();
}

// Signals an event a caller registered with the event-notification request, as SetEvent
// does; false when the handle is no event (then nothing is signalled). The platform owns
// the events and hands this over when it opens a device file.
using SignalEvent = bool (*)(HANDLE event);

class DeviceFile {
public:
    // `identity` is the device as its transport listed it; `channel` is 1 for A.
    static std::unique_ptr<DeviceFile> open(std::unique_ptr<usb::Channel> link, const usb::DeviceIdentity &identity,
                                            unsigned channel, SignalEvent signal_event);
    virtual ~DeviceFile() = default;

    // A request of the request tables: the I/O control code of either table generation
    // (0x00220000 + 4 * index or 0x00222000 + 4 * index). `returned` receives the
    // bytes written to `out`. A request that waits (a wait for a comm event) ends with
    // ERROR_OPERATION_ABORTED once its `call` is cancelled.
    virtual uint32_t io_control(uint32_t code, const void *in, uint32_t in_size, void *out, uint32_t out_size,
                                uint32_t *returned, const OverlappedCall *call = nullptr) = 0;

    // Data calls honouring the time-outs of request 71. A call that reaches its time-out
    // succeeds with the count that moved; one whose `call` is cancelled ends with
    // ERROR_OPERATION_ABORTED and the count that moved before.
    virtual uint32_t read(void *buffer, uint32_t size, uint32_t *done, const OverlappedCall *call = nullptr) = 0;
    virtual uint32_t write(const void *buffer, uint32_t size, uint32_t *done, const OverlappedCall *call = nullptr) = 0;

    // Some OverlappedCall was cancelled: calls that wait look at theirs again.
    virtual void wake_cancelled() {}

    // The handle was closed: ends pending reads and waits (ERROR_OPERATION_ABORTED),
    // stops the reading task and releases the channel; later calls fail with
    // ERROR_INVALID_HANDLE. The destructor does the same, but a caller that shares the
    // file with calls in progress (a wait on another thread) calls this at close.
    virtual void close() {}
};

} // namespace corvane::driver

#endif // CORVANE_DRIVER_DEVICE_FILE_H
