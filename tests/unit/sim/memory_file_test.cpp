// A device memory kept in a file: bytes stored through the file show in the mapping at
// once and stay in the file across a reopening.
#include "sim/memory_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numeric>
#include <vector>

namespace corvane::testing {
namespace {

class MemoryFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/corvane-memory-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path dir_;
};

TEST_F(MemoryFileTest, StoredBytesShowInTheMappingAndTheFileAndSurviveReopening)
{
    constexpr size_t size = 3 * 4096;
    const std::filesystem::path path = dir_ / "memory.bin";
    std::string error;
    auto memory = sim::MemoryFile::open(path, size, 0xFF, error);
    ASSERT_TRUE(memory) << error;

    // Across a page boundary, and up to the very last byte.
    std::vector<uint8_t> middle(20), tail(7);
    std::iota(middle.begin(), middle.end(), uint8_t{1});
    std::iota(tail.begin(), tail.end(), uint8_t{0x80});
    memory->store(4090, middle);
    memory->store(size - tail.size(), tail);

    std::vector<uint8_t> expected(size, 0xFF);
    std::copy(middle.begin(), middle.end(), expected.begin() + 4090);
    std::copy(tail.begin(), tail.end(), expected.end() - static_cast<long>(tail.size()));
    EXPECT_EQ(std::vector<uint8_t>(memory->bytes().begin(), memory->bytes().end()), expected);

    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {}), expected);

    memory.reset();
    memory = sim::MemoryFile::open(path, size, 0xFF, error);
    ASSERT_TRUE(memory) << error;
    EXPECT_EQ(std::vector<uint8_t>(memory->bytes().begin(), memory->bytes().end()), expected);
}

} // namespace
} // namespace corvane::testing
