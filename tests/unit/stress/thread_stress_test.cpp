// The device library driven from several threads at once on the in-process bus: each
// worker owns a device and opens, writes, reads back, asks its EEPROM and closes it over
// and over, while others rebuild and read the device list, and two threads race to close
// one handle while a third works another. A fixed number of rounds, not a clock; the
// sanitizers (ASan here, TSan in the thread-checking build) report what goes wrong, and
// the test checks that the data and the statuses stay right.
#include "support/inproc_bus.h"

#include "ftdev.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// ft232r, the two channels of ft2232h, ft232h, ftx: five list entries, each a loopback.
const std::vector<std::string> chips = {"ft232r,serial=ST0", "ft2232h,serial=ST1", "ft232h,serial=ST2",
                                        "ftx,serial=ST3"};
constexpr uint32_t entry_count = 5;

// Hang detection only: a deadlock would otherwise stall the whole test program. The
// limit is far above what the rounds take even under ThreadSanitizer on a loaded machine.
constexpr std::chrono::seconds hang_limit{240};

// Runs every job on its own thread and ends the program loudly when they do not finish.
void run_together(std::vector<std::function<void()>> jobs)
{
    auto all = std::async(std::launch::async, [&] {
        std::vector<std::thread> threads;
        for (auto &job : jobs)
            threads.emplace_back(job);
        for (std::thread &thread : threads)
            thread.join();
    });
    if (all.wait_for(hang_limit) != std::future_status::ready) {
        std::fprintf(stderr, "threads still running after %lld s: deadlock?\n",
                     static_cast<long long>(hang_limit.count()));
        std::abort();
    }
}

// Failures collected from worker threads (gtest assertions belong on the main thread).
class Problems {
public:
    void add(const std::string &what)
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (list_.size() < 20)
            list_.push_back(what);
        ++count_;
    }
    void expect(bool good, const char *what, FtdevStatus status, unsigned round)
    {
        if (!good)
            add(std::string(what) + " gave " + std::to_string(status) + " in round " + std::to_string(round));
    }
    void report() const
    {
        for (const std::string &what : list_)
            ADD_FAILURE() << what;
        EXPECT_EQ(count_, 0u);
    }

private:
    std::mutex lock_;
    std::vector<std::string> list_;
    unsigned count_ = 0;
};

// One worker's rounds on the device at list entry `index`, which no other worker opens.
void drive_device(uint32_t index, unsigned rounds, Problems &problems)
{
    std::vector<uint8_t> sent(384), received(384);
    const std::string name = "device " + std::to_string(index) + ": ";
    FtdevStatus first_eeprom_status = 99;
    for (unsigned round = 0; round < rounds; ++round) {
        // A list being built opens each device for a moment: that is a 3, and tried again.
        FtdevHandle handle = nullptr;
        FtdevStatus status = FTDEV_DEVICE_NOT_OPENED;
        for (int attempt = 0; attempt < 100000 && status == FTDEV_DEVICE_NOT_OPENED; ++attempt) {
            status = FT_Open(index, &handle);
            if (status == FTDEV_DEVICE_NOT_OPENED)
                std::this_thread::yield();
        }
        problems.expect(status == FTDEV_OK, (name + "FT_Open").c_str(), status, round);
        if (status != FTDEV_OK)
            continue;
        status = FT_SetTimeouts(handle, 2000, 2000);
        problems.expect(status == FTDEV_OK, "FT_SetTimeouts", status, round);

        for (size_t i = 0; i < sent.size(); ++i)
            sent[i] = static_cast<uint8_t>(index * 31 + round * 7 + i);
        uint32_t moved = 0;
        status = FT_Write(handle, sent.data(), static_cast<uint32_t>(sent.size()), &moved);
        problems.expect(status == FTDEV_OK && moved == sent.size(), "FT_Write", status, round);
        std::fill(received.begin(), received.end(), 0);
        status = FT_Read(handle, received.data(), static_cast<uint32_t>(received.size()), &moved);
        problems.expect(status == FTDEV_OK && moved == received.size(), "FT_Read", status, round);
        if (received != sent)
            problems.add("device " + std::to_string(index) + ": the loopback gave other bytes in round " +
                         std::to_string(round));

        // Channel A and B of the FT2232H read one EEPROM from two threads. A blank part
        // is not programmed; whatever the answer, it is the same every round.
        char manufacturer[64], manufacturer_id[64], description[64], serial[64];
        ProgramData record{};
        record.signature_2 = FTDEV_PROGRAM_SIGNATURE_2;
        record.version = FTDEV_PROGRAM_VERSION_232H;
        status = FT_EE_ReadEx(handle, &record, manufacturer, manufacturer_id, description, serial);
        if (round == 0)
            first_eeprom_status = status;
        problems.expect(status == first_eeprom_status, (name + "FT_EE_ReadEx").c_str(), status, round);
        uint32_t user_area = 0;
        status = FT_EE_UASize(handle, &user_area);
        problems.expect(status == FTDEV_OK, "FT_EE_UASize", status, round);
        uint32_t rx = 0;
        status = FT_GetQueueStatus(handle, &rx);
        problems.expect(status == FTDEV_OK && rx == 0, "FT_GetQueueStatus", status, round);

        status = FT_Close(handle);
        problems.expect(status == FTDEV_OK, "FT_Close", status, round);
    }
}

