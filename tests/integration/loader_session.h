// Running corvane-loader end to end against a private corvane-sim: the program as users
// run it, standard input fed, the locale pinned, the cartridge's memories read back from
// the simulator's state folder.
#ifndef CORVANE_INTEGRATION_LOADER_SESSION_H
#define CORVANE_INTEGRATION_LOADER_SESSION_H

#include "sim_process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace corvane::testing {

// POSIX shows the loader's exit status -1 as 255.
constexpr int LOADER_FAILED = 255;
constexpr int LOADER_USAGE = 1;

inline std::string loader_path()
{
    return CORVANE_LOADER_PATH;
}

inline std::vector<uint8_t> read_bytes(const std::filesystem::path &path, uint64_t offset = 0,
                                       uint64_t size = UINT64_MAX)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<uint8_t> bytes;
    char byte;
    while (bytes.size() < size && in.get(byte))
        bytes.push_back(static_cast<uint8_t>(byte));
    return bytes;
}

inline void write_bytes(const std::filesystem::path &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Bytes that differ from chunk to chunk and from run to run (by `seed`), so that a chunk
// landing at the wrong address shows.
inline std::vector<uint8_t> pattern_bytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t &byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

// One test's simulator, scratch folder and loader runs.
class LoaderSession : public ::testing::Test {
protected:
    // `chips` as corvane-sim --chip takes them; empty: one cartridge.
    void start_sim(std::vector<std::string> chips = {}, std::vector<std::string> options = {})
    {
        sim_ = std::make_unique<SimProcess>(std::move(chips), std::filesystem::path{}, SimProcess::StateDir::given,
                                            std::move(options));
    }

    void SetUp() override
    {
        char pattern[] = "/tmp/corvane-loader-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        scratch_ = pattern;
    }

    void TearDown() override
    {
        sim_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }

    std::filesystem::path scratch(const std::string &name) const { return scratch_ / name; }

    // Without a simulator the loader looks at a socket that does not exist: no devices.
    ProgramResult run_loader(const std::vector<std::string> &args, const std::string &input = "",
                             const std::string &locale = "C", int timeout_seconds = 90)
    {
        std::vector<std::string> environment = {"LC_ALL=" + locale, "DISPLAY=", "WAYLAND_DISPLAY="};
        if (sim_) {
            for (const std::string &entry : sim_->environment())
                environment.push_back(entry);
        } else {
            environment.push_back("CORVANE_VBUS=" + (scratch_ / "no-simulator.sock").string());
            environment.push_back("CORVANE_USB=off");
        }
        return run_program(loader_path(), args, environment, input, timeout_seconds);
    }

    std::filesystem::path state_file(const std::string &name) const { return sim_->state_dir() / name; }

    std::unique_ptr<SimProcess> sim_;
    std::filesystem::path scratch_;
};

// The banner that starts every run; its build time varies.
inline ::testing::AssertionResult starts_with_banner(const std::string &out)
{
    const std::string head = "\n Corvane USB Loader\n----------------------\n Compiled ";
    if (out.compare(0, head.size(), head) != 0)
        return ::testing::AssertionFailure() << "no banner at the start of:\n" << out;
    // "Mon Nov 12 09:37:50 2012" and the line end.
    size_t line_end = out.find('\n', head.size());
    if (line_end != head.size() + 24)
        return ::testing::AssertionFailure() << "build time not in the 24-character form:\n" << out;
    return ::testing::AssertionSuccess();
}

inline std::string after_banner(const std::string &out)
{
    size_t compiled = out.find(" Compiled ");
    size_t line_end = compiled == std::string::npos ? std::string::npos : out.find('\n', compiled);
    return line_end == std::string::npos ? out : out.substr(line_end + 1);
}

inline std::string fail_block(int code)
{
    return "\n *** \n ***  FAIL: " + std::to_string(code) + "\n ***\n";
}

} // namespace corvane::testing

#endif // CORVANE_INTEGRATION_LOADER_SESSION_H
