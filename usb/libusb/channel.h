// One claimed channel (USB interface) of a real device, over the library seam.
//
// Open detaches the operating system's serial driver from this one interface when it is
// bound and claims the interface; the destructor releases it and binds the serial driver
// again, so the user's serial port comes back once the loader is done. Linux does not
// bind it again by itself when a process ends with the interface claimed, and the loader
// ends on a failure without closing its device, so channels still open when the process
// exits are given back then too.
//
// Bulk IN keeps in_slot_count transfers in flight at all times between calls (read-ahead),
// each into a buffer of this channel allocated at open; bulk_in hands out whole packets
// from the oldest completed one. Bulk OUT sends the caller's bytes in place, in
// transfers of at most out_chunk bytes.
//
// bulk_in lets go of in_mutex_ while it waits for the library, so that discard_in and
// reset_device can drop the read-ahead under it at once; it then drops what it had
// copied for its caller too.
#ifndef CORVANE_USB_LIBUSB_CHANNEL_H
#define CORVANE_USB_LIBUSB_CHANNEL_H

#include "usb/libusb/seam.h"

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace corvane::usb {

// Shared by the transport and every open channel of one device: once set (unplugged,
// re-enumerated) each channel of the device answers Status::no_device.
struct DeviceLife {
    std::atomic<bool> gone{false};
};

struct ChannelEndpoints {
    uint8_t interface = 0;
    uint8_t in = 0x81;
    uint8_t out = 0x02;
    uint16_t packet_size = 64; // bulk IN wMaxPacketSize
};

Status status_of(UsbResult result);

// What runs when the process exits: every channel still open gives its interface back.
void give_back_open_channels();

class LibusbChannel final : public Channel {
public:
    static constexpr size_t in_slot_count = 4;
    static constexpr size_t in_slot_capacity = 64 * 1024;
    static constexpr size_t out_chunk = 1024 * 1024;
    // How long a cancelled transfer may take to come back before the channel gives up on
    // it (and on the device): libusb always completes cancellations, so this only bounds
    // a broken system.
    static constexpr std::chrono::milliseconds cancel_grace{2000};
    // bulk_in looks at stop_in this often at the least, in case the library's interrupt
    // went to another thread handling its events.
    static constexpr unsigned longest_event_wait_ms = 100;

    // Detaches the kernel driver of the interface if one is bound, claims the interface
    // and allocates the channel's transfers. Status::busy when another program holds it.
    static Status open(std::unique_ptr<UsbHandle> handle, const ChannelEndpoints &endpoints,
                       std::shared_ptr<DeviceLife> life, std::unique_ptr<Channel> &out);

    ~LibusbChannel() override;

    Status control(const ControlSetup &setup, uint8_t *data, unsigned timeout_ms, uint16_t *transferred) override;
    Status bulk_out(const uint8_t *data, size_t size, unsigned timeout_ms, size_t *transferred) override;
    Status bulk_in(uint8_t *buffer, size_t size, unsigned timeout_ms, size_t *transferred) override;
    // Cancels the reads in flight and waits until they are back, dropping whatever they
    // and the completed ones hold: once it returns, the chip's next bytes can only land
    // in reads submitted after it.
    void discard_in() override;
    void stop_in() override;
    void cut_in() override;
    // libusb_reset_device; read-ahead from before the reset is dropped.
    Status reset_device() override;
    // libusb has no portable way to make a device leave the bus, so this is a port reset
    // too (the operating system reads the descriptors again); afterwards every channel of
    // the device answers Status::no_device and the next listing reads its strings anew.
    Status reenumerate() override;

    // Releases the interface and binds the serial driver again, once (destructor or exit).
    void give_back();

private:
    using Clock = std::chrono::steady_clock;

    struct InSlot {
        std::unique_ptr<UsbTransfer> transfer;
        uint8_t *buffer = nullptr;
        size_t length = 0; // asked for at submission
        size_t offset = 0; // handed out so far
    };

    LibusbChannel(std::unique_ptr<UsbHandle> handle, const ChannelEndpoints &endpoints,
                  std::shared_ptr<DeviceLife> life, bool detached);

    bool gone() const { return life_->gone.load(std::memory_order_acquire); }
    void mark_gone() { life_->gone.store(true, std::memory_order_release); }
    Status fail(UsbResult result);

    // bulk_in's parts (in_mutex_ held).
    size_t slot_size() const;
    Status submit_reads();
    bool hand_out_packets(InSlot &slot, uint8_t *buffer, size_t size, size_t &filled) const;
    void retire_head();
    void cancel_reads();
    void drop_read_ahead();

    // Handles events until `transfer` completes; cancels it at `deadline` (if any) and
    // waits for the cancellation. False when even that did not come back.
    bool wait_for(UsbTransfer &transfer, std::optional<Clock::time_point> deadline);
    void abandon_transfers();

    std::unique_ptr<UsbHandle> handle_;
    const ChannelEndpoints endpoints_;
    std::shared_ptr<DeviceLife> life_;
    const bool detached_;
    std::atomic<bool> claimed_{true};
    // Set under either pipe's mutex, read under the other.
    std::atomic<bool> transfers_abandoned_{false};
    std::atomic<bool> in_stopped_{false};
    std::atomic<bool> in_cut_{false}; // cut_in: the bulk_in under way, or the next, ends

    std::mutex in_mutex_;
    std::unique_ptr<uint8_t[]> in_memory_;
    std::array<InSlot, in_slot_count> slots_;
    // Submitted slots, oldest first (completions come in this order on one endpoint): a
    // run of in_order_count_ slots starting at in_order_head_, wrapping around.
    size_t in_order_head_ = 0;
    size_t in_order_count_ = 0;
    size_t in_length_ = 0;     // length of the next submission: what the last caller asked
    uint64_t in_discards_ = 0; // times the read-ahead was dropped

    std::mutex out_mutex_;
    std::unique_ptr<UsbTransfer> out_transfer_;
};

} // namespace corvane::usb

#endif // CORVANE_USB_LIBUSB_CHANNEL_H
