// corvane-sim given a state folder whose memory files have the wrong size (a copy cut
// short, a file emptied by a crash, one from another cartridge): it must refuse to start
// with a message naming the file and both sizes, and leave the file exactly as it was.
#include "sim_process.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace corvane::testing {
namespace {

using ::testing::HasSubstr;

struct WrongFile {
    const char *name;
    size_t size;
    friend void PrintTo(const WrongFile &file, std::ostream *out) { *out << file.name << " of " << file.size; }
};

class SimStateFolder : public ::testing::TestWithParam<WrongFile> {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/corvane-state-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path dir_;
};

TEST_P(SimStateFolder, MemoryFileOfTheWrongSizeIsRefusedAndLeftAlone)
{
    const std::filesystem::path file = dir_ / GetParam().name;
    std::ofstream(file, std::ios::binary) << std::string(GetParam().size, 'q');
    auto before = std::filesystem::last_write_time(file);

    // A simulator that started anyway would listen until killed: 30 s bounds that.
    ProgramResult result =
        run_program(sim_program_path(), {"--socket", (dir_ / "vbus.sock").string(), "--state-dir", dir_.string()},
                    {"CORVANE_USB=off"}, "", 30);

    EXPECT_NE(result.exit_status, 0);
    EXPECT_NE(result.exit_status, 128 + 9) << "the simulator started on a bad state folder";
    EXPECT_THAT(result.err, HasSubstr(file.string()));
    EXPECT_THAT(result.err, HasSubstr("holds " + std::to_string(GetParam().size) + " bytes"));
    EXPECT_EQ(std::filesystem::file_size(file), GetParam().size) << "the file was resized";
    EXPECT_EQ(std::filesystem::last_write_time(file), before) << "the file was written";
    EXPECT_FALSE(std::filesystem::exists(dir_ / "vbus.sock")) << "a socket was left behind";
}

INSTANTIATE_TEST_SUITE_P(Files, SimStateFolder,
                         ::testing::Values(WrongFile{"sdram.bin", 0}, WrongFile{"sdram.bin", 4096},
                                           WrongFile{"bootflash.bin", 0x80010}, WrongFile{"fpga.bin", 1}),
                         [](const auto &info) {
                             std::string name = info.param.name;
                             return name.substr(0, name.find('.')) + "_" + std::to_string(info.param.size);
                         });

} // namespace
} // namespace corvane::testing
