// corvane-loader end to end over the real libusb: the program as users run it, its device
// requests answered by the emulated cartridge in this process.
#include "usbfs_fixture.h"

#include "integration/loader_session.h"

#include <gmock/gmock.h>

#include <chrono>
#include <future>
#include <thread>

namespace corvane::usbfs {
namespace {

using ::testing::HasSubstr;
using testing::pattern_bytes;
using testing::read_bytes;
using testing::write_bytes;

class UsbfsLoader : public UsbfsTest {
protected:
    void SetUp() override
    {
        UsbfsTest::SetUp();
        if (IsSkipped())
            return;
        start_bus({"corvane"});
        scratch_ = state_dir() / "scratch";
        std::filesystem::create_directories(scratch_);
    }

    // A run still going at `limit_seconds` is killed, and shows as ended by SIGKILL.
    testing::ProgramResult run_loader(const std::vector<std::string> &args, int limit_seconds = 240)
    {
        std::vector<std::string> environment = bus().child_environment();
        environment.push_back("LC_ALL=C");
        return testing::run_program(CORVANE_LOADER_PATH, args, environment, "", limit_seconds);
    }

    std::filesystem::path scratch(const std::string &name) const { return scratch_ / name; }
    std::vector<uint8_t> sdram(uint64_t offset, uint64_t size) const
    {
        return read_bytes(state_dir() / "sdram.bin", offset, size);
    }

    std::filesystem::path scratch_;
};

std::string hex(size_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%zx", value);
    return text;
}

// 8 MiB and odd sizes in and out, byte for byte; the save type goes ahead of the load.
TEST_F(UsbfsLoader, LoadsAndDumpsEveryByteAndSetsTheSaveType)
{
    const std::vector<uint8_t> image = pattern_bytes(8 * 1024 * 1024 + 3, 1);
    write_bytes(scratch("big.z64"), image);
    testing::ProgramResult result = run_loader({"-s", "4", "-l", scratch("big.z64").string()});
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr(" - Setting save type to FlashRAM 1Mbit\n - Writing to SDRAM at 0x0 \n"));
    EXPECT_TRUE(sdram(0, image.size()) == image) << "the load did not land byte for byte";
    const std::vector<uint8_t> saved = read_bytes(state_dir() / "savetype");
    EXPECT_EQ(std::string(saved.begin(), saved.end()).substr(0, 1), "4");

    for (size_t size : {image.size(), size_t{0x80001}, size_t{1}}) {
        SCOPED_TRACE(size);
        result = run_loader({"-d", scratch("dump.bin").string(), hex(size)});
        ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
        EXPECT_TRUE(read_bytes(scratch("dump.bin")) == std::vector<uint8_t>(image.begin(), image.begin() + size));
    }

    const std::vector<uint8_t> odd = pattern_bytes(0x1001, 2);
    write_bytes(scratch("odd.z64"), odd);
    result = run_loader({"-l", scratch("odd.z64").string(), "-a", "100"});
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_TRUE(sdram(0x100, odd.size()) == odd);
    EXPECT_TRUE(sdram(0, 0x100) == std::vector<uint8_t>(image.begin(), image.begin() + 0x100));
}

// The cartridge leaves the bus while the load is under way: the loader ends with a FAIL
// block rather than waiting or reporting success, well within a few of its 4-second
// time-outs (a run past 60 seconds is killed and fails the exit status check).
TEST_F(UsbfsLoader, CartridgeUnpluggedMidLoadEndsInAFailBlock)
{
    write_bytes(scratch("big.z64"), pattern_bytes(32 * 1024 * 1024, 3));
    auto run = std::async(std::launch::async, [&] { return run_loader({"-l", scratch("big.z64").string()}, 60); });
    while (bus().bytes_out(0) < 4 * 1024 * 1024 &&
           run.wait_for(std::chrono::milliseconds(5)) == std::future_status::timeout) {
    }
    bus().unplug(0);
    const testing::ProgramResult result = run.get();
    EXPECT_EQ(result.exit_status, testing::LOADER_FAILED) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr("\n *** \n ***  FAIL: "));
    EXPECT_THAT(result.out, ::testing::Not(HasSubstr(" - Done")));
}

// A stalled cartridge: the loader times out and fails without closing its device, and the
// channel it took from the serial driver is given back as the process ends.
TEST_F(UsbfsLoader, StalledCartridgeTimesOutAndTheSerialPortComesBack)
{
    write_bytes(scratch("image.z64"), pattern_bytes(0x100000, 5));
    ASSERT_EQ(bus().model().set_stalled("0", true), usb::Status::ok);
    const testing::ProgramResult result = run_loader({"-l", scratch("image.z64").string()}, 60);
    EXPECT_EQ(result.exit_status, testing::LOADER_FAILED) << result.out << result.err;
    EXPECT_THAT(result.out,
                HasSubstr("\n *** Timed out\n *** Please cycle power and try again\n" + testing::fail_block(9)));
    EXPECT_TRUE(bus().driver_bound(0, 0));
}

// usbfs-run as a person runs it: its own emulated bus, the command's exit status passed on.
TEST(UsbfsRun, RunsTheLoaderAgainstItsCartridgeAndPassesTheStatusOn)
{
    char pattern[] = "/tmp/corvane-usbfs-run-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    const std::vector<uint8_t> image = pattern_bytes(0x100001, 4);
    write_bytes(dir / "game.z64", image);
    const auto usbfs_run = [&](const std::vector<std::string> &command) {
        std::vector<std::string> args = {"--state-dir", (dir / "cart").string(), "--chip", "corvane",
                                         "--",          CORVANE_LOADER_PATH};
        args.insert(args.end(), command.begin(), command.end());
        return testing::run_program(CORVANE_USBFS_RUN_PATH, args, {"LC_ALL=C", "CORVANE_USB=off"}, "", 120);
    };
    testing::ProgramResult result = usbfs_run({"-l", (dir / "game.z64").string()});
    EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr(" - Found Corvane at 0x111\n"));
    EXPECT_TRUE(read_bytes(dir / "cart" / "sdram.bin", 0, image.size()) == image);

    result = usbfs_run({"-l", (dir / "missing.z64").string()});
    EXPECT_EQ(result.exit_status, testing::LOADER_FAILED) << result.out << result.err;
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

} // namespace
} // namespace corvane::usbfs
