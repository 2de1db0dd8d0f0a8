// SDRAM loads and dumps end to end: what lands in the cartridge's SDRAM, what comes
// back into the dump file, and what the console shows on the way.
#include "loader_session.h"

#include <gmock/gmock.h>

#include <chrono>

namespace corvane::testing {
namespace {

using ::testing::HasSubstr;

std::string bar_line(int full, const std::string &full_glyph = "#", const std::string &empty_glyph = ".")
{
    std::string line = "\r   ";
    for (int cell = 0; cell < 64; ++cell)
        line += cell < full ? full_glyph : empty_glyph;
    return line;
}

const std::string wipe = "\r" + std::string(79, ' ') + "\r";

class LoaderTransfer : public LoaderSession {
protected:
    void SetUp() override
    {
        LoaderSession::SetUp();
        start_sim();
    }

    // Loads `image` at `offset` ("-a" when not 0) and checks it landed there.
    ProgramResult load(const std::vector<uint8_t> &image, uint32_t offset = 0, const std::string &locale = "C")
    {
        write_bytes(scratch("image.z64"), image);
        std::vector<std::string> args = {"-l", scratch("image.z64").string()};
        if (offset != 0) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%x", offset);
            args.insert(args.end(), {"-a", hex});
        }
        ProgramResult result = run_loader(args, "", locale);
        EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
        EXPECT_EQ(read_bytes(state_file("sdram.bin"), offset, image.size()), image);
        return result;
    }
};

TEST_F(LoaderTransfer, EmptyImageSendsNothingAndReportsNoRate)
{
    ProgramResult result = load({});
    EXPECT_THAT(after_banner(result.out),
                ::testing::MatchesRegex(" - Found Corvane at 0x[0-9a-f]+\n - Opening file image.z64 \\(0 bytes\\)\n"
                                        " - Writing to SDRAM at 0x0 \n\r {79}\r"
                                        " - Completed in [0-9]+\\.[0-9]{2} seconds \\(0\\.00 MB/sec\\)\n\n - Done\n"));
}

TEST_F(LoaderTransfer, OneMebibyteGoesInTwoChunksWithABarAfterEach)
{
    ProgramResult result = load(pattern_bytes(0x100000, 10));
    EXPECT_THAT(result.out, HasSubstr(" - Opening file image.z64 (1048576 bytes)\n - Writing to SDRAM at 0x0 \n" +
                                      bar_line(32) + bar_line(64) + wipe + " - Completed in "));
    EXPECT_THAT(result.out, ::testing::EndsWith(" MB/sec)\n\n - Done\n"));
}

TEST_F(LoaderTransfer, BarUsesBlockGlyphsOnAUtf8Console)
{
    ProgramResult result = load(pattern_bytes(0x80000, 11), 0, "C.UTF-8");
    EXPECT_THAT(result.out, HasSubstr(bar_line(64, "\u2588", "\u2591") + wipe));
}

TEST_F(LoaderTransfer, OddSizesAndOffsetsKeepEveryByte)
{
    // One byte past a chunk, and odd sizes at an even offset: the last byte of each
    // must land, and the byte after the image is only the padding's.
    for (size_t size : {size_t{0x80001}, size_t{1}, size_t{0x1001}}) {
        std::vector<uint8_t> image = pattern_bytes(size, static_cast<uint32_t>(size));
        load(image, 0x100);
    }
}

TEST_F(LoaderTransfer, LoadAtAnOffsetLeavesTheMemoryAroundItAlone)
{
    std::vector<uint8_t> first = pattern_bytes(0x400, 20);
    load(first, 0);
    std::vector<uint8_t> second = pattern_bytes(0x200, 21);
    ProgramResult result = load(second, 0x100);
    EXPECT_THAT(result.out, HasSubstr(" - Writing to SDRAM at 0x100 \n"));
    EXPECT_EQ(read_bytes(state_file("sdram.bin"), 0, 0x100), std::vector<uint8_t>(first.begin(), first.begin() + 0x100));
    EXPECT_EQ(read_bytes(state_file("sdram.bin"), 0x300, 0x100),
              std::vector<uint8_t>(first.begin() + 0x300, first.end()));
}

TEST_F(LoaderTransfer, DumpCountIsHexadecimalAndTheFileGetsExactlyThatMany)
{
    std::vector<uint8_t> image = pattern_bytes(0x100000 + 0x20, 30);
    load(image, 0);

    ProgramResult result = run_loader({"-d", scratch("dump.bin").string(), "1000", "-a", "10"});
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr(" - Opening file dump.bin (4096 bytes)\n - Dumping from SDRAM at 0x10 \n" +
                                      bar_line(64) + wipe + "\n - Done\n"));
    EXPECT_EQ(read_bytes(scratch("dump.bin")), std::vector<uint8_t>(image.begin() + 0x10, image.begin() + 0x1010));
}

