// A device file over a scripted channel, and the helpers the driver tests share.
#ifndef CORVANE_TESTS_UNIT_DRIVER_DRIVER_FIXTURE_H
#define CORVANE_TESTS_UNIT_DRIVER_DRIVER_FIXTURE_H

#include "driver/device_file.h"
#include "driver/request_index.h"
#include "platform/platform.h"
#include "platform/posix/kernel_objects.h"
#include "unit/driver/scripted_channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace corvane::testing {

constexpr uint32_t request_code(unsigned index)
{
    return driver::primary_code_base + 4u * index;
}
constexpr uint32_t alternate_request_code(unsigned index)
{
    return driver::alternate_code_base + 4u * index;
}

inline Bytes u32_bytes(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
inline uint32_t u32_at(const Bytes &b, size_t offset = 0)
{
    return b[offset] | b[offset + 1] << 8 | b[offset + 2] << 16 | uint32_t(b[offset + 3]) << 24;
}

class DriverFixture : public ::testing::Test {
protected:
    void open(const usb::DeviceIdentity &identity, unsigned channel = 1)
    {
        file_ = driver::DeviceFile::open(std::make_unique<ScriptedChannel>(chat_), identity, channel,
                                         platform::signal_event);
        ASSERT_TRUE(file_);
    }

    void TearDown() override
    {
        if (file_)
            file_->close();
        EXPECT_TRUE(chat_->controls_done()) << "expected control requests were not sent";
    }

    uint32_t request(unsigned index, const Bytes &in, Bytes *out = nullptr, uint32_t *returned = nullptr)
    {
        uint32_t ignored = 0;
        return file_->io_control(request_code(index), in.empty() ? nullptr : in.data(),
                                 static_cast<uint32_t>(in.size()), out ? out->data() : nullptr,
                                 out ? static_cast<uint32_t>(out->size()) : 0, returned ? returned : &ignored);
    }

    void set_timeouts(uint32_t read_ms, uint32_t write_ms)
    {
        Bytes in = u32_bytes(read_ms);
        Bytes write = u32_bytes(write_ms);
        in.insert(in.end(), write.begin(), write.end());
        ASSERT_EQ(ERROR_SUCCESS, request(driver::request_timeouts, in));
    }

    uint32_t queued()
    {
        Bytes out(4);
        EXPECT_EQ(ERROR_SUCCESS, request(driver::request_receive_queue, {}, &out));
        return u32_at(out);
    }

    // Waits until the reading task has queued `bytes` (the task runs on its own thread).
    void wait_for_queue(uint32_t bytes)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (queued() < bytes && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_EQ(bytes, queued());
    }

    std::shared_ptr<ChatScript> chat_ = std::make_shared<ChatScript>();
    std::unique_ptr<driver::DeviceFile> file_;
};

} // namespace corvane::testing

#endif // CORVANE_TESTS_UNIT_DRIVER_DRIVER_FIXTURE_H
