// A scripted stand-in for libusb below the real-hardware transport: devices described by
// their descriptors, strings and kernel-driver state; IN data as canned packets; OUT data
// collected; every claim, detach and reattach written to a log the tests read.
//
// Transfers behave as libusb's do: submitted, then completed inside handle_events()
// (IN in submission order, a short packet ending one), cancelled on request, and ended
// with no_device when the device is unplugged.
#ifndef CORVANE_TESTS_UNIT_USB_FAKE_USB_LIBRARY_H
#define CORVANE_TESTS_UNIT_USB_FAKE_USB_LIBRARY_H

#include "usb/libusb/seam.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace corvane::testing {

// What an IN endpoint sends next: a packet as the chip sends it (status bytes included),
// or the device leaving the bus at that point.
struct InStep {
    std::vector<uint8_t> packet;
    bool unplug = false;
    bool stall = false; // the endpoint halts here
};

struct FakeUsbDevice {
    usb::DeviceRecord record;
    std::map<uint8_t, std::string> strings;
    std::vector<bool> kernel_driver_bound; // per interface
    std::vector<bool> claimed_elsewhere;   // per interface: another program holds it
    bool open_refused = false;             // no permission on the device node
    bool kernel_driver_calls_unsupported = false;
    bool present = true;
    std::map<uint8_t, std::deque<InStep>> in_steps;       // by IN endpoint address
    std::map<uint8_t, std::vector<uint8_t>> received;     // by OUT endpoint address
    size_t out_room = std::numeric_limits<size_t>::max(); // OUT bytes taken before it stops taking
    std::optional<size_t> unplug_after_out;               // leaves the bus once this many went out
    bool out_stalls = false;
    std::map<uint8_t, bool> halted; // by endpoint: stalls until cleared
    usb::UsbResult reset_result = usb::UsbResult::ok;
    std::vector<usb::ControlSetup> control_requests;
    std::map<uint8_t, std::vector<uint8_t>> control_answers; // by bRequest
    std::vector<bool> claimed;                               // per interface, by us
};

// A high-speed (or full-speed with `packet` 64) chip of `channels` interfaces with the
// usual endpoints, its serial driver bound to each interface.
FakeUsbDevice make_fake_chip(uint8_t bus, std::vector<uint8_t> ports, uint8_t channels = 2, uint16_t packet = 512,
                             uint16_t bcd_device = 0x0700);

class FakeUsbLibrary final : public usb::UsbLibrary, public std::enable_shared_from_this<FakeUsbLibrary> {
public:
    // Adds a device; its index stays valid for the other calls.
    size_t add(FakeUsbDevice device);
    FakeUsbDevice &device(size_t index) { return *devices_.at(index); }

    // Queues packets for the IN endpoint of `channel` (1 = A) of a device.
    void queue_in(size_t index, unsigned channel, const std::vector<std::vector<uint8_t>> &packets);
    void queue_unplug(size_t index, unsigned channel);
    void queue_stall(size_t index, unsigned channel);
    // The device leaves the bus now: transfers under way end with no_device.
    void unplug(size_t index);

    usb::UsbResult list(std::vector<usb::DeviceRecord> &devices) override;
    usb::UsbResult open(const usb::DeviceRecord &device, std::unique_ptr<usb::UsbHandle> &handle) override;

    // What happened, one entry a call: "open 1-2", "detach 0", "claim 1", "release 1", "attach 1", "reset".
    std::vector<std::string> log() const;
    size_t opens() const;
    size_t most_in_flight(uint8_t endpoint) const;
    std::vector<size_t> submitted_lengths(uint8_t endpoint) const;
    size_t in_flight(uint8_t endpoint) const;

    // The parts the fake handles and transfers reach (the library's lock held by them).
    class Transfer;
    class Handle;
    std::mutex &lock() const { return mutex_; }
    void note(std::string entry) { log_.push_back(std::move(entry)); }
    usb::UsbResult submit(Transfer &transfer);
    bool progress(); // completes what can be completed; true when something was

private:
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<FakeUsbDevice>> devices_;
    std::vector<std::string> log_;
    std::vector<Transfer *> pending_;
    std::map<uint8_t, size_t> most_in_flight_;
    std::map<uint8_t, std::vector<size_t>> submitted_lengths_;
    size_t opens_ = 0;
};

// A chip packet: the two status bytes, then `data_bytes` bytes counting up from `first`.
std::vector<uint8_t> chip_packet(size_t data_bytes, uint8_t modem = 0x01, uint8_t line = 0x60, uint8_t first = 0);

} // namespace corvane::testing

#endif // CORVANE_TESTS_UNIT_USB_FAKE_USB_LIBRARY_H
