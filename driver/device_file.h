// The bus driver stand-in as the platform sees it: one DeviceFile per open channel.
//
// The platform stand-in's CreateFileA claims a channel through its transport and hands it
// here; DeviceIoControl, ReadFile and WriteFile on the resulting handle come to the
// members below. Each member returns a Win32 error code (ERROR_SUCCESS on success),
// which the platform keeps as the thread's last error.
#ifndef CORVANE_DRIVER_DEVICE_FILE_H
#define CORVANE_DRIVER_DEVICE_FILE_H

#include "usb/transport.h"

#include <cstdint>
#include <memory>

namespace corvane::driver {

class DeviceFile {
public:
    // `identity` is the device as its transport listed it; `channel` is 1 for A.
    static std::unique_ptr<DeviceFile> open(std::unique_ptr<usb::Channel> link,
                                            const usb::DeviceIdentity &identity,
                                            unsigned channel);
    virtual ~DeviceFile() = default;

    // A request of the request tables: the I/O control code of either table generation
    // (0x00220000 + 4 * index or 0x00222000 + 4 * index). `returned` receives the
    // bytes written to `out`.
    virtual uint32_t io_control(uint32_t code, const void *in, uint32_t in_size, void *out,
                                uint32_t out_size, uint32_t *returned) = 0;

    // Synchronous data calls honouring the time-outs of request 71. A call that reaches
    // its time-out succeeds with the count that moved.
    virtual uint32_t read(void *buffer, uint32_t size, uint32_t *done) = 0;
    virtual uint32_t write(const void *buffer, uint32_t size, uint32_t *done) = 0;

    // The handle was closed: ends pending reads and waits (ERROR_OPERATION_ABORTED),
    // stops the reading task and releases the channel; later calls fail with
    // ERROR_INVALID_HANDLE. The destructor does the same, but a caller that shares the
    // file with calls in progress (a wait on another thread) calls this at close.
    virtual void close() {}
};

} // namespace corvane::driver

#endif // CORVANE_DRIVER_DEVICE_FILE_H
