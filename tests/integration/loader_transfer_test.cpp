// SDRAM loads and dumps end to end: what lands in the cartridge's SDRAM, what comes
// back into the dump file, and what the console shows on the way.
#include "loader_session.h"

#include <gmock/gmock.h>

#include <algorithm>
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
    EXPECT_EQ(read_bytes(state_file("sdram.bin"), 0, 0x100),
              std::vector<uint8_t>(first.begin(), first.begin() + 0x100));
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
    // A whole chunk fails as it is written; 0x100 bytes stay buffered until the close.
    for (const char *count : {"80000", "100"}) {
        ProgramResult result = run_loader({"-d", "/dev/full", count});
        EXPECT_EQ(result.exit_status, LOADER_FAILED) << count;
        EXPECT_THAT(result.out, ::testing::EndsWith("\n *** Couldn't write the file\n" + fail_block(2))) << count;
        EXPECT_THAT(result.out, ::testing::Not(HasSubstr(" - Done"))) << count;
    }
}

// .v64 and .n64 images go to SDRAM offset 0 in the cartridge's big-endian order; an
// image of part words, and any image at another offset, go as they are.
TEST_F(LoaderTransfer, OtherByteOrdersAreTurnedToBigEndianAtOffsetZero)
{
    std::vector<uint8_t> z64 = pattern_bytes(0x80000 + 0x40, 70);
    const uint8_t signature[] = {0x80, 0x37, 0x12, 0x40};
    std::copy(std::begin(signature), std::end(signature), z64.begin());
    std::vector<uint8_t> v64 = z64;
    for (size_t at = 0; at < v64.size(); at += 2)
        std::swap(v64[at], v64[at + 1]);
    std::vector<uint8_t> n64 = z64;
    for (size_t at = 0; at < n64.size(); at += 4)
        std::reverse(n64.begin() + static_cast<long>(at), n64.begin() + static_cast<long>(at) + 4);

    const std::string v64_line = " - Image in byte-swapped order (.v64): sent in big-endian order (.z64)\n";
    const std::string n64_line = " - Image in little-endian order (.n64): sent in big-endian order (.z64)\n";
    struct Case {
        std::vector<uint8_t> file;
        uint32_t offset;
        std::vector<uint8_t> sdram;
        std::string line; // after the opening line; empty: none
    };
    const Case cases[] = {
        {v64, 0, z64, v64_line},
        {n64, 0, z64, n64_line},
        {std::vector<uint8_t>(v64.begin(), v64.end() - 1), 0, std::vector<uint8_t>(v64.begin(), v64.end() - 1),
         " - Image in byte-swapped order (.v64), but not whole 16-bit words: sent as it is\n"},
        {std::vector<uint8_t>(n64.begin(), n64.end() - 2), 0, std::vector<uint8_t>(n64.begin(), n64.end() - 2),
         " - Image in little-endian order (.n64), but not whole 32-bit words: sent as it is\n"},
        {n64, 0x100, n64, ""},
        {z64, 0, z64, ""},
    };
    for (const Case &c : cases) {
        write_bytes(scratch("image.z64"), c.file);
        std::vector<std::string> args = {"-l", scratch("image.z64").string()};
        if (c.offset != 0)
            args.insert(args.end(), {"-a", "100"});
        ProgramResult result = run_loader(args);
        ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
        EXPECT_TRUE(read_bytes(state_file("sdram.bin"), c.offset, c.sdram.size()) == c.sdram) << c.line;
        EXPECT_THAT(result.out, HasSubstr(" - Opening file image.z64 (" + std::to_string(c.file.size()) + " bytes)\n" +
                                          c.line + " - Writing to SDRAM at 0x"))
            << c.line;
    }
    // A dump gives back the cartridge's order.
    ProgramResult result = run_loader({"-d", scratch("dump.bin").string(), "80040"});
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_TRUE(read_bytes(scratch("dump.bin")) == z64);
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
    EXPECT_LT(seconds, 3 * 4.0 + 3.0); // three 4-second time-outs and the start-up
}

} // namespace
} // namespace corvane::testing
