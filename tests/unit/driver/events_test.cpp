// Event notification, event status and waits on the wait mask.
#include "unit/driver/driver_fixture.h"

#include "ftdev.h"

#include <future>

namespace corvane::testing {
namespace {

using namespace driver; // the request index names

class DriverEvents : public DriverFixture {
protected:
    void SetUp() override
    {
        open(single_channel_chip());
        event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(nullptr, event_);
    }
    void TearDown() override
    {
        DriverFixture::TearDown();
        CloseHandle(event_);
    }
    void notify_on(uint32_t mask)
    {
        // The record as a caller lays it out: device handle, mask, event handle.
        struct {
            void *device;
            uint32_t mask;
            void *parameter;
        } record{this, mask, event_};
        ASSERT_EQ(ERROR_SUCCESS, file_->io_control(request_code(request_event_notification), &record, sizeof record,
                                                   nullptr, 0, nullptr));
    }
    uint32_t event_status()
    {
        Bytes out(4);
        EXPECT_EQ(ERROR_SUCCESS, request(request_event_status, {}, &out));
        return u32_at(out);
    }
    HANDLE event_ = nullptr;
};

TEST_F(DriverEvents, ReceivedCharacterSignalsTheEvent)
{
    notify_on(FTDEV_EVENT_RX_CHAR);
    chat_->add_bulk_in(packet(0x11, 0x60, {'z'}));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event_, 2000));
    EXPECT_EQ(uint32_t(FTDEV_EVENT_RX_CHAR), event_status());
    EXPECT_EQ(0u, event_status()) << "reading the status clears it";
}

TEST_F(DriverEvents, StatusPacketsAloneSignalNothing)
{
    notify_on(FTDEV_EVENT_RX_CHAR | FTDEV_EVENT_MODEM_STATUS);
    chat_->add_bulk_in(packet(0x11, 0x60));
    chat_->add_bulk_in(packet(0x11, 0x60));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event_, 150));
    EXPECT_EQ(0u, event_status());
}

TEST_F(DriverEvents, ModemStatusChangeSignalsTheEvent)
{
    notify_on(FTDEV_EVENT_MODEM_STATUS);
    chat_->add_bulk_in(packet(0x11, 0x60, {'a'}));
    chat_->add_bulk_in(packet(0x31, 0x60));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event_, 2000));
    EXPECT_EQ(uint32_t(FTDEV_EVENT_MODEM_STATUS), event_status()) << "received data is not in the mask";
}

TEST_F(DriverEvents, GetStatusReportsQueueAndEvents)
{
    notify_on(FTDEV_EVENT_RX_CHAR);
    chat_->add_bulk_in(packet(0x11, 0x60, {1, 2, 3, 4}));
    wait_for_queue(4);
    Bytes status(12);
    ASSERT_EQ(ERROR_SUCCESS, request(request_status, Bytes(12), &status));
    EXPECT_EQ(4u, u32_at(status, 0));
    EXPECT_EQ(0u, u32_at(status, 4));
    EXPECT_EQ(uint32_t(FTDEV_EVENT_RX_CHAR), u32_at(status, 8));
}

class WaitOnMask : public DriverFixture {
protected:
    void SetUp() override { open(single_channel_chip()); }
    std::future<std::pair<uint32_t, uint32_t>> start_wait()
    {
        return std::async(std::launch::async, [this] {
            Bytes out(4);
            uint32_t error = request(request_wait_on_mask, {}, &out);
            return std::make_pair(error, u32_at(out));
        });
    }
};

TEST_F(WaitOnMask, EndsWhenAMaskedEventHappens)
{
    ASSERT_EQ(ERROR_SUCCESS, request(request_set_wait_mask, u32_bytes(FTDEV_EVENT_RX_CHAR)));
    auto wait = start_wait();
    EXPECT_EQ(std::future_status::timeout, wait.wait_for(std::chrono::milliseconds(50)));
    chat_->add_bulk_in(packet(0x11, 0x60, {'q'}));
    ASSERT_EQ(std::future_status::ready, wait.wait_for(std::chrono::seconds(2)));
    auto [error, events] = wait.get();
    EXPECT_EQ(ERROR_SUCCESS, error);
    EXPECT_EQ(uint32_t(FTDEV_EVENT_RX_CHAR), events);
}

TEST_F(WaitOnMask, PendingWaitEndsWhenTheFileCloses)
{
    ASSERT_EQ(ERROR_SUCCESS, request(request_set_wait_mask, u32_bytes(FTDEV_EVENT_MODEM_STATUS)));
    auto wait = start_wait();
    EXPECT_EQ(std::future_status::timeout, wait.wait_for(std::chrono::milliseconds(50)));
    file_->close();
    ASSERT_EQ(std::future_status::ready, wait.wait_for(std::chrono::seconds(2)));
    EXPECT_EQ(ERROR_OPERATION_ABORTED, wait.get().first);
}

TEST_F(WaitOnMask, NewMaskEndsAPendingWaitWithNoEvent)
{
    ASSERT_EQ(ERROR_SUCCESS, request(request_set_wait_mask, u32_bytes(FTDEV_EVENT_MODEM_STATUS)));
    auto wait = start_wait();
    EXPECT_EQ(std::future_status::timeout, wait.wait_for(std::chrono::milliseconds(50)));
    ASSERT_EQ(ERROR_SUCCESS, request(request_set_wait_mask, u32_bytes(FTDEV_EVENT_RX_CHAR)));
    ASSERT_EQ(std::future_status::ready, wait.wait_for(std::chrono::seconds(2)));
    auto [error, events] = wait.get();
    EXPECT_EQ(ERROR_SUCCESS, error);
    EXPECT_EQ(0u, events);
}

TEST_F(WaitOnMask, EmptyMaskIsRefusedRatherThanWaitingForever)
{
    Bytes out(4);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, request(request_wait_on_mask, {}, &out));
}

} // namespace
} // namespace corvane::testing
