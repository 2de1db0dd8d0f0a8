// The state of one open channel: the driver's side of a device file.
//
// Threads: the caller's threads come in through io_control, read and write; the reading
// task moves bulk IN transfers into the receive queue. `mutex_` guards everything the two
// share (queue, line state, events, settings); `link_mutex_` lets one caller thread at a
// time use the channel for control transfers and bulk OUT, beside the task's bulk IN.
// Lock order: link_mutex_, then mutex_.
#ifndef CORVANE_DRIVER_CHANNEL_FILE_H
#define CORVANE_DRIVER_CHANNEL_FILE_H

#include "driver/chip_family.h"
#include "driver/comm_requests.h"
#include "driver/device_file.h"
#include "driver/receive_queue.h"
#include "win32/types.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace corvane::driver {

using Clock = std::chrono::steady_clock;

// Time-outs in milliseconds, in the shape of the 20-byte form of request 71; the 8-byte
// form sets the two constants. A total of 0 means no limit (see reads.cpp).
struct Timeouts {
    uint32_t read_interval = 0;
    uint32_t read_multiplier = 0;
    uint32_t read_constant = 0;
    uint32_t write_multiplier = 0;
    uint32_t write_constant = 0;
};

// Until the first time-out request a read or write waits at most this long.
constexpr uint32_t default_timeout_ms = 5000;
// A total time-out (multiplier x size + constant) is held to what 32 bits can say.
constexpr uint64_t longest_timeout_ms = 0xFFFFFFFFu;
// The reading task's bulk IN time-out: the longest a close waits for the task.
constexpr unsigned reading_poll_ms = 50;
// A write's bulk OUT runs in slices of at most this long, so that a close is noticed.
constexpr unsigned write_slice_ms = 1000;
constexpr size_t receive_queue_capacity = 256 * 1024;
constexpr uint32_t largest_in_transfer = 64 * 1024;
constexpr uint32_t default_deadman_ms = 5000; // control transfer time-out
constexpr uint32_t default_pipe_retries = 50;
constexpr unsigned pipe_retry_pause_ms = 10;

// What a request brings and where its answer goes (sizes 0 when a buffer is absent).
struct RequestBuffers {
    const uint8_t *in = nullptr;
    uint32_t in_size = 0;
    uint8_t *out = nullptr;
    uint32_t out_size = 0;
    uint32_t returned = 0;                // bytes written to `out`
    const OverlappedCall *call = nullptr; // the overlapped call, if the request is one
};

// How long a read may wait, from the comm time-outs (see reads.cpp).
struct ReadLimits {
    std::optional<Clock::time_point> deadline;         // the total time-out; none: no limit
    std::optional<std::chrono::milliseconds> interval; // the longest gap between bytes
    bool immediate = false;                            // return at once with what is queued
    bool first_bytes_end = false;                      // return as soon as any bytes came
};

class ChannelFile final : public DeviceFile {
public:
    ChannelFile(std::unique_ptr<usb::Channel> link, const usb::DeviceIdentity &identity, unsigned channel,
                SignalEvent signal_event);
    ~ChannelFile() override;
    ChannelFile(const ChannelFile &) = delete;
    ChannelFile &operator=(const ChannelFile &) = delete;

    // Allocates the buffers and starts the reading task; false when that fails.
    bool start();

    uint32_t io_control(uint32_t code, const void *in, uint32_t in_size, void *out, uint32_t out_size,
                        uint32_t *returned, const OverlappedCall *call) override;
    uint32_t read(void *buffer, uint32_t size, uint32_t *done, const OverlappedCall *call) override;
    uint32_t write(const void *buffer, uint32_t size, uint32_t *done, const OverlappedCall *call) override;
    void close() override;
    void wake_cancelled() override
    {
        // Taking the lock orders the raise before the waiter's next look at its flag.
        {
            std::lock_guard<std::mutex> lock(mutex_);
        }
        consumers_.notify_all();
    }

private:
    // requests.cpp
    uint32_t answer(unsigned index, RequestBuffers &buffers);
    uint32_t set_timeouts(const RequestBuffers &buffers);
    uint32_t set_transfer_sizes(const RequestBuffers &buffers);
    uint32_t set_driver_word(const RequestBuffers &buffers, uint32_t &setting, uint32_t minimum);
    uint32_t get_queue_bytes(RequestBuffers &buffers);
    uint32_t stop_reading();
    uint32_t restart_reading();

    // device_information.cpp
    uint32_t get_device_information(RequestBuffers &buffers) const;
    uint32_t get_text(RequestBuffers &buffers, const std::string &text) const;
    uint32_t get_location(RequestBuffers &buffers) const;
    uint32_t get_packet_size(RequestBuffers &buffers) const;
    std::string serial_number() const;
    std::string description() const;

    // chip_requests.cpp
    uint32_t vendor_out(uint8_t request, uint16_t value, uint16_t index);
    uint32_t vendor_in(uint8_t request, uint16_t value, uint16_t index, uint8_t *data, uint16_t length);
    uint32_t reset_channel();
    uint32_t set_baud_rate(const RequestBuffers &buffers);
    uint32_t set_divisor(const RequestBuffers &buffers);
    uint32_t set_data_characteristics(const RequestBuffers &buffers);
    uint32_t set_break(bool on);
    uint32_t set_flow_control(const RequestBuffers &buffers);
    uint32_t set_modem_line(uint16_t value);
    uint32_t get_modem_status(RequestBuffers &buffers);
    uint32_t set_special_characters(const RequestBuffers &buffers);
    uint32_t purge(const RequestBuffers &buffers);
    uint32_t set_latency_timer(const RequestBuffers &buffers);
    uint32_t get_latency_timer(RequestBuffers &buffers);
    uint32_t set_bit_mode(const RequestBuffers &buffers);
    uint32_t read_pins(RequestBuffers &buffers);
    uint32_t read_eeprom_word(RequestBuffers &buffers);
    uint32_t write_eeprom_word(const RequestBuffers &buffers);
    uint32_t erase_eeprom(const RequestBuffers &buffers);
    uint32_t read_config_byte(RequestBuffers &buffers);
    uint32_t write_config_byte(const RequestBuffers &buffers);
    uint32_t read_ecc_word(RequestBuffers &buffers);
    uint32_t reset_port();
    uint32_t cycle_port();
    uint16_t channel_index() const { return static_cast<uint16_t>(channel_); }
    unsigned control_timeout_ms();

