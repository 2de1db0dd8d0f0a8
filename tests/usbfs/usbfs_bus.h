// An emulated USB bus behind the real libusb: umockdev shows the chips of a sim::BusModel
// in an emulated sysfs and /dev/bus/usb, and this harness answers the usbfs requests made
// on their device nodes from the chip models, as the kernel would for real chips.
//
// Create it before libusb is started in this process (or in a child, which then runs with
// child_environment()), and end every libusb context before destroying it. One per process.
//
// The requests are answered on umockdev's thread; bulk transfers, which wait on the chip
// model, run on one thread per endpoint. Each device node is a FIFO that holds one byte
// while there is nothing to reap, so that libusb's poll for a finished transfer sleeps.
#ifndef CORVANE_TESTS_USBFS_BUS_H
#define CORVANE_TESTS_USBFS_BUS_H

#include "sim/bus_model.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace corvane::usbfs {

class UsbfsBus {
public:
    // `chips` as corvane-sim --chip describes them, on ports 1, 2, ... of bus 1, their
    // memories in `state_dir`. nullptr with the reason in `error`.
    static std::unique_ptr<UsbfsBus> create(const std::vector<sim::ChipDescription> &chips,
                                            const std::filesystem::path &state_dir, std::string &error);
    ~UsbfsBus();
    UsbfsBus(const UsbfsBus &) = delete;
    UsbfsBus &operator=(const UsbfsBus &) = delete;

    sim::BusModel &model();

    // The device leaves the bus: its transfers under way end with the device gone, later
    // requests on its open files fail as for a vanished device, "remove" is announced.
    // Plugging it back enumerates it anew at the next address.
    void unplug(size_t position);
    void plug(size_t position);

    // Whether the serial driver is bound to interface `interface` of the device now.
    bool driver_bound(size_t position, unsigned interface);
    // Bulk OUT bytes the chip took so far, for tests that act in the middle of a transfer.
    uint64_t bytes_out(size_t position);

    // What a child program needs in its environment to see this bus: the preload first, and
    // the address sanitizer told not to mind that (the caller's other options kept).
    std::vector<std::string> child_environment() const;

    struct Device;
    struct Impl;

private:
    UsbfsBus();
    std::unique_ptr<Impl> impl_;
};

// "NAME=value" entries of `base` with `extra` replacing entries of the same name.
std::vector<std::string> merged_environment(const std::vector<std::string> &base,
                                            const std::vector<std::string> &extra);

} // namespace corvane::usbfs

#endif // CORVANE_TESTS_USBFS_BUS_H
