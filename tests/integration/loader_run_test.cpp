// The run sequence end to end: arguments, finding and opening the cartridge, the file
// step, the save type and the exit statuses.
#include "loader_session.h"

#include <gmock/gmock.h>

namespace corvane::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

const std::string usage_text =
    " - Invalid parameter(s)\n - Parameters:\n"
    "    -w\t\t\t\t Show dialog to open file\n"
    "    -l <filename.z64>\t\t Load image to offset in SDRAM\n"
    "    -d <filename.bin> <bytes>\t Dump to file, from SDRAM\n"
    "    -a <offset in hex>\t\t Set SDRAM offset (default is 0x0)\n"
    "    -s <save type>\t\t Set save type \n"
    "    \t\t\t\t   0 - None (default)\n"
    "    \t\t\t\t   1 - EEPROM 4k\n"
    "    \t\t\t\t   2 - EEPROM 16k\n"
    "    \t\t\t\t   3 - SRAM 256kbit\n"
    "    \t\t\t\t   4 - FlashRAM 1Mbit\n"
    "    \t\t\t\t   5 - SRAM 768Kbit (for Dezaemon 3D)\n"
    " - Update commands\n"
    "    -b <filename.bin>\t\t Update bootloader\n"
    "    -f <filename.bin>\t\t Update firmware (danger of bricking)\n";

class LoaderArguments : public LoaderSession {};

TEST_F(LoaderArguments, NothingToDoPrintsUsageAndExitsWithOne)
{
    const std::vector<std::vector<std::string>> cases = {{}, {"-a", "100"}, {"-l"}, {"rom.z64"}};
    for (const auto &args : cases) {
        ProgramResult result = run_loader(args);
        EXPECT_EQ(result.exit_status, LOADER_USAGE) << ::testing::PrintToString(args);
        EXPECT_TRUE(starts_with_banner(result.out));
        EXPECT_EQ(after_banner(result.out), usage_text) << ::testing::PrintToString(args);
    }
}

TEST_F(LoaderArguments, OverlongFileNameIsRefusedBeforeAnyDevice)
{
    ProgramResult result = run_loader({"-l", std::string(2048, 'n')});
    EXPECT_EQ(result.exit_status, LOADER_USAGE);
    EXPECT_THAT(after_banner(result.out), HasSubstr("File name too long (2048 characters"));
    EXPECT_THAT(result.out, ::testing::Not(HasSubstr("No devices found")));
}

TEST_F(LoaderArguments, LoadAndDumpInOneRunAreRefusedBeforeTheFileIsTouched)
{
    std::vector<uint8_t> image = pattern_bytes(100, 1);
    write_bytes(scratch("rom.z64"), image);
    ProgramResult result = run_loader({"-l", scratch("rom.z64").string(), "-d", scratch("rom.z64").string(), "10"});
    EXPECT_EQ(result.exit_status, LOADER_USAGE);
    EXPECT_THAT(after_banner(result.out), HasSubstr("cannot be combined"));
    EXPECT_EQ(read_bytes(scratch("rom.z64")), image);
}

class LoaderDevices : public LoaderSession {};

TEST_F(LoaderDevices, NoDevicesAtAll)
{
    ProgramResult result = run_loader({"-s", "1"});
    EXPECT_EQ(result.exit_status, LOADER_FAILED);
    EXPECT_EQ(after_banner(result.out), " - No devices found.\n");
}

TEST_F(LoaderDevices, NoCartridgeAmongOtherChips)
{
    // The second lists its channel A as "Corvane USB device A A": one more after the name.
    start_sim({"ft232r", "ft2232h,description=Corvane USB device A"});
    ProgramResult result = run_loader({"-s", "1"});
    EXPECT_EQ(result.exit_status, LOADER_FAILED);
    EXPECT_EQ(after_banner(result.out), " - No attached devices are Corvanes\n");
}

TEST_F(LoaderDevices, CartridgeAsTheSecondDeviceIsTheOneOpened)
{
    start_sim({"ft232r", "corvane,location=2340"});
    std::vector<uint8_t> image = pattern_bytes(0x1000, 2);
    write_bytes(scratch("rom.z64"), image);

    ProgramResult result = run_loader({"-l", scratch("rom.z64").string()});
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_THAT(after_banner(result.out), ::testing::StartsWith(" - Found Corvane at 0x2341\n"));
    EXPECT_EQ(read_bytes(state_file("sdram.bin"), 0, image.size()), image);
}

TEST_F(LoaderDevices, SaveTypeAloneOpensTheCartridgeThenFailsOnTheEmptyFileName)
{
    start_sim();
    ProgramResult result = run_loader({"-s", "1"});
    EXPECT_EQ(result.exit_status, LOADER_FAILED);
    EXPECT_THAT(after_banner(result.out),
                MatchesRegex(" - Found Corvane at 0x[0-9a-f]+\n - Opening file  \n\n \\*\\*\\* Couldn't open file\n" +
                             std::string("\n \\*\\*\\* \n \\*\\*\\*  FAIL: 11\n \\*\\*\\*\n")));
}

TEST_F(LoaderDevices, InvalidSaveTypeFailsAfterTheCartridgeAndFileWereOpened)
{
    start_sim();
    write_bytes(scratch("rom.z64"), pattern_bytes(16, 3));
    ProgramResult result = run_loader({"-s", "6", "-l", scratch("rom.z64").string()});
    EXPECT_EQ(result.exit_status, LOADER_FAILED);
    EXPECT_THAT(result.out, HasSubstr(" - Opening file rom.z64 (16 bytes)\n\n *** Invalid save specified (6)\n" +
                                      fail_block(12)));
}

TEST_F(LoaderDevices, SaveTypeReachesTheCartridgeBeforeTheLoad)
{
    start_sim();
    write_bytes(scratch("rom.z64"), pattern_bytes(64, 4));
    ProgramResult result = run_loader({"-l", scratch("rom.z64").string(), "-s", "4"});
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr(" - Opening file rom.z64 (64 bytes)\n - Setting save type to FlashRAM 1Mbit\n"
                                      " - Writing to SDRAM at 0x0 \n"));
    std::vector<uint8_t> saved = read_bytes(state_file("savetype"));
    EXPECT_EQ(std::string(saved.begin(), saved.end()).substr(0, 1), "4");
}

TEST_F(LoaderDevices, DialogWithNoChoiceLeavesTheFileNameEmpty)
{
    start_sim();
    ProgramResult result = run_loader({"-w"});
    EXPECT_EQ(result.exit_status, LOADER_FAILED);
    EXPECT_THAT(result.out, HasSubstr(" - Opening file  \n\n *** Couldn't open file\n" + fail_block(11)));
}

} // namespace
} // namespace corvane::testing
