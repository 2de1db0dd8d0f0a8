// Device faults in the middle of a transfer, end to end: the real loader against a
// private corvane-sim whose fault switches are flipped while the loader runs. Each fault
// must end the run with the FAIL code of the step it hit, the process must end, and the
// next run must find the device again (nothing left claimed by the dead run).
//
// To hit the middle of a transfer every time, each test waits until the first chunk has
// moved (the memories are files the simulator maps, so the test sees them fill), then
// stalls the cartridge: the loader is then certainly waiting inside a transfer when the
// fault lands, however fast the machine is.
#include "loader_session.h"

#include <gmock/gmock.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace corvane::testing {
namespace {

using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

constexpr size_t sdram_size = size_t{64} << 20;
constexpr double device_time_out = 4.0; // the loader's read and write time-outs
// Hang detection for the polls below; far beyond what a loaded machine needs.
constexpr std::chrono::seconds poll_limit{60};

bool wait_until(const std::function<bool()> &ready)
{
    auto give_up = Clock::now() + poll_limit;
    while (!ready()) {
        if (Clock::now() > give_up)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class FaultInjection : public LoaderSession {
protected:
    std::future<ProgramResult> start_loader(std::vector<std::string> args)
    {
        return std::async(std::launch::async, [this, args] { return run_loader(args, "", "C", 120); });
    }

    // The first bytes of `expected` are in the file at `offset`: the transfer is under way.
    bool landed(const std::filesystem::path &file, const std::vector<uint8_t> &expected, size_t offset = 0)
    {
        return wait_until([&] {
            return read_bytes(file, offset, 256) ==
                   std::vector<uint8_t>(expected.begin() + static_cast<long>(offset),
                                        expected.begin() + static_cast<long>(offset) + 256);
        });
    }

    // A small load that must go through: the device is found, opened and works.
    void expect_next_run_works(uint32_t seed)
    {
        std::vector<uint8_t> image = pattern_bytes(0x1001, seed);
        write_bytes(scratch("next.z64"), image);
        ProgramResult next = run_loader({"-l", scratch("next.z64").string()});
        EXPECT_EQ(next.exit_status, 0) << next.out << next.err;
        EXPECT_THAT(next.out, HasSubstr(" - Done"));
        EXPECT_EQ(read_bytes(state_file("sdram.bin"), 0, image.size()), image);
    }
};

TEST_F(FaultInjection, UnplugDuringA64MebibyteLoadFailsTheLoadStepAtOnce)
{
    start_sim();
    std::vector<uint8_t> image = pattern_bytes(sdram_size, 71);
    write_bytes(scratch("big.z64"), image);
    auto loader = start_loader({"-l", scratch("big.z64").string()});

    ASSERT_TRUE(landed(state_file("sdram.bin"), image)) << "the load never started";
    ASSERT_TRUE(sim_->send_control("stall 0 on")) << sim_->last_answer();
    auto unplugged = Clock::now();
    ASSERT_TRUE(sim_->send_control("unplug 0")) << sim_->last_answer();
    ProgramResult result = loader.get();
    double seconds = seconds_since(unplugged);

    EXPECT_EQ(result.exit_status, LOADER_FAILED) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr(fail_block(1)));
    EXPECT_THAT(result.out, ::testing::Not(HasSubstr("Timed out")));
    // An unplug ends the waiting write; it must not wait out the time-out and more.
    EXPECT_LT(seconds, device_time_out + 6.0) << "generous: start-up and a loaded machine";

    ASSERT_TRUE(sim_->send_control("stall 0 off") && sim_->send_control("plug 0")) << sim_->last_answer();
    expect_next_run_works(72);
}

TEST_F(FaultInjection, CartridgeStalledMidLoadTimesOutWithinThreeTimeOuts)
{
    start_sim();
    std::vector<uint8_t> image = pattern_bytes(sdram_size, 81);
    write_bytes(scratch("big.z64"), image);
    auto loader = start_loader({"-l", scratch("big.z64").string()});

    ASSERT_TRUE(landed(state_file("sdram.bin"), image)) << "the load never started";
    auto stalled = Clock::now();
    ASSERT_TRUE(sim_->send_control("stall 0 on")) << sim_->last_answer();
    ProgramResult result = loader.get();
    double seconds = seconds_since(stalled);

    EXPECT_EQ(result.exit_status, LOADER_FAILED) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr("\n *** Timed out\n *** Please cycle power and try again\n" + fail_block(9)));
    EXPECT_LT(seconds, 3 * device_time_out) << "the brief's bound: three time-outs, never later";

    // What the loader asks of the user: cycle the cartridge's power, then go on.
    ASSERT_TRUE(sim_->send_control("stall 0 off") && sim_->send_control("unplug 0") && sim_->send_control("plug 0"))
        << sim_->last_answer();
    expect_next_run_works(82);
}

TEST_F(FaultInjection, SimulatorKilledDuringADumpLeavesOnlyTheBytesThatArrived)
{
    // An SDRAM full of a known pattern, in a state folder that outlives the simulator.
    std::filesystem::path state = scratch("state");
    std::filesystem::create_directory(state);
    std::vector<uint8_t> sdram = pattern_bytes(sdram_size, 91);
    write_bytes(state / "sdram.bin", sdram);
    sim_ = std::make_unique<SimProcess>(std::vector<std::string>{}, state);

    auto loader = start_loader({"-d", scratch("dump.bin").string(), "4000000"});
    ASSERT_TRUE(wait_until([&] {
        return std::filesystem::exists(scratch("dump.bin")) &&
               std::filesystem::file_size(scratch("dump.bin")) >= 0x80000;
    })) << "the dump never started";
    ASSERT_TRUE(sim_->send_control("stall 0 on")) << sim_->last_answer();
    sim_->kill_hard();
    ProgramResult result = loader.get();

    EXPECT_EQ(result.exit_status, LOADER_FAILED) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr(fail_block(2)));
    // Whole chunks that arrived, each where it belongs; nothing made up after them.
    std::vector<uint8_t> dump = read_bytes(scratch("dump.bin"));
    ASSERT_GE(dump.size(), 0x80000u);
    ASSERT_LT(dump.size(), sdram.size());
    EXPECT_TRUE(std::equal(dump.begin(), dump.end(), sdram.begin())) << "the dump differs from the SDRAM";

    // A new simulator on the same state: the next run finds the cartridge and reads it.
    sim_ = std::make_unique<SimProcess>(std::vector<std::string>{}, state);
    ProgramResult next = run_loader({"-d", scratch("again.bin").string(), "1000"});
    EXPECT_EQ(next.exit_status, 0) << next.out << next.err;
    EXPECT_EQ(read_bytes(scratch("again.bin")), std::vector<uint8_t>(sdram.begin(), sdram.begin() + 0x1000));
}

} // namespace
} // namespace corvane::testing