// Rebuilds the list and reads it, node by node and whole, as other threads open and close.
void read_lists(unsigned rounds, Problems &problems)
{
    for (unsigned round = 0; round < rounds; ++round) {
        uint32_t count = 0;
        FtdevStatus status = FT_CreateDeviceInfoList(&count);
        problems.expect(status == FTDEV_OK && count == entry_count, "FT_CreateDeviceInfoList", status, round);
        for (uint32_t index = 0; index < entry_count; ++index) {
            char serial[16] = {}, description[64] = {};
            uint32_t flags = 0, type = 0, id = 0, location = 0;
            FtdevHandle handle = nullptr;
            // The other list reader may be rebuilding: then the list reads as empty (2).
            status = FT_GetDeviceInfoDetail(index, &flags, &type, &id, &location, serial, description, &handle);
            problems.expect(status == FTDEV_OK || status == FTDEV_DEVICE_NOT_FOUND, "FT_GetDeviceInfoDetail", status,
                            round);
            // A device caught half opened or half closed by a worker is listed as busy
            // and unknown, with no strings; any other node carries its serial whole.
            bool caught_between = (flags & FTDEV_NODE_OPEN) && type == FTDEV_DEVICE_UNKNOWN;
            if (status == FTDEV_OK && !caught_between && std::strncmp(serial, "ST", 2) != 0)
                problems.add(std::string("a node with a torn serial: '") + serial + "'");
        }
        FtdevDeviceNode nodes[entry_count + 2];
        count = entry_count + 2;
        status = FT_GetDeviceInfoList(nodes, &count);
        problems.expect(status == FTDEV_OK && count == entry_count, "FT_GetDeviceInfoList", status, round);
        char texts[entry_count + 1][64];
        char *pointers[entry_count + 2] = {};
        for (uint32_t i = 0; i <= entry_count; ++i)
            pointers[i] = texts[i];
        // Listing texts opens each device: one a worker holds makes it a 3.
        status = FT_ListDevices(pointers, &count, FTDEV_LIST_ALL | FTDEV_OPEN_BY_SERIAL_NUMBER);
        problems.expect(status == FTDEV_OK || status == FTDEV_DEVICE_NOT_OPENED, "FT_ListDevices", status, round);
    }
}

class ThreadStress : public ::testing::Test {
protected:
    corvane::testing::InprocBus bus{chips};
    Problems problems;
};

TEST_F(ThreadStress, WorkersOnTheirOwnDevicesWhileTheListIsRebuilt)
{
    std::vector<std::function<void()>> jobs;
    for (uint32_t index = 0; index < entry_count; ++index)
        jobs.emplace_back([this, index] { drive_device(index, 25, problems); });
    jobs.emplace_back([this] { read_lists(40, problems); });
    jobs.emplace_back([this] { read_lists(40, problems); });
    run_together(std::move(jobs));
    problems.report();

    // Nothing stays claimed: every device opens again.
    for (uint32_t index = 0; index < entry_count; ++index) {
        FtdevHandle handle = nullptr;
        ASSERT_EQ(FT_Open(index, &handle), FTDEV_OK) << "device " << index;
        EXPECT_EQ(FT_Close(handle), FTDEV_OK);
    }
}