    // events.cpp
    uint32_t set_event_notification(const RequestBuffers &buffers);
    uint32_t get_event_status(RequestBuffers &buffers);
    uint32_t get_status(RequestBuffers &buffers);
    uint32_t set_wait_mask(const RequestBuffers &buffers);
    uint32_t wait_on_mask(RequestBuffers &buffers);
    // Records `events` (event mask bits); returns the event handle to signal, if any.
    HANDLE raise_events_locked(uint32_t events);

    // comm_requests.cpp
    uint32_t set_comm_state(const RequestBuffers &buffers);
    uint32_t get_comm_state(RequestBuffers &buffers);
    uint32_t get_comm_timeouts(RequestBuffers &buffers);
    uint32_t set_comm_mask(const RequestBuffers &buffers);
    uint32_t get_comm_mask(RequestBuffers &buffers);
    uint32_t wait_comm_event(RequestBuffers &buffers);
    uint32_t get_comm_errors(RequestBuffers &buffers);
    // One bulk IN packet's status bytes and data, before the line state takes them.
    void note_comm_packet_locked(uint8_t modem, uint8_t line, const uint8_t *data, size_t size);
    // A write has gone out whole: the transmit side is empty.
    void note_comm_sent();

    // reading_task.cpp
    void run_reading_task();
    size_t next_transfer_size_locked() const;
    bool task_may_read_locked() const;
    void take_transfer(const uint8_t *packets, size_t transferred);
    void mark_vanished();
    // Forgets what the receive queue holds and whatever is still on its way to it, the
    // transport's read-ahead included. Takes link_mutex_, then mutex_; the caller holds neither.
    void drop_received();

    // reads.cpp, writes.cpp
    ReadLimits read_limits_locked(uint32_t size) const;
    std::optional<Clock::time_point> write_deadline_locked(uint32_t size) const;

    // Immutable after construction.
    std::unique_ptr<usb::Channel> link_;
    const SignalEvent signal_event_; // the platform's, for the registered event
    const usb::DeviceIdentity identity_;
    const unsigned channel_;
    const usb::ftdi::ChipIdentity *chip_; // nullptr for a chip the table does not know
    const Family family_;
    const size_t packet_size_;
    std::unique_ptr<uint8_t[]> transfer_buffer_;
    size_t transfer_buffer_size_ = 0;

    std::mutex link_mutex_;

    mutable std::mutex mutex_;
    std::condition_variable consumers_; // readers and mask waiters: data, events, the end
    std::condition_variable task_;      // the reading task: room, restart, the end
    std::thread reader_;

    // Guarded by mutex_.
    ReceiveQueue queue_;
    uint64_t drops_ = 0;          // drop_received calls so far
    uint64_t transfer_drops_ = 0; // drops_ as the task's current transfer began
    bool closed_ = false;
    bool vanished_ = false;
    uint32_t task_error_ = 0; // the failure that stopped the task, 0 while it runs
    bool task_stop_requested_ = false;
    bool task_in_transfer_ = false;
    // A lone plain read waits for `reader_wants_` bytes; the reading task wakes it only when
    // the queue holds them or cannot take a whole transfer more (see take_transfer).
    unsigned readers_waiting_ = 0;
    size_t reader_wants_ = 0; // 0: wake the readers on every transfer
    // A lone read waiting on an empty queue lends its own buffer: the reading task puts
    // the data of the packets there directly, sparing it a pass through the queue.
    struct LentBuffer {
        uint8_t *out;
        uint32_t size;
        uint32_t filled;
    };
    LentBuffer *lent_ = nullptr;
    bool line_state_known_ = false;
    uint8_t modem_status_ = 0;
    uint8_t line_status_ = 0;
    uint32_t event_mask_ = 0;
    HANDLE event_handle_ = nullptr;
    uint32_t event_status_ = 0;
    uint32_t wait_mask_ = 0;
    uint32_t wait_events_ = 0;
    uint64_t wait_generation_ = 0; // advanced by every new wait mask
    Timeouts timeouts_{0, 0, default_timeout_ms, 0, default_timeout_ms};
    uint32_t in_transfer_size_ = largest_in_transfer;
    uint32_t out_transfer_size_ = 0; // kept for the caller; writes are not split
    uint32_t deadman_ms_ = default_deadman_ms;
    uint32_t pipe_retries_ = default_pipe_retries;
    CommState comm_;
};

// Little-endian access to request buffers.
// The end of a total time-out of `total` ms from now; none for 0 (no limit).
inline std::optional<Clock::time_point> deadline_after(uint64_t total)
{
    if (total == 0)
        return std::nullopt;
    return Clock::now() + std::chrono::milliseconds(std::min(total, longest_timeout_ms));
}

inline uint16_t load_u16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t load_u32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline void store_u16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void store_u32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace corvane::driver

#endif // CORVANE_DRIVER_CHANNEL_FILE_H
