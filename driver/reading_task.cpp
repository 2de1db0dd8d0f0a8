// The reading task: one thread per open channel that keeps a bulk IN transfer going,
// strips the two status bytes from every packet and fills the receive queue.
#include "driver/errors.h"
#include "driver/channel_file.h"

#include "ftdev.h"

#include <algorithm>
#include <cstring>

namespace corvane::driver {

namespace ftdi = usb::ftdi;

bool ChannelFile::task_may_read_locked() const
{
    // Nothing is ever dropped: the task reads only when the queue can take the data of
    // at least one whole packet.
    return !task_stop_requested_ && task_error_ == 0 && queue_.room() >= packet_size_ - ftdi::status_bytes;
}

size_t ChannelFile::next_transfer_size_locked() const
{
    size_t data_per_packet = packet_size_ - ftdi::status_bytes;
    size_t packets = std::min(
        {queue_.room() / data_per_packet, in_transfer_size_ / packet_size_, transfer_buffer_size_ / packet_size_});
    return std::max<size_t>(packets, 1) * packet_size_;
}

void ChannelFile::run_reading_task()
{
    unsigned failures = 0;
    for (;;) {
        size_t request;
        uint32_t retries;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (task_in_transfer_) {
                task_in_transfer_ = false;
                task_.notify_all();
            }
            task_.wait(lock, [this] { return closed_ || vanished_ || task_may_read_locked(); });
            if (closed_ || vanished_)
                return;
            request = next_transfer_size_locked();
            retries = pipe_retries_;
            task_in_transfer_ = true;
            transfer_drops_ = drops_;
        }
        size_t transferred = 0;
        // The packets stay where the transport holds them, when it can show them there.
        const uint8_t *packets = nullptr;
        usb::Status status =
            link_->bulk_in_view(transfer_buffer_.get(), request, reading_poll_ms, &packets, &transferred);
        if (transferred > 0)
            take_transfer(packets, transferred);
        if (status == usb::Status::ok || status == usb::Status::timeout) {
            failures = 0;
            continue;
        }
        if (status == usb::Status::no_device) {
            mark_vanished();
            std::lock_guard<std::mutex> lock(mutex_);
            task_in_transfer_ = false;
            task_.notify_all();
            return;
        }
        if (++failures > retries) {
            // The pipe keeps failing: readers learn why once the queue is empty, and a
            // restart of the reading task tries again.
            {
                std::lock_guard<std::mutex> lock(mutex_);
                task_error_ = win32_error(status);
            }
            consumers_.notify_all();
            failures = 0;
            continue;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        task_.wait_for(lock, std::chrono::milliseconds(pipe_retry_pause_ms), [this] { return closed_; });
    }
}

void ChannelFile::take_transfer(const uint8_t *packets, size_t transferred)
{
    HANDLE to_signal = nullptr;
    bool wake = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        uint32_t events = 0;
        for (size_t offset = 0; offset < transferred; offset += packet_size_) {
            size_t length = std::min(packet_size_, transferred - offset);
            if (length < ftdi::status_bytes)
                break; // a torn packet carries neither status nor data
            const uint8_t *packet = packets + offset;
            auto modem = static_cast<uint8_t>(packet[0] & ~ftdi::modem_reserved_mask);
            if (line_state_known_ && modem != modem_status_)
                events |= FTDEV_EVENT_MODEM_STATUS;
            note_comm_packet_locked(modem, packet[1], packet + ftdi::status_bytes, length - ftdi::status_bytes);
            modem_status_ = modem;
            line_status_ = packet[1];
            line_state_known_ = true;
            size_t data = length - ftdi::status_bytes;
            if (data > 0) {
                const uint8_t *bytes = packet + ftdi::status_bytes;
                // Straight into a waiting read's buffer while nothing older is queued.
                if (lent_ && queue_.size() == 0) {
                    size_t lent = std::min<size_t>(data, lent_->size - lent_->filled);
                    std::memcpy(lent_->out + lent_->filled, bytes, lent);
                    lent_->filled += static_cast<uint32_t>(lent);
                    bytes += lent;
                    data -= lent;
                }
                queue_.push(bytes, data);
                events |= FTDEV_EVENT_RX_CHAR;
            }
        }
        to_signal = raise_events_locked(events);
        // Waking a reader per transfer costs a thread switch per 64 KiB; a lone plain read
        // is woken once its bytes are all here, or before the queue could hold back the
        // next whole transfer. Mask waiters and every other reader hear of each transfer.
        size_t whole_transfer = transfer_buffer_size_ / packet_size_ * (packet_size_ - ftdi::status_bytes);
        bool read_satisfied = lent_ ? lent_->filled == lent_->size : queue_.size() >= reader_wants_;
        wake = readers_waiting_ != 1 || reader_wants_ == 0 || read_satisfied || queue_.room() < whole_transfer ||
               wait_mask_ != 0 || comm_.waiting;
    }
    if (wake)
        consumers_.notify_all();
    if (to_signal)
        signal_event_(to_signal);
}

void ChannelFile::mark_vanished()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        vanished_ = true;
    }
    consumers_.notify_all();
    task_.notify_all();
}

void ChannelFile::drop_received()
{
    // The transport forgets what it fetched ahead first: then only the transfer the task
    // is in may still bring bytes from before the purge, and waiting for it below catches
    // those. The other way round, the task's next transfer could hand them out after the
    // queue was cleared. link_mutex_ keeps a close from taking the link meanwhile.
    {
        std::lock_guard<std::mutex> link_lock(link_mutex_);
        if (link_) {
            link_->discard_in();
            // The task's transfer, waited for below, need not wait on for new bytes.
            link_->cut_in();
        }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // Bytes of a transfer under way left the chip before the caller's purge or reset
    // was answered, so they go too; the caller cannot have sent anything new meanwhile.
    // A transfer the task began after this point brings only bytes fetched after the
    // discard above: it need not be waited for.
    const uint64_t drop = ++drops_;
    task_.wait(lock, [&] { return !task_in_transfer_ || transfer_drops_ >= drop || closed_; });
    queue_.clear();
    task_.notify_all();
}

} // namespace corvane::driver
