// Overlapped reads, writes and comm event waits, their results, cancelling them and
// closing under them; and comm event waits without a record.
#include "unit/com/com_fixture.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

using corvane::com::testing::ComDevice;
using corvane::com::testing::ComTest;
using corvane::com::testing::OverlappedRecord;

constexpr DWORD a_while_ms = 5000; // far longer than any completion here takes

class Overlapped : public ComTest {
protected:
    ComDevice device{open_serial("A1", FILE_FLAG_OVERLAPPED)};

    void SetUp() override
    {
        ASSERT_TRUE(device.valid());
        set_timeouts(device.get(), 0, 0, 0); // reads wait for all their bytes
    }

    // An overlapped write collected at once, as another thread of the caller would do it.
    void write_overlapped(const std::string &bytes)
    {
        OverlappedRecord write;
        EXPECT_FALSE(
            FT_W32_WriteFile(device.get(), bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr, &write.record));
        EXPECT_EQ(FT_W32_GetLastError(device.get()), ERROR_IO_PENDING);
        uint32_t written = 0;
        EXPECT_TRUE(FT_W32_GetOverlappedResult(device.get(), &write.record, &written, TRUE));
        EXPECT_EQ(written, bytes.size());
    }
};

TEST_F(Overlapped, AReadCompletesWhenAnotherThreadWrites)
{
    OverlappedRecord read;
    char buffer[6] = {};
    uint32_t count = 99;
    ASSERT_FALSE(FT_W32_ReadFile(device.get(), buffer, sizeof buffer, &count, &read.record));
    ASSERT_EQ(FT_W32_GetLastError(device.get()), ERROR_IO_PENDING);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(HasOverlappedIoCompleted(&read.record));
    EXPECT_FALSE(FT_W32_GetOverlappedResult(device.get(), &read.record, &count, FALSE));
    EXPECT_EQ(FT_W32_GetLastError(device.get()), ERROR_IO_INCOMPLETE);
    EXPECT_FALSE(read.signalled(0));

    std::thread writer([this] { write_overlapped("sixbyt"); });
    EXPECT_TRUE(read.signalled(a_while_ms));
    writer.join();
    EXPECT_TRUE(HasOverlappedIoCompleted(&read.record));
    EXPECT_EQ(read.record.InternalHigh, sizeof buffer);
    ASSERT_TRUE(FT_W32_GetOverlappedResult(device.get(), &read.record, &count, FALSE));
    EXPECT_EQ(count, sizeof buffer);
    EXPECT_EQ(std::string(buffer, sizeof buffer), "sixbyt");
}

TEST_F(Overlapped, CancelIoEndsThePendingReadsOfItsThread)
{
    OverlappedRecord first, second;
    char buffer[8];
    ASSERT_FALSE(FT_W32_ReadFile(device.get(), buffer, 4, nullptr, &first.record));
    ASSERT_FALSE(FT_W32_ReadFile(device.get(), buffer + 4, 4, nullptr, &second.record));

    // Another thread's CancelIo leaves them alone, as on Windows.
    std::thread([this] { EXPECT_TRUE(FT_W32_CancelIo(device.get())); }).join();
    EXPECT_FALSE(first.signalled(50));

    ASSERT_TRUE(FT_W32_CancelIo(device.get()));
    uint32_t count = 99;
    for (OverlappedRecord *read : {&first, &second}) {
        EXPECT_FALSE(FT_W32_GetOverlappedResult(device.get(), &read->record, &count, TRUE));
        EXPECT_EQ(FT_W32_GetLastError(device.get()), ERROR_OPERATION_ABORTED);
        EXPECT_EQ(count, 0u);
        EXPECT_TRUE(read->signalled(0));
    }

    // The handle goes on working.
    OverlappedRecord again;
    ASSERT_FALSE(FT_W32_ReadFile(device.get(), buffer, 2, nullptr, &again.record));
    write_overlapped("ok");
    ASSERT_TRUE(FT_W32_GetOverlappedResult(device.get(), &again.record, &count, TRUE));
    EXPECT_EQ(std::string(buffer, count), "ok");
}

TEST_F(Overlapped, ClosingEndsEveryPendingOperation)
{
    FtdevHandle handle = open_serial("D2A", FILE_FLAG_OVERLAPPED);
    ASSERT_NE(handle, FTDEV_W32_NO_HANDLE);
    set_timeouts(handle, 0, 0, 0);
    ASSERT_TRUE(FT_W32_SetCommMask(handle, EV_CTS));
    OverlappedRecord read, wait;
    char buffer[4];
    uint32_t events = 77;
    ASSERT_FALSE(FT_W32_ReadFile(handle, buffer, sizeof buffer, nullptr, &read.record));
    ASSERT_FALSE(FT_W32_WaitCommEvent(handle, &events, &wait.record));
    ASSERT_EQ(FT_W32_GetLastError(handle), ERROR_IO_PENDING);

    ASSERT_TRUE(FT_W32_CloseHandle(handle));
    // Both were complete when the close returned.
    for (OverlappedRecord *record : {&read, &wait}) {
        EXPECT_TRUE(record->signalled(0));
        EXPECT_TRUE(HasOverlappedIoCompleted(&record->record));
        EXPECT_NE(record->record.Internal, 0u);
    }
    EXPECT_EQ(events, 77u);
}

