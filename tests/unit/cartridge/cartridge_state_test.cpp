// The cartridge's memories as files of the state directory, and the save type.
#include "tests/unit/cartridge/cartridge_fixture.h"

#include <sys/stat.h>

namespace corvane::sim::testing {
namespace {

Bytes sdram_write(uint32_t word_address, const Bytes &data) {
    return concat({transfer_header(0x10, static_cast<uint32_t>(data.size() / 2), word_address), data});
}

using StateFiles = CartridgeTest;

TEST_F(StateFiles, MissingMemoriesAreCreatedInTheirErasedState) {
    EXPECT_EQ(std::filesystem::file_size(state_.path() / "sdram.bin"), sdram_bytes);
    EXPECT_EQ(sdram(sdram_bytes - 0x10000, 0x10000), Bytes(0x10000, 0x00));
    EXPECT_EQ(bootflash(0, bootflash_bytes + 1), Bytes(bootflash_bytes, 0xFF));
    EXPECT_EQ(fpga(0, fpga_bytes + 1), Bytes(fpga_bytes, 0xFF));
    EXPECT_FALSE(std::filesystem::exists(state_.path() / "savetype"));
    EXPECT_EQ(cartridge_->save_type(), std::nullopt);
    // No temporary file is left beside them.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(state_.path()), {}), 3);
}

TEST_F(StateFiles, ContentsOutliveTheCartridge) {
    send(sdram_write(0x100, {0xDE, 0xAD, 0xBE, 0xEF}));
    send({0x80, 0x04, 0xBE, 0xEF});
    send({0x70, 0x0A, 0, 0, 0, 1, 0, 0, 0, 5, 0x42});
    send({0xD0, 0x04, 0x05, 0x00});
    reopen();

    send({0x20, 0x0A, 0, 0, 0, 2, 0, 0, 0x01, 0x00});
    EXPECT_EQ(receive(4), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(fpga(5, 1), Bytes{0x42});
    EXPECT_EQ(cartridge_->save_type(), 5u);
}

TEST_F(StateFiles, TwoCartridgesOnOneDirectoryShareTheMemories) {
    std::string error;
    std::unique_ptr<Cartridge> other = Cartridge::open(state_.path(), error);
    ASSERT_NE(other, nullptr) << error;
    send(sdram_write(0, {1, 2, 3, 4}));

    const Bytes read = {0x20, 0x0A, 0, 0, 0, 2, 0, 0, 0, 0};
    ASSERT_EQ(other->take(read.data(), read.size()), read.size());
    Bytes answer(4);
    ASSERT_EQ(other->give(answer.data(), answer.size()), 4u);
    EXPECT_EQ(answer, (Bytes{1, 2, 3, 4}));
}

TEST_F(StateFiles, SaveTypeIsKeptAsTextAndTheLastOneWins) {
    send({0xD0, 0x04, 0x03, 0x00});
    EXPECT_EQ(read_file(state_.path() / "savetype"), (Bytes{'3', '\n'}));
    send({0xD0, 0x04, 0x00, 0x00});
    EXPECT_EQ(read_file(state_.path() / "savetype"), (Bytes{'0', '\n'}));
    EXPECT_EQ(cartridge_->save_type(), 0u);
    EXPECT_EQ(cartridge_->counters().commands, 2u);
}

TEST_F(StateFiles, SaveTypePacketsThatAreNotOneAreIgnored) {
    send({0xD0, 0x04, 0x06, 0x00});
    send({0xD0, 0x04, 0x01, 0x01});
    send({0xD0, 0x05, 0x01, 0x00});
    EXPECT_FALSE(std::filesystem::exists(state_.path() / "savetype"));
    EXPECT_EQ(cartridge_->counters().commands, 0u);
}

// A memory file of the wrong size must be refused by name, with both sizes, and left alone.
struct WrongSize {
    const char *file;
    size_t expected;
    size_t actual;
};

class WrongSizeMemory : public ::testing::TestWithParam<WrongSize> {};

TEST_P(WrongSizeMemory, IsRefusedAndLeftUntouched) {
    StateDirectory state;
    const std::filesystem::path path = state.path() / GetParam().file;
    {
        std::ofstream file(path, std::ios::binary);
        file << std::string(GetParam().actual, 'x');
    }
    std::string error;
    EXPECT_EQ(Cartridge::open(state.path(), error), nullptr);
    EXPECT_NE(error.find(path.string()), std::string::npos) << error;
    EXPECT_NE(error.find(std::to_string(GetParam().expected)), std::string::npos) << error;
    EXPECT_NE(error.find(std::to_string(GetParam().actual)), std::string::npos) << error;
    EXPECT_EQ(std::filesystem::file_size(path), GetParam().actual);
    EXPECT_EQ(read_file(path, 0, 1), Bytes{'x'});
}

INSTANTIATE_TEST_SUITE_P(Files, WrongSizeMemory,
                         ::testing::Values(WrongSize{"sdram.bin", sdram_bytes, sdram_bytes - 1},
                                           WrongSize{"sdram.bin", sdram_bytes, 1},
                                           WrongSize{"bootflash.bin", bootflash_bytes, bootflash_bytes + 1},
                                           WrongSize{"bootflash.bin", bootflash_bytes, 0x80010},
                                           WrongSize{"fpga.bin", fpga_bytes, 2 * fpga_bytes}));

class StateProblems : public ::testing::Test {
protected:
    StateDirectory state_;
};

TEST_F(StateProblems, DirectoryInPlaceOfAMemoryIsRefused) {
    std::filesystem::create_directory(state_.path() / "fpga.bin");
    std::string error;
    EXPECT_EQ(Cartridge::open(state_.path(), error), nullptr);
    EXPECT_NE(error.find("fpga.bin"), std::string::npos) << error;
}

TEST_F(StateProblems, UnreadableSaveTypeIsRefused) {
    std::ofstream(state_.path() / "savetype") << "seven\n";
    std::string error;
    EXPECT_EQ(Cartridge::open(state_.path(), error), nullptr);
    EXPECT_NE(error.find("savetype"), std::string::npos) << error;
    EXPECT_NE(error.find("seven"), std::string::npos) << error;
}

TEST_F(StateProblems, SaveTypeWrittenByHandIsRead) {
    std::ofstream(state_.path() / "savetype") << " 4";
    std::string error;
    std::unique_ptr<Cartridge> cartridge = Cartridge::open(state_.path(), error);
    ASSERT_NE(cartridge, nullptr) << error;
    EXPECT_EQ(cartridge->save_type(), 4u);
}

TEST_F(StateProblems, MissingStateDirectoryIsCreated) {
    std::string error;
    EXPECT_NE(Cartridge::open(state_.path() / "nested" / "state", error), nullptr) << error;
    EXPECT_TRUE(std::filesystem::exists(state_.path() / "nested" / "state" / "sdram.bin"));
}

} // namespace
} // namespace corvane::sim::testing
