// Helpers shared by the device library's tests.
#ifndef CORVANE_TESTS_UNIT_DEVICE_DEVICE_TEST_SUPPORT_H
#define CORVANE_TESTS_UNIT_DEVICE_DEVICE_TEST_SUPPORT_H

#include "driver/request_index.h"
#include "ftdev.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace corvane::device::testing {

// The general request's code for a request index, first generation.
constexpr uint32_t request_code(unsigned index)
{
    return driver::primary_code_base + 4u * index;
}

inline FtdevHandle open_or_fail(uint32_t index)
{
    FtdevHandle handle = nullptr;
    EXPECT_EQ(FT_Open(index, &handle), FTDEV_OK) << "device " << index;
    return handle;
}

// Closes its handle when the test ends, however it ends.
class OpenDevice {
public:
    explicit OpenDevice(uint32_t index) : handle_(open_or_fail(index)) {}
    ~OpenDevice() { FT_Close(handle_); }
    OpenDevice(const OpenDevice &) = delete;
    OpenDevice &operator=(const OpenDevice &) = delete;
    FtdevHandle get() const { return handle_; }

private:
    FtdevHandle handle_;
};

struct Identity {
    std::string serial_number, description;
    uint32_t location = 0;
};

// What the device says of itself, asked directly rather than through the listing calls.
inline Identity identity_of(FtdevHandle handle)
{
    char serial_number[16] = {}, description[64] = {};
    EXPECT_EQ(FT_GetDeviceInfo(handle, nullptr, nullptr, serial_number, description, nullptr), FTDEV_OK);
    uint8_t reply[64] = {};
    uint32_t returned = 0, location = 0;
    EXPECT_EQ(FT_IoCtl(handle, request_code(driver::request_location), reply, sizeof reply, reply, sizeof reply,
                       &returned, nullptr),
              FTDEV_OK);
    std::memcpy(&location, reply, sizeof location);
    return {serial_number, description, location};
}

} // namespace corvane::device::testing

#endif // CORVANE_TESTS_UNIT_DEVICE_DEVICE_TEST_SUPPORT_H