TEST_F(LoaderTransfer, DumpRoundTripsAcrossChunksAndOddSizes)
{
    std::vector<uint8_t> image = pattern_bytes(0x100000 + 0x20, 31);
    load(image, 0);
    for (size_t size : {size_t{0x100000}, size_t{0x80001}, size_t{0x1001}, size_t{1}}) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%zx", size);
        ProgramResult result = run_loader({"-d", scratch("dump.bin").string(), hex});
        ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
        EXPECT_EQ(read_bytes(scratch("dump.bin")), std::vector<uint8_t>(image.begin(), image.begin() + size))
            << size << " bytes";
    }
}

// Under the USB timing model a dump announces chunks ahead of its reads; the chip holds
// those headers while the cartridge still answers, and the file keeps every byte.
class TimedLoaderTransfer : public LoaderSession {
protected:
    void SetUp() override
    {
        LoaderSession::SetUp();
        start_sim({}, {"--usb-timing"});
    }
};

TEST_F(TimedLoaderTransfer, LoadAndDumpOfSeveralChunksKeepEveryByte)
{
    std::vector<uint8_t> image = pattern_bytes(0x180001, 41);
    write_bytes(scratch("image.z64"), image);
    ProgramResult load = run_loader({"-l", scratch("image.z64").string()});
    ASSERT_EQ(load.exit_status, 0) << load.out << load.err;
    for (size_t size : {size_t{0x180001}, size_t{0x100000}}) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%zx", size);
        ProgramResult result = run_loader({"-d", scratch("dump.bin").string(), hex});
        ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
        EXPECT_THAT(result.out, HasSubstr(bar_line(size == 0x100000 ? 32 : 21) + bar_line(size == 0x100000 ? 64 : 42)));
        EXPECT_EQ(read_bytes(scratch("dump.bin")), std::vector<uint8_t>(image.begin(), image.begin() + size))
            << size << " bytes";
    }
}

TEST_F(LoaderTransfer, DumpWithoutACountCreatesAnEmptyFile)
{
    write_bytes(scratch("dump.bin"), pattern_bytes(10, 40));
    ProgramResult result = run_loader({"-d", scratch("dump.bin").string()});
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr(" - Opening file dump.bin (0 bytes)\n - Dumping from SDRAM at 0x0 \n" + wipe));
    EXPECT_TRUE(read_bytes(scratch("dump.bin")).empty());
}

TEST_F(LoaderTransfer, DumpIntoAFileThatCannotBeWrittenIsAFailure)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    ProgramResult result = run_loader({"-d", "/dev/full", "80000"});
    EXPECT_EQ(result.exit_status, LOADER_FAILED);
    EXPECT_THAT(result.out, HasSubstr("Couldn't write the file\n" + fail_block(2)));
    EXPECT_THAT(result.out, ::testing::Not(HasSubstr(" - Done")));
}

TEST_F(LoaderTransfer, StalledCartridgeTimesOutWithinThreeTimeOuts)
{
    // The cartridge is the bus's first device.
    ASSERT_TRUE(sim_->send_control("stall 0 on") || sim_->send_control("stall 1 on")) << sim_->last_answer();
    write_bytes(scratch("image.z64"), pattern_bytes(0x100000, 50));

    auto start = std::chrono::steady_clock::now();
    ProgramResult result = run_loader({"-l", scratch("image.z64").string()});
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_EQ(result.exit_status, LOADER_FAILED);
    EXPECT_THAT(result.out, HasSubstr("\n *** Timed out\n *** Please cycle power and try again\n" + fail_block(9)));
    EXPECT_LT(seconds, 3 * 4.0 + 3.0);   // three 4-second time-outs and the start-up
}

} // namespace
} // namespace corvane::testing
