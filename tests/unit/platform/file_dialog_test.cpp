// The file chooser behind "-w": which way it asks, what it hands back, what it refuses.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvane::platform_test {
namespace {

namespace fs = std::filesystem;

// The loader's filter list: two pairs, then the empty string that ends it.
constexpr char loader_filters[] = "Images (*.z64, *.bin, *.rom,)\0*.bin;*.z64;*.rom;\0All Files\0*.*;\0";

// Sets or clears an environment variable for one test and puts it back afterwards.
class EnvironmentSetting {
public:
    EnvironmentSetting(const char *name, const char *value) : name_(name)
    {
        if (const char *old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvironmentSetting()
    {
        if (old_)
            setenv(name_.c_str(), old_->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Puts `fd` in the place of standard input for one test.
class StandardInput {
public:
    explicit StandardInput(int fd) : saved_(dup(STDIN_FILENO))
    {
        dup2(fd, STDIN_FILENO);
        clearerr(stdin);
    }
    ~StandardInput()
    {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
        clearerr(stdin);
    }

private:
    int saved_;
};

class FileDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("corvane-dialog-" + std::to_string(getpid()));
        fs::create_directories(folder_);
        std::strcpy(path_, "/old/choice.bin");
        std::strcpy(title_, "untouched");
        ofn_.lStructSize = sizeof ofn_;
        ofn_.lpstrFilter = loader_filters;
        ofn_.lpstrFile = path_;
        ofn_.nMaxFile = sizeof path_;
        ofn_.lpstrFileTitle = title_;
        ofn_.nMaxFileTitle = sizeof title_;
        ofn_.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_ENABLEHOOK;
    }
    void TearDown() override { fs::remove_all(folder_); }

    // A stand-in chooser program that records its arguments and prints `answer`.
    void install_chooser(const char *program, const std::string &answer, int exit_status)
    {
        const fs::path script = folder_ / program;
        std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '"
                              << (folder_ / "arguments").string() << "'\nprintf '%s\\n' '" << answer << "'\nexit "
                              << exit_status << "\n";
        fs::permissions(script, fs::perms::owner_all);
    }

    std::vector<std::string> recorded_arguments()
    {
        std::vector<std::string> lines;
        std::ifstream in(folder_ / "arguments");
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    bool contains(const std::vector<std::string> &lines, const std::string &wanted)
    {
        return std::find(lines.begin(), lines.end(), wanted) != lines.end();
    }

    fs::path folder_;
    char path_[64] = {};
    char title_[16] = {};
    OPENFILENAMEA ofn_{};
};

TEST_F(FileDialog, NoDisplayAndNoTerminalMeansNoChoice)
{
    EnvironmentSetting display("DISPLAY", nullptr), wayland("WAYLAND_DISPLAY", nullptr);
    const int nothing = open("/dev/null", O_RDONLY);
    StandardInput input(nothing);
    close(nothing);
    EXPECT_FALSE(GetOpenFileNameA(&ofn_));
    EXPECT_STREQ(path_, "/old/choice.bin");
    EXPECT_STREQ(title_, "untouched");
}

TEST_F(FileDialog, GraphicalChooserGetsTheFiltersAndHandsBackItsChoice)
{
    EnvironmentSetting display("DISPLAY", ":7"), path("PATH", folder_.c_str());
    install_chooser("zenity", "/data/roms/Game One.z64", 0);
    ASSERT_TRUE(GetOpenFileNameA(&ofn_));
    EXPECT_STREQ(path_, "/data/roms/Game One.z64");
    EXPECT_STREQ(title_, "Game One.z64");
    EXPECT_EQ(ofn_.nFileOffset, 11);
    EXPECT_EQ(ofn_.nFileExtension, 20);

    const std::vector<std::string> arguments = recorded_arguments();
    EXPECT_TRUE(contains(arguments, "--file-selection"));
    EXPECT_TRUE(contains(arguments, "--filename=/old/choice.bin"));
    EXPECT_TRUE(contains(arguments, "--file-filter=Images (*.z64, *.bin, *.rom,) | *.bin *.z64 *.rom"));
    EXPECT_TRUE(contains(arguments, "--file-filter=All Files | *"));
}

TEST_F(FileDialog, CancelledOrOversizedChoicesLeaveTheBufferAlone)
{
    struct Case {
        const char *answer;
        int exit_status;
    };
    const std::string too_long = "/" + std::string(sizeof path_ - 1, 'n'); // no room for the NUL
    for (const Case &c : {Case{"/picked/but/cancelled.z64", 1}, Case{"", 0}, Case{too_long.c_str(), 0}}) {
        EnvironmentSetting display("DISPLAY", ":7"), path("PATH", folder_.c_str());
        install_chooser("zenity", c.answer, c.exit_status);
        EXPECT_FALSE(GetOpenFileNameA(&ofn_)) << c.answer;
        EXPECT_STREQ(path_, "/old/choice.bin");
        EXPECT_STREQ(title_, "untouched");
    }
    // A path that just fits, with a title buffer too small for the name, is cut there.
    const std::string fits = "/" + std::string(sizeof path_ - 2, 'f');
    EnvironmentSetting display("DISPLAY", ":7"), path("PATH", folder_.c_str());
    install_chooser("zenity", fits, 0);
    ASSERT_TRUE(GetOpenFileNameA(&ofn_));
    EXPECT_EQ(std::string(path_), fits);
    EXPECT_EQ(std::string(title_), fits.substr(1, sizeof title_ - 1));
}

TEST_F(FileDialog, TerminalIsAskedWithoutADisplay)
{
    EnvironmentSetting display("DISPLAY", nullptr), wayland("WAYLAND_DISPLAY", nullptr);
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    const int user_side = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(user_side, 0);
    {
        StandardInput input(user_side);
        // Appended piece by piece: GCC 12's optimiser takes `"'" + string` (an insert at the
        // front) for an overlapping copy (a false -Wrestrict).
        std::string typed = "'";
        typed += (folder_ / "dropped file.rom").string();
        typed += "'\n\n";
        ASSERT_EQ(write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        ASSERT_TRUE(GetOpenFileNameA(&ofn_));
        EXPECT_EQ(std::string(path_), (folder_ / "dropped file.rom").string());
        EXPECT_STREQ(title_, "dropped file.ro");
        // An empty line cancels.
        std::strcpy(path_, "/kept");
        EXPECT_FALSE(GetOpenFileNameA(&ofn_));
        EXPECT_STREQ(path_, "/kept");
    }
    close(user_side);
    close(terminal);
}

} // namespace
} // namespace corvane::platform_test
