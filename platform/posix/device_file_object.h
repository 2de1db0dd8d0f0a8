// An open device file: the bus driver stand-in's DeviceFile for one claimed channel.
#ifndef CORVANE_PLATFORM_DEVICE_FILE_OBJECT_H
#define CORVANE_PLATFORM_DEVICE_FILE_OBJECT_H

#include "driver/device_file.h"
#include "platform/platform.h"
#include "platform/posix/handle_table.h"

#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace corvane::platform {

// This process's hold on one channel: while it lives, a second open of the same channel
// here fails with ERROR_SHARING_VIOLATION before the transport is even asked.
class ChannelClaim {
public:
    // The claim, or nullptr when the channel is already held in this process.
    static std::unique_ptr<ChannelClaim> take(const std::string &transport, const std::string &device_id,
                                              unsigned channel);
    ~ChannelClaim();
    ChannelClaim(const ChannelClaim &) = delete;
    ChannelClaim &operator=(const ChannelClaim &) = delete;

private:
    explicit ChannelClaim(std::string key) : key_(std::move(key)) {}
    std::string key_;
};

// The overlapped operations under way on one device file (overlapped_io.cpp). Each runs
// on a thread of its own and completes as on Windows: Internal and InternalHigh of the
// caller's record are filled in, then the record's event is signalled. The caller keeps
// the record and the buffers alive until then, as Windows asks.
class OverlappedOperations {
public:
    // The driver call of one operation: hands `call` to the driver, reports the bytes it
    // moved and returns a Win32 error code.
    using Work = std::function<uint32_t(const driver::OverlappedCall &call, uint32_t &moved)>;

    OverlappedOperations() = default;
    ~OverlappedOperations() { end_all(); }
    OverlappedOperations(const OverlappedOperations &) = delete;
    OverlappedOperations &operator=(const OverlappedOperations &) = delete;

    // Starts `work` for `record` and returns once the driver has queued it (or it ended):
    // ERROR_IO_PENDING, or the error that kept it from starting.
    DWORD start(LPOVERLAPPED record, Work work);
    // False while an operation of `record` is under way and `wait` is false; otherwise
    // waits for it to complete and returns true.
    bool wait_for(LPOVERLAPPED record, bool wait);
    // Cancels the operations the calling thread started.
    void cancel_this_thread();
    // The file has closed, which ended every call: waits for the threads and refuses
    // new operations.
    void end_all();

private:
    struct Operation {
        explicit Operation(OverlappedOperations &owner) : call([this, &owner] { owner.note_queued(*this); }) {}
        LPOVERLAPPED record = nullptr;
        HANDLE event = nullptr;
        std::thread::id issuer;
        driver::OverlappedCall call;
        bool queued = false;
        bool done = false;
        std::thread worker;
    };
    void note_queued(Operation &operation);
    void run(Operation &operation, const Work &work);
    void join_finished_locked(std::unique_lock<std::mutex> &held);

    std::mutex lock_;
    std::condition_variable finished_;
    std::list<std::unique_ptr<Operation>> operations_;
    bool ended_ = false;
};

// Resets the record's event and marks the record as under way, as every call on an
// overlapped record does when it starts.
void begin_record(LPOVERLAPPED record);
// Fills in the outcome of a completed call and signals the event.
void complete_record(LPOVERLAPPED record, HANDLE event, DWORD error, uint32_t moved);

class DeviceFileObject final : public KernelObject {
public:
    static constexpr ObjectKind object_kind = ObjectKind::device_file;

    DeviceFileObject(std::unique_ptr<ChannelClaim> claim, std::unique_ptr<driver::DeviceFile> file, DWORD access,
                     DWORD flags)
        : KernelObject(object_kind), claim_(std::move(claim)), file_(std::move(file)), access_(access), flags_(flags)
    {}

    // Ends reads and waits still running on other threads and gives the channel back at
    // once, not when the last of those calls returns.
    void handle_closed() override
    {
        file_->close();
        operations_.end_all();
        claim_.reset();
    }

    driver::DeviceFile &file() { return *file_; }
    DWORD access() const { return access_; }
    // The flags-and-attributes word of the open (FILE_FLAG_OVERLAPPED among them).
    DWORD flags() const { return flags_; }
    bool overlapped() const { return (flags_ & FILE_FLAG_OVERLAPPED) != 0; }
    OverlappedOperations &operations() { return operations_; }

private:
    // Declared first so that it is released last, after the driver has let the channel go.
    std::unique_ptr<ChannelClaim> claim_;
    std::unique_ptr<driver::DeviceFile> file_;
    // After the file, so that its threads end before the file goes.
    OverlappedOperations operations_;
    const DWORD access_;
    const DWORD flags_;
};

} // namespace corvane::platform

#endif // CORVANE_PLATFORM_DEVICE_FILE_OBJECT_H
