// The cartridge's memories as files of the state directory, and the save type.
#include "tests/unit/cartridge/cartridge_fixture.h"

namespace corvane::sim::testing {
namespace {

using StateFiles = CartridgeTest;

TEST_F(StateFiles, MissingMemoriesAreCreatedInTheirErasedState)
{
    EXPECT_EQ(std::filesystem::file_size(state_.path() / "sdram.bin"), sdram_bytes);
    EXPECT_EQ(memory("sdram.bin", sdram_bytes - 0x10000, 0x10000), Bytes(0x10000, 0x00));
    EXPECT_EQ(memory("bootflash.bin", 0, bootflash_bytes + 1), Bytes(bootflash_bytes, 0xFF));
    EXPECT_EQ(memory("fpga.bin", 0, fpga_bytes + 1), Bytes(fpga_bytes, 0xFF));
    EXPECT_EQ(cartridge_->save_type(), std::nullopt);
    // No save type yet, and no temporary file left beside the memories.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(state_.path()), {}), 3);
}

TEST_F(StateFiles, ContentsOutliveTheCartridgeAndAreSharedWhileItRuns)
{
    send(concat({transfer_header(0x10, 2, 0x100), {0xDE, 0xAD, 0xBE, 0xEF}}));
    send({0x80, 0x04, 0xBE, 0xEF, 0x70, 0x0A, 0, 0, 0, 1, 0, 0, 0, 5, 0x42, 0xD0, 0x04, 0x05, 0x00});

    std::string error;
    std::unique_ptr<Cartridge> other = Cartridge::open(state_.path(), error);
    ASSERT_NE(other, nullptr) << error;
    send(concat({transfer_header(0x10, 1, 0), {1, 2}}));
    const Bytes read = transfer_header(0x20, 1, 0);
    ASSERT_EQ(other->take(read.data(), read.size()), read.size());
    Bytes answer(2);
    ASSERT_EQ(other->give(answer.data(), answer.size()), 2u);
    EXPECT_EQ(answer, (Bytes{1, 2}));
    other.reset();

    reopen();
    send(transfer_header(0x20, 2, 0x100));
    EXPECT_EQ(receive(4), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(memory("fpga.bin", 5, 1), Bytes{0x42});
    EXPECT_EQ(cartridge_->save_type(), 5u);
}

TEST_F(StateFiles, SaveTypeIsKeptAsTextAndTheLastOneWins)
{
    send({0xD0, 0x04, 0x03, 0x00});
    EXPECT_EQ(memory("savetype", 0, 8), (Bytes{'3', '\n'}));
    send({0xD0, 0x04, 0x00, 0x00});
    EXPECT_EQ(memory("savetype", 0, 8), (Bytes{'0', '\n'}));
    // Not save-type packets: a type past 5, a reserved byte set, a wrong length.
    send({0xD0, 0x04, 0x06, 0x00, 0xD0, 0x04, 0x01, 0x01, 0xD0, 0x05, 0x01, 0x00});
    EXPECT_EQ(memory("savetype", 0, 8), (Bytes{'0', '\n'}));
    EXPECT_EQ(cartridge_->save_type(), 0u);
    EXPECT_EQ(cartridge_->counters().commands, 2u);
}

// A memory file of the wrong size must be refused by name, with both sizes, and left alone.
struct WrongSize {
    const char *file;
    size_t expected;
    size_t actual;
};

class WrongSizeMemory : public ::testing::TestWithParam<WrongSize> {};

TEST_P(WrongSizeMemory, IsRefusedAndLeftUntouched)
{
    StateDirectory state;
    const std::filesystem::path path = state.path() / GetParam().file;
    std::ofstream(path, std::ios::binary) << std::string(GetParam().actual, 'x');
    std::string error;
    EXPECT_EQ(Cartridge::open(state.path(), error), nullptr);
    for (const std::string &part :
         {path.string(), std::to_string(GetParam().expected), std::to_string(GetParam().actual)})
        EXPECT_NE(error.find(part), std::string::npos) << error;
    EXPECT_EQ(std::filesystem::file_size(path), GetParam().actual);
    EXPECT_EQ(read_file(path, 0, 1), Bytes{'x'});
}

INSTANTIATE_TEST_SUITE_P(Files, WrongSizeMemory,
                         ::testing::Values(WrongSize{"sdram.bin", sdram_bytes, sdram_bytes - 1},
                                           WrongSize{"bootflash.bin", bootflash_bytes, 0x80010},
                                           WrongSize{"fpga.bin", fpga_bytes, 2 * fpga_bytes}));

// The save type file as a person may have left it.
struct SaveTypeText {
    const char *text;
    std::optional<unsigned> value; // nullopt: refused
};

class SaveTypeFileContents : public ::testing::TestWithParam<SaveTypeText> {};

TEST_P(SaveTypeFileContents, IsReadOrRefusedByName)
{
    StateDirectory state;
    std::ofstream(state.path() / "savetype") << GetParam().text;
    std::string error;
    std::unique_ptr<Cartridge> cartridge = Cartridge::open(state.path(), error);
    if (GetParam().value) {
        ASSERT_NE(cartridge, nullptr) << error;
        EXPECT_EQ(cartridge->save_type(), GetParam().value);
    } else {
        EXPECT_EQ(cartridge, nullptr);
        EXPECT_NE(error.find("savetype"), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, SaveTypeFileContents,
                         ::testing::Values(SaveTypeText{"4", 4u}, SaveTypeText{" 5\r\n", 5u}, SaveTypeText{"6\n", {}},
                                           SaveTypeText{"seven\n", {}}, SaveTypeText{"12", {}}));

} // namespace
} // namespace corvane::sim::testing
