// The run sequence end to end: arguments, finding and opening the cartridge, the file
// step, the save type and the exit statuses.
#include "loader_session.h"

#include <gmock/gmock.h>

namespace corvane::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

const std::string usage_text = " - Invalid parameter(s)\n - Parameters:\n"
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

// The whole file at once (the cartridge's SDRAM is 64 MiB); a file that is not there
// reads as the one byte 0xA5, which no state file is.
std::vector<uint8_t> whole_file(const std::filesystem::path &path)
{
    if (!std::filesystem::exists(path))
        return {0xA5};
    std::vector<uint8_t> bytes(std::filesystem::file_size(path));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

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

// Values that cannot be right end the run before the cartridge or any file is touched:
// one line naming the option and the value, the usage text, exit status 1.
TEST_F(LoaderArguments, RefusedValuesTouchNeitherTheCartridgeNorTheFile)
{
    start_sim();
    const std::vector<std::string> memories = {"sdram.bin", "fpga.bin", "bootflash.bin", "savetype"};
    std::vector<std::vector<uint8_t>> before;
    for (const std::string &name : memories)
        before.push_back(whole_file(state_file(name)));
    const std::string image = scratch("img.z64").string();
    const std::string dump = scratch("x.bin").string();
    write_bytes(image, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'});
    const std::vector<uint8_t> dump_before = pattern_bytes(16, 5);
    write_bytes(dump, dump_before);

    const std::string hex_count = "needs a byte count in hexadecimal (at most 7FFFFFFF), not ";
    const std::string hex_offset = "needs an SDRAM offset in hexadecimal (at most FFFFFFFF), not ";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"-a", "1001", "-l", image},
         "-a needs an even SDRAM offset, not \"1001\": the cartridge addresses 16-bit words"},
        {{"-d", dump, "10", "-a", "3"},
         "-a needs an even SDRAM offset, not \"3\": the cartridge addresses 16-bit words"},
        {{"-d", dump, "FFFFFFFF"}, "-d " + hex_count + "\"FFFFFFFF\""},
        {{"-d", dump, "100000010"}, "-d " + hex_count + "\"100000010\""},
        {{"-d", dump, "zz"}, "-d " + hex_count + "\"zz\""},
        {{"-a", "zz", "-l", image}, "-a " + hex_offset + "\"zz\""},
        {{"-a", "-5", "-l", image}, "-a needs an SDRAM offset, not \"-5\""},
        {{"-s", "abc", "-l", image}, "-s needs a save type in decimal, not \"abc\""},
        {{"-l", image, "-s"}, "-s needs a save type"},
        {{"-d", "-l", image}, "-d needs a file name, not \"-l\""},
    };
    for (const Case &c : cases) {
        ProgramResult result = run_loader(c.args);
        EXPECT_EQ(result.exit_status, LOADER_USAGE) << ::testing::PrintToString(c.args);
        EXPECT_EQ(after_banner(result.out), " *** " + c.message + "\n" + usage_text)
            << ::testing::PrintToString(c.args);
    }
    EXPECT_EQ(read_bytes(dump), dump_before);
    for (size_t index = 0; index < memories.size(); ++index)
        EXPECT_TRUE(whole_file(state_file(memories[index])) == before[index]) << memories[index] << " changed";
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
    EXPECT_THAT(result.out,
                HasSubstr(" - Opening file rom.z64 (16 bytes)\n\n *** Invalid save specified (6)\n" + fail_block(12)));
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
