// Bootloader and firmware updates end to end: header checks, the prompts and their
// answers, and what the cartridge's flashes hold afterwards.
#include "loader_session.h"

#include <gmock/gmock.h>

namespace corvane::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string bootloader_prompt = "\n\n * Warning: about to erase and rewrite your bootloader!!!\n"
                                      " * Be sure you have a valid file.\n"
                                      " * Continue? (y/n) ";
const std::string bootloader_unplug_prompt =
    "\n * Please ensure your cartridge is not in the N64!\n * Press enter to continue.\n";
const std::string firmware_prompt = "\n **********************************************************\n"
                                    " * Warning: about to erase and rewrite your firmware!!!\n"
                                    " * If this fails for any reason (power goes out, invalid file)\n"
                                    " * your Corvane will be rendered INOPERABLE!\n"
                                    " * \n"
                                    " * This must be the first operation performed right after\n"
                                    " * plugging in USB, and within 10 seconds or it is locked out.\n"
                                    " * Continue? (y/n) ";
const std::string invalid_header = " * Invalid header. Make sure you have the right file!\n";

std::vector<uint8_t> update_file(const std::string &header, const std::vector<uint8_t> &contents)
{
    std::vector<uint8_t> file(header.begin(), header.end());
    file.insert(file.end(), contents.begin(), contents.end());
    return file;
}

class LoaderUpdate : public LoaderSession {
protected:
    void SetUp() override
    {
        LoaderSession::SetUp();
        start_sim();
        bootflash_before_ = read_bytes(state_file("bootflash.bin"));
    }

    ProgramResult run_update(const std::string &option, const std::vector<uint8_t> &file, const std::string &input)
    {
        write_bytes(scratch("update.bin"), file);
        return run_loader({option, scratch("update.bin").string()}, input);
    }

    std::vector<uint8_t> bootflash_before_;
};

class LoaderBootloaderAnswer : public LoaderUpdate, public ::testing::WithParamInterface<std::string> {};

// "y" and Enter; or "yes" and Enter, whose "e" and "s" take the place of the two reads
// that wait for Enter, so no further Enter is needed.
TEST_P(LoaderBootloaderAnswer, RewritesTheWholeFlashFromTheFile)
{
    std::vector<uint8_t> image = pattern_bytes(0x80000, 60);
    ProgramResult result = run_update("-b", update_file("HALVERSTONE_2011", image), GetParam());
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;

    std::string expected = " - Opening file update.bin (524304 bytes)\n" + bootloader_prompt +
                           bootloader_unplug_prompt + " - Bulk erasing bootloader\n - Writing bootloader\n";
    EXPECT_THAT(result.out, HasSubstr(expected));
    EXPECT_THAT(result.out, ::testing::EndsWith("\n - Success!\n - Please unplug the USB cable and plug it back in.\n"
                                                "\n - Done\n"));
    EXPECT_EQ(read_bytes(state_file("bootflash.bin")), image);
}

INSTANTIATE_TEST_SUITE_P(Answers, LoaderBootloaderAnswer, ::testing::Values("y\n\n", "yes\n"));

TEST_F(LoaderUpdate, BootloaderRefusals)
{
    std::vector<uint8_t> image = pattern_bytes(0x80000, 61);
    struct Case {
        std::string header;
        size_t extra_bytes;
        std::string input;
        std::string expected_tail;
    };
    const Case cases[] = {
        {"HALVERSTONE-2011", 0, "y\n\n", invalid_header + fail_block(13)},
        {"halverstone_2011", 0, "y\n\n", invalid_header + fail_block(13)},
        {"HALVERSTONE_2011", 0, "Y\n\n", bootloader_prompt + fail_block(16)},
        {"HALVERSTONE_2011", 0, "", bootloader_prompt + fail_block(16)},
        {"HALVERSTONE_2011", 1, "y\n\n",
         bootloader_prompt + bootloader_unplug_prompt + " * Bootloader image is not the proper size\n" +
             fail_block(16)},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> contents = image;
        contents.resize(image.size() + c.extra_bytes);
        ProgramResult result = run_update("-b", update_file(c.header, contents), c.input);
        EXPECT_EQ(result.exit_status, LOADER_FAILED) << c.header << " " << c.input;
        EXPECT_THAT(result.out, ::testing::EndsWith(c.expected_tail)) << c.header << " " << c.input;
        EXPECT_THAT(result.out, Not(HasSubstr("Bulk erasing")));
    }
    EXPECT_EQ(read_bytes(state_file("bootflash.bin")), bootflash_before_);
}

TEST_F(LoaderUpdate, FirmwareRefusalsLeaveTheConfigurationAlone)
{
    std::vector<uint8_t> fpga_before = read_bytes(state_file("fpga.bin"), 0, 0x1000);
    std::vector<uint8_t> configuration = pattern_bytes(0x900, 62);
    struct Case {
        std::string header;
        std::string input;
        std::string expected_tail;
    };
    const Case cases[] = {
        {"HALVERSTONE_2011", "y\n", invalid_header + fail_block(14)},
        {"HALVERSTONE-2011", "Y\n", firmware_prompt + fail_block(32)},
        {"HALVERSTONE-2011", "n\n", firmware_prompt + fail_block(32)},
        {"HALVERSTONE-2011", "", firmware_prompt + fail_block(32)},
    };
    for (const Case &c : cases) {
        ProgramResult result = run_update("-f", update_file(c.header, configuration), c.input);
        EXPECT_EQ(result.exit_status, LOADER_FAILED) << c.header << " " << c.input;
        EXPECT_THAT(result.out, ::testing::EndsWith(c.expected_tail)) << c.header << " " << c.input;
    }
    // The header alone: nothing to write, so nothing may be erased, and no prompt.
    ProgramResult empty = run_update("-f", update_file("HALVERSTONE-2011", {}), "y\n");
    EXPECT_EQ(empty.exit_status, LOADER_FAILED);
    EXPECT_THAT(empty.out, ::testing::EndsWith(" - Opening file update.bin (16 bytes)\n"
                                               " * Firmware file holds no configuration\n" +
                                               fail_block(14)));
    EXPECT_EQ(read_bytes(state_file("fpga.bin"), 0, 0x1000), fpga_before);
}

// Waits out the real nine-second erase.
TEST_F(LoaderUpdate, FirmwareErasesThenWritesTheConfigurationInSmallChunks)
{
    std::vector<uint8_t> configuration = pattern_bytes(0x900, 63);
    ProgramResult result = run_update("-f", update_file("HALVERSTONE-2011", configuration), "y\n");
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;

    std::string bars;
    for (int full : {28, 56, 64}) { // 0x400, 0x800 and 0x900 of 0x900 bytes
        bars += "\r   ";
        for (int cell = 0; cell < 64; ++cell)
            bars += cell < full ? "#" : ".";
    }
    EXPECT_THAT(result.out,
                HasSubstr(firmware_prompt + "\n - Bulk erasing config (9 seconds)\n - Writing FPGA config\n" + bars +
                          "\n - Success!\n - Please disconnect the USB cable and plug it back in.\n"
                          "\n - Done\n"));
    EXPECT_EQ(read_bytes(state_file("fpga.bin"), 0, configuration.size()), configuration);
}

} // namespace
} // namespace corvane::testing
