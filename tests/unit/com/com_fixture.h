// The COM-style tests' bus and helpers: a single-channel chip and a dual-channel one,
// each channel a loopback plug with RTS wired to CTS and DTR to DSR and DCD.
#ifndef CORVANE_TESTS_UNIT_COM_COM_FIXTURE_H
#define CORVANE_TESTS_UNIT_COM_COM_FIXTURE_H

#include "ftdev.h"
#include "platform/platform.h"
#include "support/inproc_bus.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace corvane::com::testing {

// Closes its handle when the test ends, however it ends.
class ComDevice {
public:
    explicit ComDevice(FtdevHandle handle) : handle_(handle) {}
    ~ComDevice()
    {
        if (handle_ != FTDEV_W32_NO_HANDLE)
            FT_W32_CloseHandle(handle_);
    }
    ComDevice(const ComDevice &) = delete;
    ComDevice &operator=(const ComDevice &) = delete;
    FtdevHandle get() const { return handle_; }
    bool valid() const { return handle_ != FTDEV_W32_NO_HANDLE; }

private:
    FtdevHandle handle_;
};

class ComTest : public ::testing::Test {
protected:
    // Device 0 is the FT232R ("A1"); the FT2232H lists its channels as "D2A" and "D2B".
    corvane::testing::InprocBus bus{{"ft232r,serial=A1,description=Alpha", "ft2232h,serial=D2"}};

    static FtdevHandle open_serial(const char *serial, uint32_t flags = 0)
    {
        return FT_W32_CreateFile(serial, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 flags | FTDEV_OPEN_BY_SERIAL_NUMBER, nullptr);
    }

    static void set_timeouts(FtdevHandle handle, DWORD interval, DWORD multiplier, DWORD constant)
    {
        COMMTIMEOUTS timeouts{interval, multiplier, constant, 0, 1000};
        ASSERT_TRUE(FT_W32_SetCommTimeouts(handle, &timeouts));
    }

    static void write_all(FtdevHandle handle, const std::string &bytes)
    {
        uint32_t written = 0;
        ASSERT_TRUE(FT_W32_WriteFile(handle, bytes.data(), static_cast<uint32_t>(bytes.size()), &written, nullptr));
        ASSERT_EQ(written, bytes.size());
    }
};

// A manual-reset event for an overlapped record, closed at the end.
class OverlappedRecord {
public:
    OverlappedRecord()
    {
        record.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        EXPECT_NE(record.hEvent, nullptr);
    }
    ~OverlappedRecord() { CloseHandle(record.hEvent); }
    OverlappedRecord(const OverlappedRecord &) = delete;
    OverlappedRecord &operator=(const OverlappedRecord &) = delete;

    bool signalled(DWORD wait_ms) const { return WaitForSingleObject(record.hEvent, wait_ms) == WAIT_OBJECT_0; }

    OVERLAPPED record{};
};

} // namespace corvane::com::testing

#endif // CORVANE_TESTS_UNIT_COM_COM_FIXTURE_H
