// An open device file: the bus driver stand-in's DeviceFile for one claimed channel.
#ifndef CORVANE_PLATFORM_DEVICE_FILE_OBJECT_H
#define CORVANE_PLATFORM_DEVICE_FILE_OBJECT_H

#include "driver/device_file.h"
#include "platform/platform.h"
#include "platform/posix/handle_table.h"

#include <memory>
#include <string>

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

class DeviceFileObject final : public KernelObject {
public:
    static constexpr ObjectKind object_kind = ObjectKind::device_file;

    DeviceFileObject(std::unique_ptr<ChannelClaim> claim, std::unique_ptr<driver::DeviceFile> file,
                     DWORD access, DWORD flags)
        : KernelObject(object_kind), claim_(std::move(claim)), file_(std::move(file)), access_(access),
          flags_(flags) {}

    // Ends reads and waits still running on other threads and gives the channel back at
    // once, not when the last of those calls returns.
    void handle_closed() override {
        file_->close();
        claim_.reset();
    }

    driver::DeviceFile &file() { return *file_; }
    DWORD access() const { return access_; }
    // The flags-and-attributes word of the open (FILE_FLAG_OVERLAPPED among them).
    DWORD flags() const { return flags_; }

private:
    // Declared first so that it is released last, after the driver has let the channel go.
    std::unique_ptr<ChannelClaim> claim_;
    std::unique_ptr<driver::DeviceFile> file_;
    const DWORD access_;
    const DWORD flags_;
};

} // namespace corvane::platform

#endif // CORVANE_PLATFORM_DEVICE_FILE_OBJECT_H
