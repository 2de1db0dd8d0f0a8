// Overlapped I/O on device files: the operations under way, GetOverlappedResult and
// CancelIo.
//
// A record's Internal holds STATUS_PENDING while its operation is under way and then the
// outcome as Windows keeps it there: 0 for success, otherwise the Win32 error in the
// NTSTATUS form Windows gives such codes (0xC0070000 | code). InternalHigh holds the bytes
// moved. CancelIo, as on Windows, ends the operations that the calling thread started on
// the handle; closing the handle ends all of them.
#include "platform/platform.h"
#include "platform/posix/device_file_object.h"
#include "platform/posix/handle_table.h"
#include "platform/posix/kernel_objects.h"

#include <exception>
#include <new>
#include <system_error>

namespace corvane::platform {
namespace {

constexpr ULONG_PTR win32_error_status = 0xC0070000u;

ULONG_PTR status_of(DWORD error)
{
    return error == ERROR_SUCCESS ? 0 : win32_error_status | (error & 0xFFFFu);
}

DWORD error_of(ULONG_PTR status)
{
    if (status == 0)
        return ERROR_SUCCESS;
    if ((status & 0xFFFF0000u) == win32_error_status)
        return static_cast<DWORD>(status & 0xFFFFu);
    return ERROR_GEN_FAILURE;
}

} // namespace

void begin_record(LPOVERLAPPED record)
{
    record->Internal = STATUS_PENDING;
    record->InternalHigh = 0;
    if (record->hEvent)
        ResetEvent(record->hEvent);
}

void complete_record(LPOVERLAPPED record, HANDLE event, DWORD error, uint32_t moved)
{
    record->InternalHigh = moved;
    record->Internal = status_of(error);
    if (event)
        signal_event(event);
}

DWORD OverlappedOperations::start(LPOVERLAPPED record, Work work)
{
    std::unique_lock<std::mutex> held(lock_);
    if (ended_)
        return ERROR_INVALID_HANDLE;
    join_finished_locked(held);
    auto operation = std::make_unique<Operation>(*this);
    operation->record = record;
    operation->event = record->hEvent;
    operation->issuer = std::this_thread::get_id();
    begin_record(record);
    Operation &started = *operation;
    operations_.push_back(std::move(operation));
    try {
        // The thread holds the object only by reference: the object joins it before it goes.
        started.worker = std::thread([this, &started, work = std::move(work)] { run(started, work); });
    } catch (const std::system_error &) {
        operations_.pop_back();
        record->Internal = status_of(ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    finished_.wait(held, [&] { return started.queued || started.done; });
    return ERROR_IO_PENDING;
}

void OverlappedOperations::note_queued(Operation &operation)
{
    {
        std::lock_guard<std::mutex> held(lock_);
        operation.queued = true;
    }
    finished_.notify_all();
}

void OverlappedOperations::run(Operation &operation, const Work &work)
{
    uint32_t moved = 0;
    DWORD error;
    try {
        error = work(operation.call, moved);
    } catch (const std::bad_alloc &) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::exception &) {
        error = ERROR_GEN_FAILURE;
    }
    // The record is written and the operation marked done before the event is set, so
    // that a caller woken by the event finds the result; the record is not touched after.
    {
        std::lock_guard<std::mutex> held(lock_);
        operation.record->InternalHigh = moved;
        operation.record->Internal = status_of(error);
        operation.done = true;
    }
    finished_.notify_all();
    if (operation.event)
        signal_event(operation.event);
}

bool OverlappedOperations::wait_for(LPOVERLAPPED record, bool wait)
{
    std::unique_lock<std::mutex> held(lock_);
    auto under_way = [&] {
        for (const std::unique_ptr<Operation> &operation : operations_)
            if (operation->record == record && !operation->done)
                return true;
        return false;
    };
    if (!under_way())
        return true;
    if (!wait)
        return false;
    finished_.wait(held, [&] { return !under_way(); });
    return true;
}

void OverlappedOperations::cancel_this_thread()
{
    std::lock_guard<std::mutex> held(lock_);
    const std::thread::id me = std::this_thread::get_id();
    for (const std::unique_ptr<Operation> &operation : operations_)
        if (operation->issuer == me && !operation->done)
            operation->call.cancel();
}

void OverlappedOperations::end_all()
{
    std::unique_lock<std::mutex> held(lock_);
    ended_ = true;
    finished_.wait(held, [this] {
        for (const std::unique_ptr<Operation> &operation : operations_)
            if (!operation->done)
                return false;
        return true;
    });
    join_finished_locked(held);
}

void OverlappedOperations::join_finished_locked(std::unique_lock<std::mutex> &held)
{
    // A finished thread has only the event to set: joining it is short, and done with the
    // lock released so that it can take the lock it may still need.
    std::list<std::unique_ptr<Operation>> finished;
    for (auto it = operations_.begin(); it != operations_.end();) {
        auto next = std::next(it);
        if ((*it)->done)
            finished.splice(finished.end(), operations_, it);
        it = next;
    }
    if (finished.empty())
        return;
    held.unlock();
    for (std::unique_ptr<Operation> &operation : finished)
        if (operation->worker.joinable())
            operation->worker.join();
    held.lock();
}

} // namespace corvane::platform

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL bWait)
{
    namespace p = corvane::platform;
    std::shared_ptr<p::DeviceFileObject> device = p::find_handle_of<p::DeviceFileObject>(hFile);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpOverlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A record that shows pending but belongs to no operation of this handle would never
    // complete: it is reported as incomplete rather than waited for.
    if (!device->operations().wait_for(lpOverlapped, bWait != FALSE) || lpOverlapped->Internal == STATUS_PENDING) {
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    if (lpNumberOfBytesTransferred)
        *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
    const DWORD error = p::error_of(lpOverlapped->Internal);
    SetLastError(error);
    return error == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL WINAPI CancelIo(HANDLE hFile)
{
    namespace p = corvane::platform;
    std::shared_ptr<p::DeviceFileObject> device = p::find_handle_of<p::DeviceFileObject>(hFile);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    device->operations().cancel_this_thread();
    device->file().wake_cancelled();
    return TRUE;
}