TEST_F(Overlapped, AWaitCommEventCompletesOnAReceivedCharacter)
{
    ASSERT_TRUE(FT_W32_SetCommMask(device.get(), EV_RXCHAR | EV_CTS));
    uint32_t mask = 0;
    ASSERT_TRUE(FT_W32_GetCommMask(device.get(), &mask));
    EXPECT_EQ(mask, EV_RXCHAR | EV_CTS);

    OverlappedRecord wait;
    uint32_t events = 0;
    ASSERT_FALSE(FT_W32_WaitCommEvent(device.get(), &events, &wait.record));
    ASSERT_EQ(FT_W32_GetLastError(device.get()), ERROR_IO_PENDING);
    EXPECT_FALSE(wait.signalled(50));
    // One wait at a time.
    uint32_t other = 0;
    OverlappedRecord second;
    EXPECT_FALSE(FT_W32_WaitCommEvent(device.get(), &other, &second.record));
    uint32_t count = 0;
    EXPECT_FALSE(FT_W32_GetOverlappedResult(device.get(), &second.record, &count, TRUE));
    EXPECT_EQ(FT_W32_GetLastError(device.get()), ERROR_INVALID_PARAMETER);

    write_overlapped("!");
    ASSERT_TRUE(wait.signalled(a_while_ms));
    ASSERT_TRUE(FT_W32_GetOverlappedResult(device.get(), &wait.record, &count, FALSE));
    EXPECT_EQ(count, sizeof events);
    EXPECT_EQ(events, EV_RXCHAR);

    // A new mask ends a wait under the old one with no event.
    OverlappedRecord ended;
    events = 99;
    ASSERT_FALSE(FT_W32_WaitCommEvent(device.get(), &events, &ended.record));
    ASSERT_TRUE(FT_W32_SetCommMask(device.get(), EV_DSR));
    ASSERT_TRUE(FT_W32_GetOverlappedResult(device.get(), &ended.record, &count, TRUE));
    EXPECT_EQ(events, 0u);
}

class CommEvents : public ComTest {
protected:
    ComDevice device{open_serial("D2B")};

    void SetUp() override { ASSERT_TRUE(device.valid()); }
};

TEST_F(CommEvents, ASynchronousWaitReportsCharactersAndLineChanges)
{
    uint32_t events = 0;
    EXPECT_FALSE(FT_W32_WaitCommEvent(device.get(), &events, nullptr)); // no mask: nothing could end it
    EXPECT_EQ(FT_W32_GetLastError(device.get()), ERROR_INVALID_PARAMETER);

    ASSERT_TRUE(FT_W32_SetCommMask(device.get(), EV_RXCHAR | EV_RXFLAG | EV_CTS | EV_DSR | EV_RLSD | EV_RING));
    DCB state{};
    ASSERT_TRUE(FT_W32_GetCommState(device.get(), &state));
    state.EvtChar = '#';
    ASSERT_TRUE(FT_W32_SetCommState(device.get(), &state));

    std::thread writer([this] { write_all(device.get(), "a#"); });
    ASSERT_TRUE(FT_W32_WaitCommEvent(device.get(), &events, nullptr));
    writer.join();
    EXPECT_EQ(events & EV_RXCHAR, EV_RXCHAR);
    if (!(events & EV_RXFLAG)) { // the flag may have come in a later packet
        ASSERT_TRUE(FT_W32_WaitCommEvent(device.get(), &events, nullptr));
        EXPECT_EQ(events & EV_RXFLAG, EV_RXFLAG);
    }

    // A line that changed with no wait under way is kept for the next wait.
    bus.set_modem_lines(1, 2, MS_RING_ON);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(FT_W32_WaitCommEvent(device.get(), &events, nullptr));
    EXPECT_EQ(events, EV_RING);

    // The loopback plug wires DTR to DSR and DCD, RTS to CTS.
    ASSERT_TRUE(FT_W32_EscapeCommFunction(device.get(), SETDTR));
    ASSERT_TRUE(FT_W32_WaitCommEvent(device.get(), &events, nullptr));
    EXPECT_EQ(events, EV_DSR | EV_RLSD);
    ASSERT_TRUE(FT_W32_EscapeCommFunction(device.get(), SETRTS));
    ASSERT_TRUE(FT_W32_WaitCommEvent(device.get(), &events, nullptr));
    EXPECT_EQ(events, EV_CTS);
}

} // namespace
