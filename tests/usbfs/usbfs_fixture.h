// A test's emulated bus and state folder. The bus lives until the process exits: the
// library's libusb context is the process's, and it must end before the bus does.
#ifndef CORVANE_TESTS_USBFS_FIXTURE_H
#define CORVANE_TESTS_USBFS_FIXTURE_H

#include "usbfs_bus.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace corvane::usbfs {

class UsbfsTest : public ::testing::Test {
protected:
    // One bus per process, as libusb's context outlives the test: CTest runs each test
    // alone; a run of several in one process runs the first and skips the others.
    void SetUp() override
    {
        if (bus_slot())
            GTEST_SKIP() << "an emulated bus was already made in this process; run one test per process";
    }

    // `chips` as corvane-sim --chip takes them. Call before anything lists USB devices.
    void start_bus(const std::vector<std::string> &chips)
    {
        char pattern[] = "/tmp/corvane-usbfs-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        state_dir() = pattern;
        std::vector<sim::ChipDescription> descriptions;
        for (const std::string &text : chips) {
            std::string error;
            std::optional<sim::ChipDescription> chip = sim::parse_chip_description(text, error);
            ASSERT_TRUE(chip) << error;
            descriptions.push_back(*chip);
        }
        std::string error;
        bus_slot() = UsbfsBus::create(descriptions, state_dir(), error);
        ASSERT_TRUE(bus_slot()) << error;
        // Registered before the library's registry is built, so it runs after its end.
        std::atexit([] {
            bus_slot().reset();
            std::error_code ignored;
            std::filesystem::remove_all(state_dir(), ignored);
        });
    }

    UsbfsBus &bus() { return *bus_slot(); }

    static std::unique_ptr<UsbfsBus> &bus_slot()
    {
        static std::unique_ptr<UsbfsBus> *slot = new std::unique_ptr<UsbfsBus>;
        return *slot;
    }
    static std::filesystem::path &state_dir()
    {
        static std::filesystem::path *path = new std::filesystem::path;
        return *path;
    }
};

} // namespace corvane::usbfs

#endif // CORVANE_TESTS_USBFS_FIXTURE_H
