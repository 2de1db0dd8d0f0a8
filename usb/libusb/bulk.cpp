// The bulk pipes of a real channel: read-ahead on IN, in-place chunks on OUT.
#include "usb/libusb/channel.h"

#include <algorithm>
#include <cstring>

namespace corvane::usb {

Status LibusbChannel::bulk_in(uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred)
{
    size_t ignored;
    if (!transferred)
        transferred = &ignored;
    *transferred = 0;
    const size_t packet = endpoints_.packet_size;
    if (!buffer || size < packet)
        return Status::invalid;

    std::unique_lock<std::mutex> lock(in_mutex_);
    // New submissions follow the caller's size, so that a smaller transfer size set
    // through the driver shortens how long a trickle of full packets waits in a transfer.
    in_length_ = std::min(slot_size(), size / packet * packet);

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    bool polled = false;
    uint64_t discards = in_discards_;
    size_t &filled = *transferred;
    for (;;) {
        if (transfers_abandoned_)
            return Status::no_device;
        if (in_discards_ != discards) {
            // What this call copied came before the discard: the caller never gets it.
            discards = in_discards_;
            filled = 0;
        }
        // Once the device is gone, what it sent before still comes out first; once the
        // channel is closing, what already came does.
        const bool device_gone = gone();
        const bool stopped = in_stopped_.load(std::memory_order_acquire);
        if (!device_gone && !stopped) {
            if (const Status status = submit_reads(); status != Status::ok)
                return status;
        }
        if (in_order_count_ == 0) {
            if (stopped && !device_gone)
                break;
            return Status::no_device;
        }
        InSlot &slot = slots_[in_order_head_];
        if (!slot.transfer->is_done()) {
            if (device_gone)
                return Status::no_device;
            if (stopped || in_cut_.exchange(false, std::memory_order_acq_rel))
                break;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            // A zero time-out still collects what has already arrived.
            if (left <= 0 && polled)
                break;
            polled = true;
            const auto wait = std::min<int64_t>(std::max<int64_t>(left, 0), longest_event_wait_ms);
            UsbTransfer &head = *slot.transfer;
            lock.unlock();
            handle_->handle_events(static_cast<unsigned>(wait), &head);
            lock.lock();
            continue;
        }
        const bool ended = hand_out_packets(slot, buffer, size, filled);
        if (slot.offset < std::min(slot.transfer->actual, slot.length))
            return Status::ok; // the caller's buffer is full; the rest waits for the next call
        const UsbResult result = slot.transfer->result;
        retire_head();
        if (result == UsbResult::stall) {
            // Nothing moves on a halted endpoint until the halt is cleared; the reads
            // queued behind the stalled one cannot have brought anything.
            cancel_reads();
            handle_->clear_halt(endpoints_.in);
        }
        if (result != UsbResult::ok && result != UsbResult::cancelled)
            return fail(result);
        if (ended || filled == size)
            return Status::ok;
    }
    return filled > 0 ? Status::ok : Status::timeout;
}

void LibusbChannel::discard_in()
{
    std::lock_guard<std::mutex> lock(in_mutex_);
    drop_read_ahead();
}

void LibusbChannel::stop_in()
{
    in_stopped_.store(true, std::memory_order_release);
    handle_->interrupt_events();
}

void LibusbChannel::cut_in()
{
    in_cut_.store(true, std::memory_order_release);
    handle_->interrupt_events();
}

size_t LibusbChannel::slot_size() const
{
    const size_t packet = endpoints_.packet_size;
    return std::max<size_t>(in_slot_capacity / packet, 1) * packet;
}

Status LibusbChannel::submit_reads()
{
    // Slots are submitted and retired in ring order, so the ring position after the
    // newest submission is always the free slot to submit next.
    while (in_order_count_ < in_slot_count) {
        InSlot &slot = slots_[(in_order_head_ + in_order_count_) % in_slot_count];
        slot.length = in_length_;
        slot.offset = 0;
        slot.transfer->mark_submitted();
        const UsbResult result = slot.transfer->submit(slot.buffer, slot.length);
        if (result != UsbResult::ok) {
            slot.transfer->complete(result, 0);
            // With reads in flight the caller gets their data first; a lasting failure
            // shows in their completions or in the next submission.
            if (in_order_count_ > 0)
                return Status::ok;
            return fail(result);
        }
        ++in_order_count_;
    }
    return Status::ok;
}

bool LibusbChannel::hand_out_packets(InSlot &slot, uint8_t *buffer, size_t size, size_t &filled) const
{
    const size_t packet = endpoints_.packet_size;
    const size_t actual = std::min(slot.transfer->actual, slot.length);
    while (slot.offset < actual) {
        const size_t length = std::min(packet, actual - slot.offset);
        if (size - filled < length)
            return false;
        std::memcpy(buffer + filled, slot.buffer + slot.offset, length);
        filled += length;
        slot.offset += length;
        if (length < packet)
            return true; // a short packet ends the chip's transfer
    }
    // A transfer that stopped before its length without a short data packet ended with a
    // zero-length one; that ends the chip's transfer too, once something was handed out.
    return slot.transfer->result == UsbResult::ok && actual < slot.length && filled > 0;
}

void LibusbChannel::retire_head()
{
    in_order_head_ = (in_order_head_ + 1) % in_slot_count;
    --in_order_count_;
}

void LibusbChannel::cancel_reads()
{
    for (size_t i = 0; i < in_order_count_; ++i) {
        UsbTransfer &transfer = *slots_[(in_order_head_ + i) % in_slot_count].transfer;
        if (!transfer.is_done())
            transfer.cancel();
    }
    const Clock::time_point now = Clock::now();
    for (size_t i = 0; i < in_order_count_; ++i) {
        UsbTransfer &transfer = *slots_[(in_order_head_ + i) % in_slot_count].transfer;
        if (!wait_for(transfer, now)) {
            transfers_abandoned_ = true;
            mark_gone();
            return;
        }
    }
    in_order_count_ = 0;
}

void LibusbChannel::drop_read_ahead()
{
    if (transfers_abandoned_)
        return;
    cancel_reads();
    ++in_discards_;
}

Status LibusbChannel::bulk_out(const uint8_t *data, size_t size, unsigned timeout_ms, size_t *transferred)
{
    size_t ignored;
    if (!transferred)
        transferred = &ignored;
    *transferred = 0;
    if (size > 0 && !data)
        return Status::invalid;

    std::lock_guard<std::mutex> lock(out_mutex_);
    if (gone() || transfers_abandoned_)
        return Status::no_device;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (*transferred < size) {
        if (Clock::now() >= deadline)
            return Status::timeout;
        const size_t chunk = std::min(size - *transferred, out_chunk);
        UsbTransfer &transfer = *out_transfer_;
        transfer.mark_submitted();
        // The library only reads an OUT buffer; it takes a non-const one for both directions.
        const UsbResult submitted = transfer.submit(const_cast<uint8_t *>(data + *transferred), chunk);
        if (submitted != UsbResult::ok) {
            transfer.complete(submitted, 0);
            return fail(submitted);
        }
        if (!wait_for(transfer, deadline)) {
            transfers_abandoned_ = true;
            mark_gone();
            return Status::no_device;
        }
        *transferred += std::min(transfer.actual, chunk);
        if (transfer.result == UsbResult::cancelled)
            return Status::timeout;
        if (transfer.result == UsbResult::stall)
            handle_->clear_halt(endpoints_.out);
        if (transfer.result != UsbResult::ok)
            return fail(transfer.result);
    }
    return Status::ok;
}

} // namespace corvane::usb
