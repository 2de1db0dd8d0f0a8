// Helpers shared by the device library's tests.
#ifndef CORVANE_TESTS_UNIT_DEVICE_DEVICE_TEST_SUPPORT_H
#define CORVANE_TESTS_UNIT_DEVICE_DEVICE_TEST_SUPPORT_H

#include "ftdev.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace corvane::device::testing {

// Opens the device at the index or fails the test.
inline FtdevHandle open_or_fail(uint32_t index)
{
    FtdevHandle handle = nullptr;
    EXPECT_EQ(FT_Open(index, &handle), FTDEV_OK) << "device " << index;
    return handle;
}

// Closes a handle when the test ends, however it ends.
class OpenDevice {
public:
    explicit OpenDevice(uint32_t index) : handle_(open_or_fail(index)) {}
    ~OpenDevice()
    {
        if (handle_ != nullptr)
            FT_Close(handle_);
    }
    OpenDevice(const OpenDevice &) = delete;
    OpenDevice &operator=(const OpenDevice &) = delete;

    FtdevHandle get() const { return handle_; }
    FtdevHandle release()
    {
        FtdevHandle handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    FtdevHandle handle_;
};

inline std::string description_of(FtdevHandle handle)
{
    char description[64] = {};
    EXPECT_EQ(FT_GetDeviceInfo(handle, nullptr, nullptr, nullptr, description, nullptr), FTDEV_OK);
    return description;
}

inline std::string serial_number_of(FtdevHandle handle)
{
    char serial_number[16] = {};
    EXPECT_EQ(FT_GetDeviceInfo(handle, nullptr, nullptr, serial_number, nullptr, nullptr), FTDEV_OK);
    return serial_number;
}

inline uint32_t location_of(FtdevHandle handle)
{
    uint8_t reply[64] = {};
    uint32_t returned = 0;
    EXPECT_EQ(FT_IoCtl(handle, 0x00220000u + 4u * 41u, reply, sizeof reply, reply, sizeof reply, &returned, nullptr),
              FTDEV_OK);
    return uint32_t{reply[0]} | uint32_t{reply[1]} << 8 | uint32_t{reply[2]} << 16 | uint32_t{reply[3]} << 24;
}

} // namespace corvane::device::testing

#endif // CORVANE_TESTS_UNIT_DEVICE_DEVICE_TEST_SUPPORT_H