TEST_F(ThreadStress, ListRebuildsRaceNodeReads)
{
    uint32_t count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FTDEV_OK);
    std::atomic<bool> building{true};
    std::vector<std::function<void()>> jobs;
    jobs.emplace_back([&] {
        for (unsigned round = 0; round < 150; ++round) {
            uint32_t found = 0;
            FtdevStatus status = FT_CreateDeviceInfoList(&found);
            problems.expect(status == FTDEV_OK && found == entry_count, "FT_CreateDeviceInfoList", status, round);
        }
        building = false;
    });
    for (int reader = 0; reader < 2; ++reader) {
        jobs.emplace_back([&, reader] {
            // At least 150 reads each, and on until the builder is done.
            for (unsigned round = 0; round < 150 || building; ++round) {
                char serial[16] = {}, description[64] = {};
                uint32_t index = (round + reader) % entry_count, type = 99;
                // The bounds test takes no lock, so a rebuild under way reads as an empty
                // list (2); a node that is read must be whole.
                FtdevStatus status =
                    FT_GetDeviceInfoDetail(index, nullptr, &type, nullptr, nullptr, serial, description, nullptr);
                problems.expect(status == FTDEV_OK || status == FTDEV_DEVICE_NOT_FOUND, "FT_GetDeviceInfoDetail",
                                status, round);
                if (status == FTDEV_OK && (std::strncmp(serial, "ST", 2) != 0 || description[0] == '\0'))
                    problems.add(std::string("a node read half rebuilt: '") + serial + "'");
                if (round > 100000)
                    break; // the builder is gone: its own problems say why
            }
        });
    }
    run_together(std::move(jobs));
    problems.report();
}

// Two threads close one handle while a third works a handle of another device: one close
// frees the record, the other is told the handle is not open, and the third never sees
// its own handle disturbed. (Using a handle while another thread closes it is the
// caller's error, as with any freed object: the library takes no lock on the data path.)
TEST_F(ThreadStress, HandleClosedByTwoThreadsWhileAThirdWorksAnother)
{
    for (unsigned round = 0; round < 60; ++round) {
        FtdevHandle closing = nullptr, working = nullptr;
        ASSERT_EQ(FT_Open(round % entry_count, &closing), FTDEV_OK);
        ASSERT_EQ(FT_Open((round + 1) % entry_count, &working), FTDEV_OK);
        std::atomic<int> ready{0};
        std::atomic<FtdevStatus> closes[2] = {99, 99};
        auto start_line = [&] {
            ++ready;
            while (ready < 3) {
                std::this_thread::yield();
            }
        };
        std::vector<std::function<void()>> jobs;
        for (int which = 0; which < 2; ++which)
            jobs.emplace_back([&, which] {
                start_line();
                closes[which] = FT_Close(closing);
            });
        jobs.emplace_back([&] {
            start_line();
            for (int call = 0; call < 20; ++call) {
                uint32_t rx = 0, moved = 0;
                uint8_t byte = static_cast<uint8_t>(call), back = 0;
                problems.expect(FT_Write(working, &byte, 1, &moved) == FTDEV_OK && moved == 1, "FT_Write", 0, round);
                problems.expect(FT_Read(working, &back, 1, &moved) == FTDEV_OK && back == byte, "FT_Read", 0, round);
                problems.expect(FT_GetQueueStatus(working, &rx) == FTDEV_OK, "FT_GetQueueStatus", 0, round);
            }
        });
        run_together(std::move(jobs));
        EXPECT_EQ(closes[0] + closes[1], FTDEV_OK + FTDEV_INVALID_HANDLE) << "round " << round;
        uint32_t rx = 0;
        EXPECT_EQ(FT_GetQueueStatus(closing, &rx), FTDEV_INVALID_HANDLE) << "round " << round;
        EXPECT_EQ(FT_Close(working), FTDEV_OK);
    }
    problems.report();
    for (uint32_t index = 0; index < entry_count; ++index) {
        FtdevHandle handle = nullptr;
        ASSERT_EQ(FT_Open(index, &handle), FTDEV_OK) << "device " << index << " stayed claimed";
        EXPECT_EQ(FT_Close(handle), FTDEV_OK);
    }
}

} // namespace
