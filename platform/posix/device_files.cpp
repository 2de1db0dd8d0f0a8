// CreateFileA, ReadFile, WriteFile and DeviceIoControl on device paths.
//
// Only device paths open here: the libraries open nothing else through the platform, so
// any other path fails with ERROR_FILE_NOT_FOUND rather than half-imitating a file system.
// Requests and transfers go to the bus driver stand-in, whose Win32 code becomes the
// thread's last error. On a device opened with FILE_FLAG_OVERLAPPED a call with an
// overlapped record returns ERROR_IO_PENDING and completes later (overlapped_io.cpp); on
// any other device it completes before it returns, and a record it was given is filled in
// and its event signalled all the same.
#include "platform/platform.h"
#include "platform/posix/device_file_object.h"
#include "platform/posix/device_path.h"
#include "platform/posix/handle_table.h"
#include "platform/posix/kernel_objects.h"
#include "usb/transport.h"

#include <exception>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

namespace corvane::platform {
namespace {

constexpr DWORD generic_all = 0x10000000u;

struct ClaimedChannels {
    std::mutex lock;
    std::set<std::string> keys;
};

ClaimedChannels &claimed_channels()
{
    static ClaimedChannels *claimed = new ClaimedChannels; // outlives threads at exit
    return *claimed;
}

DWORD open_error(usb::Status status)
{
    switch (status) {
    case usb::Status::ok: return ERROR_SUCCESS;
    case usb::Status::busy: return ERROR_SHARING_VIOLATION; // another program holds the channel
    case usb::Status::no_device:
    case usb::Status::invalid: return ERROR_FILE_NOT_FOUND;
    case usb::Status::not_supported: return ERROR_NOT_SUPPORTED;
    case usb::Status::timeout: return ERROR_SEM_TIMEOUT;
    case usb::Status::stall:
    case usb::Status::io_error: break;
    }
    return ERROR_GEN_FAILURE;
}

usb::Transport *find_transport(const std::string &name)
{
    for (usb::Transport *transport : usb::transports())
        if (transport->name() == name)
            return transport;
    return nullptr;
}

// The device as its transport lists it now; false when it is gone or lacks the channel.
bool find_identity(usb::Transport &transport, const DevicePath &path, usb::DeviceIdentity &identity)
{
    std::vector<usb::DeviceIdentity> devices;
    if (transport.list(devices) != usb::Status::ok)
        return false;
    for (usb::DeviceIdentity &device : devices) {
        if (device.id == path.device_id && path.channel <= device.channels) {
            identity = std::move(device);
            return true;
        }
    }
    return false;
}

// Opens the channel that `name` names; ERROR_SUCCESS and the new handle, or an error.
DWORD open_device(LPCSTR name, DWORD access, DWORD flags, HANDLE &handle)
{
    const std::optional<DevicePath> path = parse_device_path(name);
    if (!path)
        return ERROR_FILE_NOT_FOUND;
    usb::Transport *transport = find_transport(path->transport);
    usb::DeviceIdentity identity;
    if (!transport || !find_identity(*transport, *path, identity))
        return ERROR_FILE_NOT_FOUND;

    std::unique_ptr<ChannelClaim> claim = ChannelClaim::take(path->transport, path->device_id, path->channel);
    if (!claim)
        return ERROR_SHARING_VIOLATION;
    std::unique_ptr<usb::Channel> link;
    if (const usb::Status status = transport->open(path->device_id, path->channel, link); status != usb::Status::ok)
        return open_error(status);
    if (!link)
        return ERROR_GEN_FAILURE;
    std::unique_ptr<driver::DeviceFile> file =
        driver::DeviceFile::open(std::move(link), identity, path->channel, signal_event);
    if (!file)
        return ERROR_GEN_FAILURE;
    handle = add_handle(std::make_shared<DeviceFileObject>(std::move(claim), std::move(file), access, flags));
    return handle ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

// Runs a driver call; nothing thrown inside may cross into the C callers.
template <class Call>
DWORD guarded(Call call)
{
    try {
        return call();
    } catch (const std::bad_alloc &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::exception &) {
        return ERROR_GEN_FAILURE;
    }
}

BOOL finish(DWORD error)
{
    SetLastError(error);
    return error == ERROR_SUCCESS ? TRUE : FALSE;
}

// The device file for a data or request call, or nullptr with the last error set.
std::shared_ptr<DeviceFileObject> device_for_call(HANDLE handle)
{
    std::shared_ptr<DeviceFileObject> device = find_handle_of<DeviceFileObject>(handle);
    if (!device)
        SetLastError(ERROR_INVALID_HANDLE);
    return device;
}

// Runs one driver call, overlapped when the device and the caller both ask for it. The
// count goes to the caller only for a call that completes here.
BOOL run_call(DeviceFileObject &device, LPOVERLAPPED record, OverlappedOperations::Work work, LPDWORD count)
{
    if (record && device.overlapped())
        return finish(device.operations().start(record, std::move(work)));
    const driver::OverlappedCall not_overlapped;
    uint32_t moved = 0;
    if (record)
        begin_record(record);
    const DWORD error = guarded([&] { return work(not_overlapped, moved); });
    if (count)
        *count = moved;
    if (record)
        complete_record(record, record->hEvent, error, moved);
    return finish(error);
}

} // namespace

std::unique_ptr<ChannelClaim> ChannelClaim::take(const std::string &transport, const std::string &device_id,
                                                 unsigned channel)
{
    std::string key = transport + '\0' + device_id + '\0' + std::to_string(channel);
    ClaimedChannels &claimed = claimed_channels();
    std::lock_guard<std::mutex> guard(claimed.lock);
    if (!claimed.keys.insert(key).second)
        return nullptr;
    return std::unique_ptr<ChannelClaim>(new ChannelClaim(std::move(key)));
}

ChannelClaim::~ChannelClaim()
{
    ClaimedChannels &claimed = claimed_channels();
    std::lock_guard<std::mutex> guard(claimed.lock);
    claimed.keys.erase(key_);
}

} // namespace corvane::platform

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = nullptr;
    // Devices are opened exclusively whatever sharing the caller asks for.
    const DWORD error = corvane::platform::guarded(
        [&] { return corvane::platform::open_device(lpFileName, dwDesiredAccess, dwFlagsAndAttributes, handle); });
    SetLastError(error);
    return error == ERROR_SUCCESS ? handle : INVALID_HANDLE_VALUE;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped)
{
    namespace p = corvane::platform;
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    std::shared_ptr<p::DeviceFileObject> device = p::device_for_call(hFile);
    if (!device)
        return FALSE;
    if (!lpBuffer && nNumberOfBytesToRead > 0)
        return p::finish(ERROR_INVALID_PARAMETER);
    if (!(device->access() & (GENERIC_READ | p::generic_all)))
        return p::finish(ERROR_ACCESS_DENIED);
    corvane::driver::DeviceFile *file = &device->file();
    return p::run_call(
        *device, lpOverlapped,
        [file, lpBuffer, nNumberOfBytesToRead](const corvane::driver::OverlappedCall &call, uint32_t &moved) {
            return file->read(lpBuffer, nNumberOfBytesToRead, &moved, &call);
        },
        lpNumberOfBytesRead);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped)
{
    namespace p = corvane::platform;
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    std::shared_ptr<p::DeviceFileObject> device = p::device_for_call(hFile);
    if (!device)
        return FALSE;
    if (!lpBuffer && nNumberOfBytesToWrite > 0)
        return p::finish(ERROR_INVALID_PARAMETER);
    if (!(device->access() & (GENERIC_WRITE | p::generic_all)))
        return p::finish(ERROR_ACCESS_DENIED);
    corvane::driver::DeviceFile *file = &device->file();
    return p::run_call(
        *device, lpOverlapped,
        [file, lpBuffer, nNumberOfBytesToWrite](const corvane::driver::OverlappedCall &call, uint32_t &moved) {
            return file->write(lpBuffer, nNumberOfBytesToWrite, &moved, &call);
        },
        lpNumberOfBytesWritten);
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped)
{
    namespace p = corvane::platform;
    if (lpBytesReturned)
        *lpBytesReturned = 0;
    std::shared_ptr<p::DeviceFileObject> device = p::device_for_call(hDevice);
    if (!device)
        return FALSE;
    if ((!lpInBuffer && nInBufferSize > 0) || (!lpOutBuffer && nOutBufferSize > 0))
        return p::finish(ERROR_INVALID_PARAMETER);
    corvane::driver::DeviceFile *file = &device->file();
    return p::run_call(
        *device, lpOverlapped,
        [file, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
         nOutBufferSize](const corvane::driver::OverlappedCall &call, uint32_t &moved) {
            return file->io_control(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize, &moved,
                                    &call);
        },
        lpBytesReturned);
}
